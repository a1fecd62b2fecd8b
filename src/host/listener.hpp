#pragma once
// Accepts connections and starts an HTTP session on each.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <memory>

#include "host/server_context.hpp"

namespace host {

class Listener : public std::enable_shared_from_this<Listener> {
public:
    // Binds and listens; fails with a text naming the address when it cannot.
    Listener(boost::asio::io_context& io, const boost::asio::ip::tcp::endpoint& endpoint,
             ServerContext& context);
    void run();
    void close();
    unsigned short port() const { return port_; }

private:
    void accept_next();
    // Out of descriptors: tries again shortly instead of spinning on the failure.
    void retry_later(const boost::system::error_code& error);

    boost::asio::io_context& io_;
    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::steady_timer retry_;
    ServerContext& context_;
    unsigned short port_ = 0;
    bool out_of_descriptors_ = false;
};

}  // namespace host
