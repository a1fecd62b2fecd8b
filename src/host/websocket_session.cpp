#include "host/websocket_session.hpp"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/websocket/detail/hybi13.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <chrono>
#include <cstring>

#include "base/logging/log.hpp"
#include "host/socket_transfer.hpp"

namespace host {
namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;

namespace {

constexpr std::size_t kQueueLimit = 16u << 20;
constexpr std::size_t kIncomingLimit = 1u << 20;
constexpr std::size_t kBatchBytes = 1u << 20;

// TCP keepalive of websocket connections: probes after a minute of silence, 10 s apart,
// given up on after three unanswered ones.
constexpr struct {
    int level, name, value;
} kKeepalive[] = {{SOL_SOCKET, SO_KEEPALIVE, 1},
                  {IPPROTO_TCP, TCP_KEEPIDLE, 60},
                  {IPPROTO_TCP, TCP_KEEPINTVL, 10},
                  {IPPROTO_TCP, TCP_KEEPCNT, 3}};

enum Opcode : unsigned char {
    kContinuation = 0,
    kText = 1,
    kBinary = 2,
    kClose = 8,
    kPing = 9,
    kPong = 10
};

// Server frames are never masked.
void append_frame_header(std::string& out, unsigned char opcode, std::size_t size) {
    out.push_back(static_cast<char>(0x80 | opcode));
    if (size < 126) {
        out.push_back(static_cast<char>(size));
    } else if (size <= 0xFFFF) {
        out.push_back(126);
        out.push_back(static_cast<char>(size >> 8));
        out.push_back(static_cast<char>(size));
    } else {
        out.push_back(127);
        for (int shift = 56; shift >= 0; shift -= 8)
            out.push_back(static_cast<char>(size >> shift));
    }
}

std::string close_payload(unsigned code) {
    return std::string{static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
}

}  // namespace

WebSocketSession::WebSocketSession(beast::tcp_stream&& stream, std::string kernel_id,
                                   ChannelRegistry& registry)
    : stream_(std::move(stream)), kernel_id_(std::move(kernel_id)), registry_(registry) {
    // A peer that vanished without a FIN (a laptop that slept, a dropped network) would hold
    // its registry slot forever: the kernel probes an idle connection and fails it when the
    // peer does not answer. Clients need do nothing for it. A failure to set these leaves the
    // connection as it was.
    const int fd = stream_.socket().native_handle();
    for (const auto& option : kKeepalive) {
        ::setsockopt(fd, option.level, option.name, &option.value, sizeof option.value);
    }
}

WebSocketSession::~WebSocketSession() { registry_.remove(this); }

void WebSocketSession::run(const http::request<http::string_body>& upgrade,
                           beast::flat_buffer&& leftover) {
    const auto key = upgrade[http::field::sec_websocket_key];
    auto response = std::make_shared<std::string>();
    const bool valid = beast::websocket::is_upgrade(upgrade) && key.size() == 24 &&
                       upgrade[http::field::sec_websocket_version] == "13";
    if (valid) {
        beast::websocket::detail::sec_ws_accept_type accept;
        beast::websocket::detail::make_sec_ws_accept(accept, key);
        *response =
            "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
            "Connection: Upgrade\r\nSec-WebSocket-Accept: " +
            std::string(accept.data(), accept.size()) + "\r\n\r\n";
    } else {
        const std::string body = R"({"message": "Bad websocket upgrade request", "reason": null})";
        *response =
            "HTTP/1.1 400 Bad Request\r\nContent-Type: application/json\r\n"
            "Content-Length: " +
            std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }
    in_ = std::move(leftover);
    // The connection joins the registry before its client can see the handshake answer, so a
    // message pushed right after the client connected reaches it; it waits in the queue until
    // the answer is written.
    if (valid) registry_.add(shared_from_this());
    writing_ = true;
    net::async_write(
        stream_, net::buffer(*response),
        [self = shared_from_this(), response, valid](beast::error_code error, std::size_t) {
            self->writing_ = false;
            if (error || !valid) return self->shut();
            if (!self->take_frames()) return self->shut();
            self->read_next();
            if (!self->writing_ && (!self->queue_.empty() || !self->control_.empty())) {
                self->write_next();
            }
        });
}

void WebSocketSession::read_next() {
    stream_.async_read_some(in_.prepare(64 * 1024),
                            [self = shared_from_this()](beast::error_code error, std::size_t n) {
                                if (error) return self->shut();
                                self->in_.commit(n);
                                if (!self->take_frames()) return self->shut();
                                if (!self->closing_) self->read_next();
                            });
}

bool WebSocketSession::take_frames() {
    while (true) {
        if (skip_ > 0) {
            const std::size_t dropped = std::min(skip_, in_.size());
            in_.consume(dropped);
            skip_ -= dropped;
            if (skip_ > 0) return true;
        }
        const auto* bytes = static_cast<const unsigned char*>(in_.data().data());
        const std::size_t available = in_.size();
        if (available < 2) return true;
        const bool fin = bytes[0] & 0x80;
        const unsigned char opcode = bytes[0] & 0x0F;
        const bool masked = bytes[1] & 0x80;
        std::size_t size = bytes[1] & 0x7F;
        std::size_t header = 2;
        if (size == 126) {
            if (available < 4) return true;
            size = (std::size_t{bytes[2]} << 8) | bytes[3];
            header = 4;
        } else if (size == 127) {
            if (available < 10) return true;
            size = 0;
            for (int i = 2; i < 10; ++i) size = (size << 8) | bytes[i];
            header = 10;
        }
        // Clients must mask, use no extensions and keep control frames short and whole.
        const bool control = opcode >= kClose;
        if (!masked || (bytes[0] & 0x70) || (opcode > kBinary && !control) || opcode > kPong ||
            (control && (size > 125 || !fin))) {
            queue_control(kClose, close_payload(1002));
            return true;
        }
        if (!control) {
            message_bytes_ = (opcode == kContinuation ? message_bytes_ : 0) + size;
            if (message_bytes_ > kIncomingLimit) {
                queue_control(kClose, close_payload(1009));
                return true;
            }
            in_.consume(header + 4);
            skip_ = size;
            continue;
        }
        if (available < header + 4 + size) return true;
        std::string payload(reinterpret_cast<const char*>(bytes) + header + 4, size);
        for (std::size_t i = 0; i < size; ++i) {
            payload[i] = static_cast<char>(payload[i] ^ bytes[header + i % 4]);
        }
        in_.consume(header + 4 + size);
        if (opcode == kPing) {
            queue_control(kPong, payload);
        } else if (opcode == kClose) {
            queue_control(kClose, payload.size() >= 2 ? payload.substr(0, 2) : std::string());
            return true;
        }
    }
}

void WebSocketSession::queue_control(unsigned char opcode, std::string_view payload) {
    if (closing_) return;
    append_frame_header(control_, opcode, payload.size());
    control_ += payload;
    if (opcode == kClose) {
        closing_ = true;
        registry_.remove(this);
    }
    if (!writing_) write_next();
}

void WebSocketSession::write_message(std::shared_ptr<const std::string> text) {
    net::post(stream_.get_executor(),
              [self = shared_from_this(), text = std::move(text)]() mutable {
                  if (self->closed_ || self->closing_) return;
                  // A message is always taken when nothing else is being written, whatever its
                  // size; only what piles up behind the write in flight counts against the limit.
                  if (self->writing_ && self->queued_bytes_ + text->size() > kQueueLimit) {
                      logging::server_log().warning(
                          "Closing a websocket connection of kernel " + self->kernel_id_ +
                          ": its client is not reading (" +
                          std::to_string((self->queued_bytes_ + text->size()) >> 20) +
                          " MiB waiting to be sent, the limit is " +
                          std::to_string(kQueueLimit >> 20) + " MiB)");
                      return self->shut();
                  }
                  self->queued_bytes_ += text->size();
                  self->queue_.push_back(std::move(text));
                  if (!self->writing_) self->write_next();
              });
}

void WebSocketSession::write_next() {
    if (closed_) return;
    // Everything waiting goes out in one gathered write: control frames first, then messages.
    in_flight_control_ = std::move(control_);
    control_.clear();
    in_flight_.clear();
    headers_.clear();
    std::size_t batch = 0;
    while (!queue_.empty() && !closing_ && (in_flight_.empty() || batch < kBatchBytes)) {
        batch += queue_.front()->size();
        queued_bytes_ -= queue_.front()->size();
        in_flight_.push_back(std::move(queue_.front()));
        queue_.pop_front();
    }
    std::vector<std::size_t> header_ends;
    for (const auto& message : in_flight_) {
        append_frame_header(headers_, kText, message->size());
        header_ends.push_back(headers_.size());
    }
    std::vector<net::const_buffer> buffers;
    buffers.reserve(1 + 2 * in_flight_.size());
    if (!in_flight_control_.empty()) buffers.push_back(net::buffer(in_flight_control_));
    std::size_t header_start = 0;
    for (std::size_t i = 0; i < in_flight_.size(); ++i) {
        buffers.push_back(
            net::buffer(headers_.data() + header_start, header_ends[i] - header_start));
        buffers.push_back(net::buffer(*in_flight_[i]));
        header_start = header_ends[i];
    }
    if (buffers.empty()) return;
    writing_ = true;
    net::async_write(stream_, buffers, as_much_as_the_socket_takes,
                     [self = shared_from_this()](beast::error_code error, std::size_t) {
                         self->writing_ = false;
                         self->in_flight_.clear();
                         if (error) return self->shut();
                         const bool sent_close = self->closing_ &&
                                                 !self->in_flight_control_.empty() &&
                                                 self->control_.empty();
                         self->in_flight_control_.clear();
                         if (sent_close) return self->close_after_close_frame();
                         if (!self->queue_.empty() || !self->control_.empty()) self->write_next();
                     });
}

void WebSocketSession::close_after_close_frame() {
    // The client may still be sending. Closing with its bytes unread would reset the connection,
    // and the reset can overtake the close frame on its way: end the sending side, then read and
    // drop until the client closes too, for a few seconds at most.
    closed_ = true;
    registry_.remove(this);
    beast::error_code ignored;
    stream_.socket().shutdown(net::ip::tcp::socket::shutdown_send, ignored);
    stream_.expires_after(std::chrono::seconds(5));
    drain();
}

void WebSocketSession::drain() {
    stream_.async_read_some(in_.prepare(64 * 1024),
                            [self = shared_from_this()](beast::error_code error, std::size_t) {
                                if (!error) return self->drain();
                                self->stream_.close();
                            });
}

void WebSocketSession::shut() {
    if (closed_) return;
    closed_ = true;
    registry_.remove(this);
    beast::error_code ignored;
    stream_.socket().shutdown(net::ip::tcp::socket::shutdown_both, ignored);
    stream_.close();
}

}  // namespace host
