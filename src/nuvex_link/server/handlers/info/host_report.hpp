#pragma once
// Tells the front end how the running server is set up (its runtime record) together with the
// cookies that came with the request.

#include "nuvex_link/server/handlers/info/base_handler.hpp"

namespace nuvex_link::server::handlers::info {

class ServerAppInfoHandler : public BaseInfoHandler {
public:
    using BaseInfoHandler::BaseInfoHandler;

protected:
    // 200 with the runtime record plus "cookie"; any failure is 500 with one fixed message
    // that never carries the cause (the record holds the server's token).
    InfoAnswer _get_info() override;
};

}  // namespace nuvex_link::server::handlers::info
