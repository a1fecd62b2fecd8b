#pragma once
// Work that blocks (a directory walk, a platform call, a child process, the template engine)
// runs on a thread of its own and is awaited: the handler suspends, the strand serves other
// requests, and the handler resumes on the strand with the result or the failure.
//
// A thread per call rather than a pool: calls are few and slow, and no number of slow calls
// can starve the others. The server waits for the calls still running before it stops, so a
// result never reaches a strand that is gone.

#include <boost/asio/async_result.hpp>
#include <boost/asio/associated_executor.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

#include "host/awaitable.hpp"

namespace host {

// Counts the blocking calls still running.
class BlockingCalls {
public:
    static BlockingCalls& instance();
    void begin();
    void end();
    // Waits until none runs or the deadline passes; true when none runs.
    bool wait_idle(std::chrono::steady_clock::time_point deadline);

private:
    std::mutex mutex_;
    std::condition_variable idle_;
    int running_ = 0;
};

template <class Function>
Awaitable<std::invoke_result_t<Function>> run_blocking(Function function) {
    using Result = std::invoke_result_t<Function>;
    using Kept = std::conditional_t<std::is_void_v<Result>, bool, Result>;
    std::optional<Kept> result;
    std::exception_ptr failure;
    // The frame outlives the thread's use of these: the coroutine resumes only after it.
    co_await boost::asio::async_initiate<const boost::asio::use_awaitable_t<>&, void()>(
        [&](auto resume) {
            BlockingCalls::instance().begin();
            try {
                std::thread([&, resume = std::move(resume)]() mutable {
                    try {
                        if constexpr (std::is_void_v<Result>) {
                            function();
                            result.emplace(true);
                        } else {
                            result.emplace(function());
                        }
                    } catch (...) {
                        failure = std::current_exception();
                    }
                    auto executor = boost::asio::get_associated_executor(resume);
                    boost::asio::post(executor, std::move(resume));
                    BlockingCalls::instance().end();
                }).detach();
            } catch (...) {
                BlockingCalls::instance().end();
                throw;
            }
        },
        boost::asio::use_awaitable);
    if (failure) std::rethrow_exception(failure);
    if constexpr (!std::is_void_v<Result>) co_return std::move(*result);
}

}  // namespace host
