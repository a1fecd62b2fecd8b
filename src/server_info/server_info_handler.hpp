#pragma once
// Tells the front end how the running server is set up (its runtime record) together with the
// cookies that came with the request.

#include <cstdint>

#include "host/info_handler.hpp"

namespace server_info {

class ServerAppInfoHandler : public host::BaseInfoHandler {
public:
    // host_pid: the notebook server described, this process or the one given by --host-pid.
    ServerAppInfoHandler(host::Exchange& exchange, const std::int64_t& host_pid)
        : BaseInfoHandler(exchange), host_pid_(host_pid) {}

protected:
    // 200 with the runtime record plus "cookie"; any failure is 500 with one fixed message
    // that never carries the cause (the record holds the server's token).
    host::InfoResult get_info() override;

private:
    const std::int64_t& host_pid_;
};

}  // namespace server_info
