#pragma once
// The coroutine types handlers wait with: a handler operation that would sit idle (a slow
// client, a child process, the platform) suspends and lets other handlers take their turns.

#include <boost/asio/awaitable.hpp>

namespace host {

template <class T>
using Awaitable = boost::asio::awaitable<T>;
using Task = Awaitable<void>;

}  // namespace host
