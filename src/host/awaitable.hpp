#pragma once
// The coroutine types handlers wait with: a handler operation that would sit idle (a slow
// client, a child process, the platform) suspends and lets the handlers' strand serve others.

#include <boost/asio/awaitable.hpp>

namespace host {

template <class T>
using Awaitable = boost::asio::awaitable<T>;
using Task = Awaitable<void>;

}  // namespace host
