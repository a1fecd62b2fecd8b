#pragma once
// One front-end websocket connection of a kernel, framed by hand so that messages queued
// while a write is in flight leave together in one write: a busy kernel's fan-out costs one
// system call per connection per burst, not one per message.
//
// Incoming data frames are read and dropped; pings are answered and a close is echoed. A
// client that lets more than 16 MiB pile up unread is disconnected rather than allowed to grow
// the server's memory.

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/channel_registry.hpp"

namespace host {

class WebSocketSession : public Channel, public std::enable_shared_from_this<WebSocketSession> {
public:
    WebSocketSession(boost::beast::tcp_stream&& stream, std::string kernel_id,
                     ChannelRegistry& registry);
    ~WebSocketSession() override;

    // Answers the upgrade request and starts reading; a request that is not a valid
    // websocket upgrade gets 400 and the connection is closed.
    void run(const boost::beast::http::request<boost::beast::http::string_body>& upgrade,
             boost::beast::flat_buffer&& leftover);

    const std::string& kernel_id() const override { return kernel_id_; }
    void write_message(std::shared_ptr<const std::string> text) override;

private:
    void read_next();
    // Consumes the frames in the read buffer; false when the connection must end.
    bool take_frames();
    void queue_control(unsigned char opcode, std::string_view payload);
    void write_next();
    void shut();
    void close_after_close_frame();
    void drain();

    boost::beast::tcp_stream stream_;
    std::string kernel_id_;
    // The server's registry, which outlives every session.
    ChannelRegistry& registry_;
    boost::beast::flat_buffer in_;
    std::size_t skip_ = 0;           // payload bytes of a dropped frame still to arrive
    std::size_t message_bytes_ = 0;  // size of the incoming message so far

    std::deque<std::shared_ptr<const std::string>> queue_;
    std::string control_;  // pong or close frames, sent before the next messages
    std::vector<std::shared_ptr<const std::string>> in_flight_;
    std::string in_flight_control_;
    std::string headers_;
    std::size_t queued_bytes_ = 0;
    bool writing_ = false;
    bool closing_ = false;  // a close frame is queued: send it, then end
    bool closed_ = false;
};

}  // namespace host
