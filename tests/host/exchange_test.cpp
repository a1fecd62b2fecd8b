// What an answer given as shared text puts on the wire: the text itself behind the head when
// nothing went out before it, and the same bytes, framed as the answer began, when it did.

#include "host/exchange.hpp"

#include <gtest/gtest.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/server_services.hpp"

namespace {

// Keeps what the exchange hands to the network, as the client would read it.
class RecordingSink : public host::AnswerSink {
public:
    void send(host::AnswerPart part, host::Written written) override {
        wire += part.bytes;
        if (part.shared) {
            wire += *part.shared;
            shared_texts.push_back(std::move(part.shared));
        }
        ended = part.last;
        if (written) written(true);
    }
    void abort() override {}

    std::string wire;
    std::vector<std::shared_ptr<const std::string>> shared_texts;
    bool ended = false;
};

struct Answer {
    std::shared_ptr<RecordingSink> sink = std::make_shared<RecordingSink>();
    host::ServerServices services{
        [] { return host::KernelManager(std::filesystem::path("/nonexistent")); }};
    host::Exchange exchange{host::Request{}, sink, services};
};

TEST(Exchange, SharedTextAnswersWhateverWentBefore) {
    const auto text = std::make_shared<const std::string>("{\"a\": 1}");

    Answer whole;
    whole.exchange.finish(text);
    EXPECT_EQ(whole.sink->wire, "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\n{\"a\": 1}");
    ASSERT_EQ(whole.sink->shared_texts.size(), 1u);
    EXPECT_EQ(whole.sink->shared_texts.front(), text);  // written from where it is

    Answer after_write;
    after_write.exchange.write("[");
    after_write.exchange.finish(text);
    EXPECT_EQ(after_write.sink->wire, "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n[{\"a\": 1}");

    Answer after_flush;
    after_flush.exchange.write("[");
    boost::asio::io_context io;
    boost::asio::co_spawn(io, after_flush.exchange.flush(), boost::asio::detached);
    io.run();
    after_flush.exchange.finish(text);
    EXPECT_EQ(after_flush.sink->wire,
              "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\n[\r\n8\r\n{\"a\": "
              "1}\r\n0\r\n\r\n");
    EXPECT_TRUE(after_flush.sink->ended);
    EXPECT_THROW(after_flush.exchange.finish(text), std::logic_error);
}

}  // namespace
