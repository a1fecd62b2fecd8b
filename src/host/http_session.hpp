#pragma once
// One HTTP/1.1 connection, on one network loop: reads a request, checks path, method and token
// before the body, runs the handler in the handlers' turn and writes what the handler answers.
// Answers leave in request order: the next request is read once the answer before it is
// written.

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <deque>
#include <memory>
#include <optional>

#include "host/exchange.hpp"
#include "host/handler_executor.hpp"
#include "host/server_context.hpp"

namespace host {

class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(boost::asio::ip::tcp::socket&& socket, const NetworkLoop& loop,
                ServerContext& context);
    void run();

    // Called by the handler through the session's answer sink, from any thread.
    void send(AnswerPart part, Written written);
    void abort();

private:
    void read_header();
    void on_header(boost::beast::error_code error);
    void read_body();
    void on_body(boost::beast::error_code error);
    void read_body_directly(std::shared_ptr<std::string> body, std::size_t received);
    // Parses the body and runs the request's handler.
    void hand_over();
    void answer_from_host(int status, std::string_view message);
    void write_next();
    void on_write(boost::beast::error_code error, const Written& written);

    boost::beast::tcp_stream stream_;
    boost::beast::flat_buffer buffer_;
    NetworkLoop loop_;
    ServerContext& context_;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
    std::optional<RouteMatch> match_;
    Request request_;

    std::string client_;

    struct Pending {
        AnswerPart part;
        Written written;
    };
    std::deque<Pending> writes_;
    bool writing_ = false;
    bool keep_alive_ = true;
};

}  // namespace host
