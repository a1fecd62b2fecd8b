#include "host/blocking_call.hpp"

namespace host {

void BlockingCalls::begin() {
    const std::lock_guard lock(mutex_);
    ++running_;
}

void BlockingCalls::end() {
    const std::lock_guard lock(mutex_);
    if (--running_ == 0) idle_.notify_all();
}

bool BlockingCalls::wait_idle(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return idle_.wait_until(lock, deadline, [this] { return running_ == 0; });
}

}  // namespace host
