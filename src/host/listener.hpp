#pragma once
// Accepts connections and starts an HTTP session on each, handing them to the network loops
// in turn.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <memory>
#include <vector>

#include "host/handler_executor.hpp"
#include "host/server_context.hpp"

namespace host {

class Listener : public std::enable_shared_from_this<Listener> {
public:
    // Binds and listens on the first loop; fails with a text naming the address when it cannot.
    Listener(std::vector<NetworkLoop> loops, const boost::asio::ip::tcp::endpoint& endpoint,
             ServerContext& context);
    void run();
    void close();
    unsigned short port() const { return port_; }

private:
    void accept_next();
    // Out of descriptors: tries again shortly instead of spinning on the failure.
    void retry_later(const boost::system::error_code& error);

    std::vector<NetworkLoop> loops_;
    std::size_t next_loop_ = 0;
    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::steady_timer retry_;
    ServerContext& context_;
    unsigned short port_ = 0;
    bool out_of_descriptors_ = false;
};

}  // namespace host
