#include "host/listener.hpp"

#include <boost/asio/post.hpp>
#include <cerrno>
#include <stdexcept>

#include "base/logging/log.hpp"
#include "host/http_session.hpp"

namespace host {
namespace net = boost::asio;

namespace {
// Per socket, and only taken up by data in flight; the kernel doubles it for its bookkeeping.
// Send buffers keep the kernel's own sizing, which grows as far as large exports need.
constexpr int kReceiveBuffer = 1 << 20;
}  // namespace

Listener::Listener(std::vector<NetworkLoop> loops, const net::ip::tcp::endpoint& endpoint,
                   ServerContext& context)
    : loops_(std::move(loops)),
      acceptor_(loops_.front()),
      retry_(loops_.front()),
      context_(context) {
    boost::system::error_code error;
    acceptor_.open(endpoint.protocol(), error);
    if (!error) acceptor_.set_option(net::socket_base::reuse_address(true), error);
    if (!error) {
        // Accepted sockets inherit it: a 133 KB pipeline then arrives whole, where the
        // default window takes it in two rounds, each waking both ends.
        boost::system::error_code ignored;
        acceptor_.set_option(net::socket_base::receive_buffer_size(kReceiveBuffer), ignored);
    }
    if (!error) acceptor_.bind(endpoint, error);
    if (!error) acceptor_.listen(net::socket_base::max_listen_connections, error);
    if (error) {
        throw std::runtime_error("Cannot listen on " + endpoint.address().to_string() + ":" +
                                 std::to_string(endpoint.port()) + ": " + error.message());
    }
    port_ = acceptor_.local_endpoint().port();
}

void Listener::run() { accept_next(); }

void Listener::close() {
    net::post(acceptor_.get_executor(), [self = shared_from_this()] {
        boost::system::error_code ignored;
        self->acceptor_.close(ignored);
        self->retry_.cancel();
    });
}

void Listener::accept_next() {
    const NetworkLoop loop = loops_[next_loop_++ % loops_.size()];
    acceptor_.async_accept(loop, [self = shared_from_this(), loop](boost::system::error_code error,
                                                                   net::ip::tcp::socket socket) {
        if (error == net::error::operation_aborted || !self->acceptor_.is_open()) return;
        if (error == net::error::no_descriptors || error == net::error::no_buffer_space ||
            error == net::error::no_memory || error.value() == ENFILE) {
            return self->retry_later(error);
        }
        if (!error) {
            if (self->out_of_descriptors_) {
                self->out_of_descriptors_ = false;
                logging::server_log().info("Accepting connections again");
            }
            socket.set_option(net::ip::tcp::no_delay(true), error);
            std::make_shared<HttpSession>(std::move(socket), loop, self->context_)->run();
        } else {
            logging::server_log().warning("accept failed: " + error.message());
        }
        self->accept_next();
    });
}

void Listener::retry_later(const boost::system::error_code& error) {
    // Logged once while it lasts: the log must not grow with every retry.
    if (!out_of_descriptors_) {
        out_of_descriptors_ = true;
        logging::server_log().warning("accept failed: " + error.message() +
                                      "; trying again every 100 ms until a connection closes");
    }
    retry_.expires_after(std::chrono::milliseconds(100));
    retry_.async_wait([self = shared_from_this()](boost::system::error_code wait_error) {
        if (!wait_error) self->accept_next();
    });
}

}  // namespace host
