// The floor for answers of a given size: a minimal server that reads each request and answers
// it with the same file's bytes as JSON, doing nothing else. The DAG GET benchmark runs it
// with the server's own answer, to show what this machine allows for writing that many bytes.
//
// usage: fixed_answer_tool PORT FILE [THREADS=1]

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using net::ip::tcp;

namespace {

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, const std::string& answer)
        : stream_(std::move(socket)), answer_(answer) {}

    void read() {
        parser_.emplace();
        parser_->body_limit(64 * 1024 * 1024);
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code error, std::size_t) {
                             if (!error) self->answer();
                         });
    }

private:
    void answer() {
        const auto& request = parser_->get();
        response_ = {};
        response_.version(request.version());
        response_.result(http::status::ok);
        response_.set(http::field::content_type, "application/json");
        response_.keep_alive(request.keep_alive());
        response_.body() = answer_;
        response_.prepare_payload();
        http::async_write(stream_, response_,
                          [self = shared_from_this()](beast::error_code error, std::size_t) {
                              if (!error && self->response_.keep_alive()) self->read();
                          });
    }

    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    const std::string& answer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    http::response<http::string_body> response_;
};

void accept(tcp::acceptor& acceptor, net::io_context& io, const std::string& answer) {
    acceptor.async_accept(net::make_strand(io), [&](beast::error_code error, tcp::socket socket) {
        if (!error) {
            socket.set_option(tcp::no_delay(true));
            std::make_shared<Session>(std::move(socket), answer)->read();
        }
        accept(acceptor, io, answer);
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: fixed_answer_tool PORT FILE [THREADS=1]\n";
        return 2;
    }
    std::ifstream file(argv[2], std::ios::binary);
    const std::string answer{std::istreambuf_iterator<char>(file), {}};
    const int threads = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1;

    net::io_context io{threads};
    tcp::acceptor acceptor(io);
    const tcp::endpoint endpoint{net::ip::make_address("127.0.0.1"),
                                 static_cast<unsigned short>(std::atoi(argv[1]))};
    acceptor.open(endpoint.protocol());
    acceptor.set_option(net::socket_base::reuse_address(true));
    acceptor.bind(endpoint);
    acceptor.listen();
    accept(acceptor, io, answer);
    net::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](beast::error_code, int) { io.stop(); });

    std::vector<std::thread> others;
    for (int i = 1; i < threads; ++i) others.emplace_back([&] { io.run(); });
    io.run();
    for (auto& thread : others) thread.join();
}
