#pragma once
// One layout per kernel at a time, shared by every request for the same pipeline version. The
// request that finds none running starts one and runs it; the others wait for its picture. A
// layout is stopped once its pipeline is replaced or nobody waits for it any more.

#include <atomic>
#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/steady_timer.hpp>
#include <memory>
#include <string>
#include <unordered_map>

#include "host/awaitable.hpp"
#include "page/bounded_layout.hpp"

namespace page {

class SharedLayout {
public:
    SharedLayout(const boost::asio::any_io_executor& executor, const void* version);

    // Asked by the running layout, from its own thread.
    bool stopped() const { return stop_; }

private:
    friend class SharedLayouts;
    friend class LayoutWaiter;

    const void* version_;  // the pipeline laid out; compared, never followed
    std::atomic<bool> stop_{false};
    int waiting_ = 0;
    bool done_ = false;
    std::shared_ptr<const PipelinePicture> picture_;  // null when abandoned
    boost::asio::steady_timer done_signal_;           // cancelled when done, waking waiters
};

// Kept for as long as a request waits for a layout; the last to leave an unfinished layout
// stops it.
class LayoutWaiter {
public:
    explicit LayoutWaiter(std::shared_ptr<SharedLayout> layout);
    ~LayoutWaiter();
    LayoutWaiter(const LayoutWaiter&) = delete;
    LayoutWaiter& operator=(const LayoutWaiter&) = delete;

    // The layout's picture once it is done; null when it was abandoned.
    host::Awaitable<std::shared_ptr<const PipelinePicture>> picture();

private:
    std::shared_ptr<SharedLayout> layout_;
};

// The layouts running, by kernel id. Touched only in the handlers' turn.
class SharedLayouts {
public:
    struct Joined {
        std::shared_ptr<SharedLayout> layout;
        bool run_it;  // the caller started it and runs it
    };
    // The layout of the kernel's pipeline `version`: the one running, or a new one (stopping
    // one of an older version, which is of no use any more).
    Joined join(const std::string& kernel_id, const void* version,
                const boost::asio::any_io_executor& executor);
    // The runner's end: the picture (null when abandoned) goes to every waiter.
    void finish(const std::string& kernel_id, const std::shared_ptr<SharedLayout>& layout,
                std::shared_ptr<const PipelinePicture> picture);
    // How many layouts have been started, for tests (which read it from their own thread).
    unsigned long started() const { return started_; }

private:
    std::unordered_map<std::string, std::shared_ptr<SharedLayout>> running_;
    std::atomic<unsigned long> started_{0};
};

}  // namespace page
