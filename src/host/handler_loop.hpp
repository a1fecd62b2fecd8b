#pragma once
// The one thread every handler operation runs on, one request at a time in arrival order:
// handlers share the pipeline store without locks and may block it (an export, a diff) while
// the network threads go on.

#include <boost/asio/io_context.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <thread>

namespace host {

class HandlerLoop {
public:
    HandlerLoop();
    ~HandlerLoop();

    boost::asio::io_context::executor_type executor() { return context_.get_executor(); }
    // Finishes the queued operations, then joins the thread.
    void stop();

private:
    boost::asio::io_context context_{1};
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_;
    std::thread thread_;
};

}  // namespace host
