#include "host/blocking_call.hpp"

#include <condition_variable>
#include <mutex>

namespace host {

struct BlockingCalls::State {
    std::mutex mutex;
    std::condition_variable idle;
    int running = 0;
};

BlockingCalls& BlockingCalls::instance() {
    static BlockingCalls calls;
    return calls;
}

BlockingCalls::State& BlockingCalls::state() {
    static State state;
    return state;
}

void BlockingCalls::begin() {
    const std::lock_guard lock(state().mutex);
    ++state().running;
}

void BlockingCalls::end() {
    const std::lock_guard lock(state().mutex);
    if (--state().running == 0) state().idle.notify_all();
}

bool BlockingCalls::wait_idle(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(state().mutex);
    return state().idle.wait_until(lock, deadline, [this] { return state().running == 0; });
}

}  // namespace host
