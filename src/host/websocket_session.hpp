#pragma once
// One front-end websocket connection of a kernel. Incoming messages are read and dropped;
// outgoing ones wait in a queue with one write in flight. A client that lets more than 16 MiB
// pile up is closed rather than allowed to grow the server's memory.

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <deque>
#include <memory>
#include <string>

#include "host/channel_registry.hpp"

namespace host {

class WebSocketSession : public Channel, public std::enable_shared_from_this<WebSocketSession> {
public:
    WebSocketSession(boost::asio::ip::tcp::socket&& socket, std::string kernel_id);
    ~WebSocketSession() override;

    void run(boost::beast::http::request<boost::beast::http::string_body> upgrade);

    const std::string& kernel_id() const override { return kernel_id_; }
    void write_message(std::shared_ptr<const std::string> text) override;

private:
    void read_next();
    void write_next();

    boost::beast::websocket::stream<boost::beast::tcp_stream> ws_;
    std::string kernel_id_;
    boost::beast::flat_buffer read_buffer_;
    std::deque<std::shared_ptr<const std::string>> queue_;
    std::size_t queued_bytes_ = 0;
    bool writing_ = false;
    bool closed_ = false;
};

}  // namespace host
