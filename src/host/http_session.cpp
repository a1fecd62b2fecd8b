#include "host/http_session.hpp"

#include <algorithm>
#include <array>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/rfc7230.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <chrono>
#include <string_view>
#include <vector>

#include "base/json_io/json_body.hpp"
#include "base/logging/log.hpp"
#include "host/auth.hpp"
#include "host/exchange.hpp"
#include "host/http_error.hpp"
#include "host/query_string.hpp"
#include "host/request_log.hpp"
#include "host/socket_transfer.hpp"
#include "host/websocket_session.hpp"

namespace host {
namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;

namespace {

constexpr std::size_t kBodyLimit = 64u << 20;
constexpr std::size_t kHeaderLimit = 64u << 10;
// Idle connections, half-sent headers and bodies from which nothing arrives for this long are
// closed, so slow clients cannot hold descriptors until none is left.
constexpr auto kReadTimeout = std::chrono::seconds(120);
constexpr auto kWriteTimeout = std::chrono::seconds(60);

// Hands the answer's bytes from the handler to the session's loop.
class SessionSink : public AnswerSink {
public:
    explicit SessionSink(std::shared_ptr<HttpSession> session) : session_(std::move(session)) {}
    void send(AnswerPart part, Written written) override {
        session_->send(std::move(part), std::move(written));
    }
    void abort() override { session_->abort(); }

private:
    std::shared_ptr<HttpSession> session_;
};

void answer_failure(Exchange& exchange, const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const HTTPError& error) {
        exchange.fail(error.status(), {{"message", error.message()}, {"reason", nullptr}});
    } catch (const StreamClosed&) {
        exchange.abort("the client went away");
    } catch (const std::exception& error) {
        exchange.fail(500, {{"message", "Unhandled error"}, {"reason", error.what()}});
    }
}

// RFC 9112 6.1 and 6.3: a request's body ends where its framing says only when "chunked" is
// its one and last transfer coding; with another last coding the body's end is unknown (400),
// and codings before "chunked" are not decoded here (501). Both close the connection, so the
// bytes behind the head are never read as a request of their own (request smuggling).
int transfer_coding_refusal(const http::fields& header) {
    bool present = false;
    std::vector<std::string_view> codings;
    for (const auto& field : header) {
        if (field.name() != http::field::transfer_encoding) continue;
        present = true;
        const http::opt_token_list list{field.value()};
        if (!http::validate_list(list)) return 400;
        codings.insert(codings.end(), list.begin(), list.end());
    }
    if (!present) return 0;
    const auto is_chunked = [](std::string_view coding) {
        return beast::iequals(coding, "chunked");
    };
    if (codings.empty() || !is_chunked(codings.back()) ||
        std::count_if(codings.begin(), codings.end(), is_chunked) > 1) {
        return 400;
    }
    return codings.size() > 1 ? 501 : 0;
}

// A handler that returned without answering gets an empty 200, and the log says so: every
// handler answers, or means to answer nothing by finishing empty itself.
void finish_unanswered(Exchange& exchange) {
    if (exchange.finished()) return;
    logging::server_log().error(exchange.request().method + " " +
                                target_without_token(exchange.request().target) +
                                ": the handler ended without an answer");
    exchange.finish(std::string_view());
}

// The operation's waiting part, run as a coroutine that takes the handlers' turn between its
// waits; the handler and the exchange live as long as it does.
Task finish_waiting(std::unique_ptr<Exchange> exchange, std::unique_ptr<APIHandler> handler,
                    Task rest) {
    std::exception_ptr failure;
    try {
        co_await std::move(rest);
    } catch (...) {
        failure = std::current_exception();
    }
    handler.reset();
    if (failure) {
        answer_failure(*exchange, failure);
    } else {
        finish_unanswered(*exchange);
    }
}

// Holding the handlers' turn, on the loop of the request's connection.
void run_handler(const HandlerExecutor& waiting, std::unique_ptr<Exchange> exchange,
                 const RouteMatch& match) {
    try {
        auto handler = match.route->make(*exchange);
        if (auto rest = handler->start(match.path_args)) {
            net::co_spawn(waiting,
                          finish_waiting(std::move(exchange), std::move(handler), std::move(*rest)),
                          net::detached);
            return;
        }
        handler.reset();
        finish_unanswered(*exchange);
    } catch (...) {
        answer_failure(*exchange, std::current_exception());
    }
}

}  // namespace

HttpSession::HttpSession(net::ip::tcp::socket&& socket, const NetworkLoop& loop,
                         ServerContext& context)
    : stream_(std::move(socket)), loop_(loop), context_(context) {
    // Large pipeline bodies arrive in few reads only when the buffer has room up front.
    buffer_.reserve(64 * 1024);
    boost::system::error_code error;
    const auto peer = stream_.socket().remote_endpoint(error);
    if (!error) client_ = peer.address().to_string();
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
    request_.client = client_;
    stream_.expires_after(kReadTimeout);
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = shared_from_this()](beast::error_code error, std::size_t) {
                                self->on_header(error);
                            });
}

void HttpSession::on_header(beast::error_code error) {
    if (error) {
        if (error == http::error::partial_message) {
            // The client closed its side halfway through a header: it left, it did not err.
            logging::server_log().debug("The client " + client_ +
                                        " left in the middle of a request's header");
            return;
        }
        // What the request line named, when it was read before the fault, goes into the log.
        const auto& header = parser_->get();
        request_.method = std::string(header.method_string());
        request_.target = std::string(header.target());
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
    request_.target = std::string(header.target());
    request_.keep_alive = header.keep_alive();
    for (const auto& field : header) {
        request_.headers.emplace_back(field.name_string(), field.value());
    }
    if (const int refusal = transfer_coding_refusal(header)) {
        request_.keep_alive = false;
        return answer_from_host(refusal, refusal == 400 ? "Bad Request" : "Not Implemented");
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
    const auto length = parser_->content_length();
    if (match_->route->kind == RouteKind::http && length && *length > 0 && !parser_->chunked()) {
        // A body of declared length goes from the socket straight into the request; read
        // through the connection's buffer it would arrive in buffer-sized pieces and be
        // copied once more.
        auto body = std::make_shared<std::string>(*length, '\0');
        const std::size_t buffered = std::min(body->size(), buffer_.size());
        net::buffer_copy(net::buffer(body->data(), buffered), buffer_.data());
        buffer_.consume(buffered);
        return read_body_directly(std::move(body), buffered);
    }
    read_body();
}

void HttpSession::read_body() {
    if (parser_->is_done()) return on_body({});
    // The deadline is for each read: a large body that keeps arriving is never cut off.
    stream_.expires_after(kReadTimeout);
    http::async_read_some(stream_, buffer_, *parser_,
                          [self = shared_from_this()](beast::error_code error, std::size_t) {
                              if (error) return self->on_body(error);
                              self->read_body();
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
        log_request(request_, 101, {}, {});
        // The socket moves on to the websocket session; this session ends here.
        auto session = std::make_shared<WebSocketSession>(
            std::move(stream_), match_->path_args.front(), context_.services.channels);
        session->run(parser_->get(), std::move(buffer_));
        return;
    }

    request_.body = std::make_shared<const std::string>(std::move(parser_->get().body()));
    hand_over();
}

void HttpSession::read_body_directly(std::shared_ptr<std::string> body, std::size_t received) {
    if (received == body->size()) {
        stream_.expires_never();
        request_.body = std::move(body);
        return hand_over();
    }
    stream_.expires_after(kReadTimeout);
    char* const at = body->data() + received;
    const std::size_t left = body->size() - received;
    stream_.async_read_some(net::buffer(at, left),
                            [self = shared_from_this(), body, received](beast::error_code error,
                                                                        std::size_t n) mutable {
                                if (error) return;
                                self->read_body_directly(std::move(body), received + n);
                            });
}

void HttpSession::hand_over() {
    if (request_.method == "POST" && request_.body && !request_.body->empty()) {
        // Parsed here, before the handlers' turn is taken, so that the turn is only as long as
        // the handler's own work.
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
            if (preparer.notices_kernel_changes) context_.services.kernels.notice_changes();
        }
    }
    keep_alive_ = request_.keep_alive;
    auto exchange = std::make_unique<Exchange>(
        std::move(request_), std::make_shared<SessionSink>(shared_from_this()), context_.services);
    // On this thread: a short request costs no wake-up of another one.
    const std::lock_guard turn(context_.handler_turn);
    run_handler(HandlerExecutor(loop_, context_.handler_turn), std::move(exchange), *match_);
}

void HttpSession::answer_from_host(int status, std::string_view message) {
    keep_alive_ = request_.keep_alive;
    Exchange exchange(std::move(request_), std::make_shared<SessionSink>(shared_from_this()),
                      context_.services);
    exchange.fail(status, {{"message", message}, {"reason", nullptr}});
}

void HttpSession::send(AnswerPart part, Written written) {
    // Written once the handler gave back its turn, whatever thread it ran on; the leftovers go
    // with the part and are destroyed with it, on the session's loop.
    net::post(stream_.get_executor(), [self = shared_from_this(), part = std::move(part),
                                       written = std::move(written)]() mutable {
        self->writes_.push_back({std::move(part), std::move(written)});
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
    const AnswerPart& part = writes_.front().part;
    const std::array<net::const_buffer, 2> buffers{
        net::buffer(part.bytes), part.shared ? net::buffer(*part.shared) : net::const_buffer()};
    // The write carries the waiting handler's resumption: if the server stops before the write
    // ends, dropping the write drops the handler's coroutine with it.
    net::async_write(
        stream_, buffers, as_much_as_the_socket_takes,
        [self = shared_from_this(), written = std::move(writes_.front().written)](
            beast::error_code error, std::size_t) mutable { self->on_write(error, written); });
}

void HttpSession::on_write(beast::error_code error, const Written& written) {
    writing_ = false;
    Pending done = std::move(writes_.front());
    writes_.pop_front();
    if (written) written(!error);
    if (error) {
        for (auto& pending : writes_) {
            if (pending.written) pending.written(false);
        }
        writes_.clear();
        stream_.close();
        return;
    }
    if (!writes_.empty()) return write_next();
    if (!done.part.last) return stream_.expires_never();
    if (keep_alive_) return read_header();
    beast::error_code ignored;
    stream_.socket().shutdown(net::ip::tcp::socket::shutdown_send, ignored);
}

}  // namespace host
