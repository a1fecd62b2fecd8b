#pragma once
// Tells the front end how the running server is set up (its runtime record) together with the
// cookies that came with the request.

#include "host/info_handler.hpp"

namespace server_info {

class ServerAppInfoHandler : public host::BaseInfoHandler {
public:
    using host::BaseInfoHandler::BaseInfoHandler;

protected:
    // 200 with the runtime record plus "cookie"; any failure is 500 with one fixed message
    // that never carries the cause (the record holds the server's token).
    host::InfoAnswer _get_info() override;
};

}  // namespace server_info
