#pragma once
// Accepts connections and starts an HTTP session on each.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
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

    boost::asio::io_context& io_;
    boost::asio::ip::tcp::acceptor acceptor_;
    ServerContext& context_;
    unsigned short port_ = 0;
};

}  // namespace host
