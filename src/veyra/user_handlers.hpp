#pragma once
// Logging the notebook's user in to and out of Veyra, and who is logged in. The login itself
// lives in the platform client and its settings; these handlers keep nothing.

#include <boost/json/fwd.hpp>

#include "host/api_handler.hpp"
#include "host/http_status.hpp"
#include "host/info_handler.hpp"
#include "veyra/operation_turn.hpp"

namespace veyra {

// Admits only users whose first workspace grants "admin" or "member"; anyone else is logged
// out again at once.
class NuvexVeyraUserLoginHandler : public host::CoroutineHandler {
public:
    using host::CoroutineHandler::CoroutineHandler;

    // Login to Veyra and Get a SDK token.
    host::Task post(const host::PathArgs& path_args) override;

private:
    // Run on the platform's turn, off the strand.
    VeyraAnswer log_in(const boost::json::value& body);
};

class NuvexVeyraUserLogoutHandler : public host::CoroutineHandler {
public:
    using host::CoroutineHandler::CoroutineHandler;

    // Logout to Veyra and Delete the SDK token.
    host::Task post(const host::PathArgs& path_args) override;

private:
    static VeyraAnswer log_out();
};

// The user's profile with the platform address, token, workspace and project on top; an empty
// object, without asking the platform, while the login is incomplete.
class NuvexVeyraUserInfoHandler : public host::WaitingInfoHandler {
public:
    using host::WaitingInfoHandler::WaitingInfoHandler;

protected:
    host::Awaitable<host::InfoResult> get_info() override;

private:
    static host::InfoResult user_info();
};

}  // namespace veyra
