#pragma once
// Logging the notebook's user in to and out of Veyra, and who is logged in. The login itself
// lives in the platform client and its settings; these handlers keep nothing.

#include <boost/json/fwd.hpp>

#include "host/api_handler.hpp"
#include "host/http_status.hpp"
#include "host/info_handler.hpp"

namespace veyra {

// Admits only users whose first workspace grants "admin" or "member"; anyone else is logged
// out again at once.
class NuvexVeyraUserLoginHandler : public host::APIHandler {
public:
    using host::APIHandler::APIHandler;

    // Login to Veyra and Get a SDK token.
    void post(const host::PathArgs& path_args) override;

private:
    void _post();
    void _finish_with_result(host::HTTPStatus status_code, const boost::json::value& result);
};

class NuvexVeyraUserLogoutHandler : public host::APIHandler {
public:
    using host::APIHandler::APIHandler;

    // Logout to Veyra and Delete the SDK token.
    void post(const host::PathArgs& path_args) override;

private:
    void _post();
    void _finish_with_result(host::HTTPStatus status_code, const boost::json::value& result);
};

// The user's profile with the platform address, token, workspace and project on top; an empty
// object, without asking the platform, while the login is incomplete.
class NuvexVeyraUserInfoHandler : public host::BaseInfoHandler {
public:
    using host::BaseInfoHandler::BaseInfoHandler;

protected:
    host::InfoAnswer _get_info() override;

private:
    host::InfoResult _user_info();
};

}  // namespace veyra
