#pragma once
// How much one write or read system call may move. Asio's transfer_all stops each call at
// 64 KiB, so a 133 KB pipeline would take three calls; this lets one call move whatever the
// socket takes.

#include <boost/system/error_code.hpp>
#include <cstddef>
#include <limits>

namespace host {

inline std::size_t as_much_as_the_socket_takes(const boost::system::error_code& error,
                                               std::size_t) {
    return error ? 0 : std::numeric_limits<std::size_t>::max();
}

}  // namespace host
