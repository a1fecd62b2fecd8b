#pragma once
// Work that blocks (a directory walk, a platform call, a child process, the template engine)
// runs on a thread of its own and is awaited: the handler suspends, other handlers take their
// turns, and the handler resumes in its own turn with the result or the failure.
//
// A thread per call rather than a pool: calls are few and slow, and no number of slow calls
// can starve the others. The server waits for the calls still running before it stops, so a
// result never reaches a network loop that is gone.

#include <boost/asio/associated_executor.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

#include "host/awaitable.hpp"

namespace host {

// Counts the blocking calls still running.
class BlockingCalls {
public:
    void begin();
    void end();
    // Waits until none runs or the deadline passes; true when none runs.
    bool wait_idle(std::chrono::steady_clock::time_point deadline);

private:
    std::mutex mutex_;
    std::condition_variable idle_;
    int running_ = 0;
};

// Not a coroutine itself: the function is moved straight into the thread. GCC 12 destroys a
// lambda passed by value to a coroutine twice, and so does it a temporary of a co_await
// expression: callers capture by reference what the lambda must not own.
template <class Function>
auto run_blocking(BlockingCalls& calls, Function function) {
    using Result = std::invoke_result_t<Function>;
    constexpr bool gives_nothing = std::is_void_v<Result>;
    using Kept = std::conditional_t<gives_nothing, bool, Result>;
    auto start = [&calls, function = std::move(function)](auto resume) mutable {
        calls.begin();
        try {
            std::thread([&calls, function = std::move(function),
                         resume = std::move(resume)]() mutable {
                std::exception_ptr failure;
                Kept result{};
                try {
                    if constexpr (gives_nothing) {
                        function();
                    } else {
                        result = function();
                    }
                } catch (...) {
                    failure = std::current_exception();
                }
                auto handler = boost::asio::get_associated_executor(resume);
                boost::asio::post(handler, [resume = std::move(resume), failure,
                                            result = std::move(result)]() mutable {
                    if constexpr (gives_nothing) {
                        std::move(resume)(failure);
                    } else {
                        std::move(resume)(failure, std::move(result));
                    }
                });
                calls.end();
            }).detach();
        } catch (...) {
            calls.end();
            throw;
        }
    };
    using Signature =
        std::conditional_t<gives_nothing, void(std::exception_ptr), void(std::exception_ptr, Kept)>;
    return boost::asio::async_initiate<const boost::asio::use_awaitable_t<>&, Signature>(
        std::move(start), boost::asio::use_awaitable);
}

}  // namespace host
