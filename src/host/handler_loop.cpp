#include "host/handler_loop.hpp"

namespace host {

HandlerLoop::HandlerLoop()
    : work_(boost::asio::make_work_guard(context_)), thread_([this] { context_.run(); }) {}

HandlerLoop::~HandlerLoop() { stop(); }

void HandlerLoop::stop() {
    work_.reset();
    if (thread_.joinable()) thread_.join();
}

}  // namespace host
