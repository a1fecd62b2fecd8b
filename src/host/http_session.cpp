#include "host/http_session.hpp"

#include <algorithm>
#include <array>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <chrono>

#include "host/auth.hpp"
#include "host/exchange.hpp"
#include "host/http_error.hpp"
#include "json_io/json_body.hpp"
#include "logging/log.hpp"
#include "host/query_string.hpp"
#include "host/socket_transfer.hpp"
#include "host/websocket_session.hpp"

namespace host {
namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;

namespace {

constexpr std::size_t kBodyLimit = 64u << 20;
constexpr std::size_t kHeaderLimit = 64u << 10;
constexpr auto kIdleTimeout = std::chrono::seconds(120);
constexpr auto kBodyTimeout = std::chrono::seconds(300);
constexpr auto kWriteTimeout = std::chrono::seconds(60);

// Hands the answer's bytes from the handler thread to the session's strand.
class SessionSink : public AnswerSink {
public:
    SessionSink(std::shared_ptr<HttpSession> session, ServerContext& context)
        : session_(std::move(session)), context_(context) {}

    bool send(std::string bytes, bool last, bool wait, Leftovers leftovers,
              std::shared_ptr<const std::string> shared) override {
        auto done = wait ? std::make_shared<std::promise<bool>>() : nullptr;
        auto written = done ? done->get_future() : std::future<bool>();
        session_->send({std::move(bytes), std::move(shared), last, done}, std::move(leftovers));
        if (!wait) return true;
        // A stopping server stops waiting for a client that no longer gets served.
        while (written.wait_for(std::chrono::milliseconds(200)) != std::future_status::ready) {
            if (context_.stopping) return false;
        }
        return written.get();
    }

    void abort() override { session_->abort(); }

private:
    std::shared_ptr<HttpSession> session_;
    ServerContext& context_;
};

void run_handler(ServerContext& context, Exchange& exchange, const RouteMatch& match) {
    const Request& request = exchange.request();
    try {
        auto handler = match.route->make(exchange);
        if (request.method == "POST") {
            handler->post(match.path_args);
        } else {
            handler->get(match.path_args);
        }
        if (!exchange.finished()) exchange.finish(std::string_view());
        return;
    } catch (const HTTPError& error) {
        exchange.fail(error.status(), {{"message", error.message()}, {"reason", nullptr}});
    } catch (const StreamClosed& error) {
        logging::server_log().info(request.method + " " + request.path + ": client went away");
        exchange.fail(500, nullptr);
    } catch (const std::exception& error) {
        logging::server_log().error(request.method + " " + request.path + ": " + error.what());
        exchange.fail(500, {{"message", "Unhandled error"}, {"reason", error.what()}});
    }
    (void)context;
}

}  // namespace

HttpSession::HttpSession(net::ip::tcp::socket&& socket, ServerContext& context)
    : stream_(std::move(socket)), context_(context) {
    // Large pipeline bodies arrive in few reads only when the buffer has room up front.
    buffer_.reserve(64 * 1024);
}

void HttpSession::run() {
    net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->read_header(); });
}

void HttpSession::read_header() {
    parser_.emplace();
    parser_->header_limit(kHeaderLimit);
    parser_->body_limit(kBodyLimit);
    match_.reset();
    request_ = Request{};
    stream_.expires_after(kIdleTimeout);
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = shared_from_this()](beast::error_code error, std::size_t) {
                                self->on_header(error);
                            });
}

void HttpSession::on_header(beast::error_code error) {
    if (error) {
        if (error == http::error::body_limit) {
            // A declared length over the limit is refused before the body is read.
            request_.keep_alive = false;
            answer_from_host(413, "Payload Too Large");
        } else if (error == http::error::header_limit) {
            request_.keep_alive = false;
            answer_from_host(431, "Request Header Fields Too Large");
        } else if (error != http::error::end_of_stream && error != beast::error::timeout &&
                   error != net::error::operation_aborted && error != net::error::eof &&
                   error != net::error::connection_reset) {
            request_.keep_alive = false;
            answer_from_host(400, "Bad Request");
        }
        return;
    }
    const auto& header = parser_->get();
    request_.method = std::string(header.method_string());
    request_.keep_alive = header.keep_alive();
    for (const auto& field : header) {
        request_.headers.emplace_back(field.name_string(), field.value());
    }
    const std::string_view target = header.target();
    const auto question = target.find('?');
    std::string_view path = target.substr(0, question);
    if (question != std::string_view::npos)
        request_.query = parse_query(target.substr(question + 1));
    // An answer given before the body was read leaves the body on the wire: close after it.
    const bool has_body = parser_->content_length().value_or(0) > 0 || parser_->chunked();
    const auto refuse = [&](int status, std::string_view message) {
        if (has_body) request_.keep_alive = false;
        answer_from_host(status, message);
    };

    if (!path.starts_with(context_.base_path) ||
        (path.size() > context_.base_path.size() && path[context_.base_path.size()] != '/')) {
        return refuse(404, "Not Found");
    }
    path.remove_prefix(context_.base_path.size());
    request_.path = std::string(path);
    match_ = context_.routes.match(path);
    if (!match_) return refuse(404, "Not Found");
    const auto& methods = match_->route->methods;
    if (std::find(methods.begin(), methods.end(), request_.method) == methods.end()) {
        return refuse(405, "Method Not Allowed");
    }
    if (match_->route->needs_token &&
        !is_authenticated(request_.query, request_.headers, context_.token)) {
        return refuse(403, "Forbidden");
    }
    if (match_->route->kind == RouteKind::websocket && !beast::websocket::is_upgrade(header)) {
        return refuse(400, "Can \"Upgrade\" only to \"WebSocket\".");
    }
    if (beast::iequals(header[http::field::expect], "100-continue")) {
        // Clients that wait for the go-ahead before sending a large body get it at once.
        auto go_ahead = std::make_shared<std::string>("HTTP/1.1 100 Continue\r\n\r\n");
        net::async_write(stream_, net::buffer(*go_ahead),
                         [go_ahead](beast::error_code, std::size_t) {});
    }
    stream_.expires_after(kBodyTimeout);
    const auto length = parser_->content_length();
    if (match_->route->kind == RouteKind::http && length && *length > 0 && !parser_->chunked()) {
        return read_body_directly(*length);
    }
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code error, std::size_t) {
                         self->on_body(error);
                     });
}

void HttpSession::on_body(beast::error_code error) {
    if (error == http::error::body_limit) {
        request_.keep_alive = false;
        return answer_from_host(413, "Payload Too Large");
    }
    if (error) return;
    stream_.expires_never();

    if (match_->route->kind == RouteKind::websocket) {
        // The socket moves on to the websocket session; this session ends here.
        auto session =
            std::make_shared<WebSocketSession>(std::move(stream_), match_->path_args.front());
        session->run(parser_->get(), std::move(buffer_));
        return;
    }

    request_.body = std::make_shared<const std::string>(std::move(parser_->get().body()));
    hand_over();
}

// A body of declared length goes from the socket straight into the request; read through
// the connection's buffer it would arrive in buffer-sized pieces and be copied once more.
void HttpSession::read_body_directly(std::size_t length) {
    auto body = std::make_shared<std::string>(length, '\0');
    request_.body = body;
    const std::size_t buffered = std::min(length, buffer_.size());
    net::buffer_copy(net::buffer(body->data(), buffered), buffer_.data());
    buffer_.consume(buffered);
    net::async_read(stream_, net::buffer(body->data() + buffered, length - buffered),
                    [self = shared_from_this()](beast::error_code error, std::size_t) {
                        if (error) return;
                        self->stream_.expires_never();
                        self->hand_over();
                    });
}

void HttpSession::hand_over() {
    if (request_.method == "POST" && request_.body && !request_.body->empty()) {
        // Parsed here, beside the network, so the handler thread only does the handler's work.
        const auto& preparer = match_->route->prepare_body;
        boost::system::error_code parse_error;
        auto parsed = json_io::parse_json_body(request_.body, parse_error, preparer.deferred_array);
        if (!parse_error) {
            request_.parsed_body.emplace(std::move(parsed));
            if (preparer.prepare) {
                try {
                    request_.prepared = preparer.prepare(*request_.parsed_body);
                } catch (const std::exception&) {
                    // Out of memory at worst: the handler does the work itself.
                }
            }
            // The handler sees the whole document, whatever the preparer did not take.
            request_.parsed_body->build_deferred();
        }
    }
    keep_alive_ = request_.keep_alive;
    auto sink = std::make_shared<SessionSink>(shared_from_this(), context_);
    net::post(context_.handlers.executor(), [&context = context_, sink, match = std::move(*match_),
                                             request = std::move(request_)]() mutable {
        Exchange exchange(std::move(request), sink, context.kernels);
        run_handler(context, exchange, match);
    });
}

void HttpSession::answer_from_host(int status, std::string_view message) {
    keep_alive_ = request_.keep_alive;
    auto sink = std::make_shared<SessionSink>(shared_from_this(), context_);
    Exchange exchange(std::move(request_), sink, context_.kernels);
    exchange.fail(status, {{"message", message}, {"reason", nullptr}});
}

void HttpSession::send(Pending part, Leftovers leftovers) {
    // The leftovers go with the task and are destroyed with it, on the network thread.
    net::post(stream_.get_executor(), [self = shared_from_this(), part = std::move(part),
                                       leftovers = std::move(leftovers)]() mutable {
        self->writes_.push_back(std::move(part));
        if (!self->writing_) self->write_next();
    });
}

void HttpSession::abort() {
    net::post(stream_.get_executor(), [self = shared_from_this()] {
        beast::error_code ignored;
        self->stream_.socket().shutdown(net::ip::tcp::socket::shutdown_both, ignored);
        self->stream_.close();
    });
}

void HttpSession::write_next() {
    writing_ = true;
    stream_.expires_after(kWriteTimeout);
    const Pending& part = writes_.front();
    const std::array<net::const_buffer, 2> buffers{
        net::buffer(part.bytes), part.shared ? net::buffer(*part.shared) : net::const_buffer()};
    net::async_write(stream_, buffers, as_much_as_the_socket_takes,
                     [self = shared_from_this()](beast::error_code error, std::size_t) {
                         self->on_write(error);
                     });
}

void HttpSession::on_write(beast::error_code error) {
    writing_ = false;
    Pending written = std::move(writes_.front());
    writes_.pop_front();
    if (written.done) written.done->set_value(!error);
    if (error) {
        for (auto& pending : writes_) {
            if (pending.done) pending.done->set_value(false);
        }
        writes_.clear();
        stream_.close();
        return;
    }
    if (!writes_.empty()) return write_next();
    if (!written.last) return stream_.expires_never();
    if (keep_alive_) return read_header();
    beast::error_code ignored;
    stream_.socket().shutdown(net::ip::tcp::socket::shutdown_send, ignored);
}

}  // namespace host
