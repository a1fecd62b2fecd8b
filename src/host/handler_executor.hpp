#pragma once
// Handlers take turns: one handler operation, or one piece of a waiting one, runs at a time, on
// the network loop of its connection. They share the pipeline store and the extension's other
// state without locks of their own. The turn is a lock: a plain handler holds it while it runs
// where its request was read; a waiting handler's coroutine runs on a HandlerExecutor, which
// takes the turn for each piece of work between two waits, so waiting holds back no one.
//
// A turn is short by design (what takes long waits, or runs beside the network): a loop whose
// handler waits for the turn blocks for no longer than another handler's piece of work, and a
// connection's own loop runs its handlers without handing them to another thread.

#include <boost/asio/execution/blocking.hpp>
#include <boost/asio/execution/context.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/require.hpp>
#include <mutex>
#include <utility>

namespace host {

using NetworkLoop = boost::asio::io_context::executor_type;

// The turn's lock. Spinning before sleeping on it was measured: with four busy threads on two
// cores, a spinner often waits for a holder that is not running, and throughput swung by a third.
using HandlerTurn = std::mutex;

// Runs work on a network loop, holding the handlers' turn. It never runs work inline: the
// caller may hold the turn already.
class HandlerExecutor {
public:
    HandlerExecutor(const NetworkLoop& loop, HandlerTurn& turn) noexcept
        : loop_(loop), turn_(&turn) {}

    template <class Function>
    void execute(Function&& function) const {
        boost::asio::require(loop_, boost::asio::execution::blocking.never)
            .execute([turn = turn_, function = std::forward<Function>(function)]() mutable {
                const std::lock_guard held(*turn);
                std::move(function)();
            });
    }

    boost::asio::io_context& query(boost::asio::execution::context_t) const noexcept {
        return loop_.context();
    }
    static constexpr boost::asio::execution::blocking_t query(
        boost::asio::execution::blocking_t) noexcept {
        return boost::asio::execution::blocking.never;
    }
    HandlerExecutor require(boost::asio::execution::blocking_t::never_t) const noexcept {
        return *this;
    }

    friend bool operator==(const HandlerExecutor& a, const HandlerExecutor& b) noexcept {
        return a.loop_ == b.loop_ && a.turn_ == b.turn_;
    }
    friend bool operator!=(const HandlerExecutor& a, const HandlerExecutor& b) noexcept {
        return !(a == b);
    }

private:
    NetworkLoop loop_;
    HandlerTurn* turn_;
};

}  // namespace host
