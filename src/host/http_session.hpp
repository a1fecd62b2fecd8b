#pragma once
// One HTTP/1.1 connection: reads a request, checks path, method and token before the body,
// hands the request to the handler thread and writes what the handler answers.

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <deque>
#include <future>
#include <memory>
#include <optional>

#include "host/exchange.hpp"
#include "host/server_context.hpp"

namespace host {

class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(boost::asio::ip::tcp::socket&& socket, ServerContext& context);
    void run();

    // Part of an answer: bytes, then a shared text written from where it is.
    struct Pending {
        std::string bytes;
        std::shared_ptr<const std::string> shared;
        bool last;
        std::shared_ptr<std::promise<bool>> done;
    };

    // Called from the handler thread through the session's answer sink.
    void send(Pending part, Leftovers leftovers);
    void abort();

private:
    void read_header();
    void on_header(boost::beast::error_code error);
    void on_body(boost::beast::error_code error);
    void read_body_directly(std::size_t length);
    // Parses the body beside the network and passes the request to the handler thread.
    void hand_over();
    void answer_from_host(int status, std::string_view message);
    void write_next();
    void on_write(boost::beast::error_code error);

    boost::beast::tcp_stream stream_;
    boost::beast::flat_buffer buffer_;
    ServerContext& context_;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
    std::optional<RouteMatch> match_;
    Request request_;

    std::deque<Pending> writes_;
    bool writing_ = false;
    bool keep_alive_ = true;
};

}  // namespace host
