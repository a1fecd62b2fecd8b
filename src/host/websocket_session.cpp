#include "host/websocket_session.hpp"

#include <boost/asio/post.hpp>

namespace host {
namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace net = boost::asio;

namespace {

constexpr std::size_t kQueueLimit = 16u << 20;
constexpr std::size_t kIncomingLimit = 1u << 20;

}  // namespace

WebSocketSession::WebSocketSession(net::ip::tcp::socket&& socket, std::string kernel_id)
    : ws_(std::move(socket)), kernel_id_(std::move(kernel_id)) {}

WebSocketSession::~WebSocketSession() { ChannelRegistry::instance().remove(this); }

void WebSocketSession::run(beast::http::request<beast::http::string_body> upgrade) {
    ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    ws_.read_message_max(kIncomingLimit);
    ws_.text(true);
    ws_.async_accept(upgrade, [self = shared_from_this()](beast::error_code error) {
        if (error) return;
        ChannelRegistry::instance().add(self);
        self->read_next();
    });
}

void WebSocketSession::read_next() {
    ws_.async_read(read_buffer_, [self = shared_from_this()](beast::error_code error, std::size_t) {
        if (error) {
            // Closed by the client, timed out or garbage: the connection is done.
            self->closed_ = true;
            ChannelRegistry::instance().remove(self.get());
            return;
        }
        self->read_buffer_.clear();
        self->read_next();
    });
}

void WebSocketSession::write_message(std::shared_ptr<const std::string> text) {
    net::post(ws_.get_executor(), [self = shared_from_this(), text = std::move(text)]() mutable {
        if (self->closed_) return;
        self->queued_bytes_ += text->size();
        if (self->queued_bytes_ > kQueueLimit) {
            self->closed_ = true;
            ChannelRegistry::instance().remove(self.get());
            beast::get_lowest_layer(self->ws_).close();
            return;
        }
        self->queue_.push_back(std::move(text));
        if (!self->writing_) self->write_next();
    });
}

void WebSocketSession::write_next() {
    writing_ = true;
    ws_.async_write(net::buffer(*queue_.front()),
                    [self = shared_from_this()](beast::error_code error, std::size_t) {
                        self->queued_bytes_ -= self->queue_.front()->size();
                        self->queue_.pop_front();
                        self->writing_ = false;
                        if (error) {
                            self->closed_ = true;
                            ChannelRegistry::instance().remove(self.get());
                            return;
                        }
                        if (!self->queue_.empty() && !self->closed_) self->write_next();
                    });
}

}  // namespace host
