#pragma once
// Logging the notebook's user in to and out of Veyra, and who is logged in. The login itself
// lives in the account the handlers are lent; they keep nothing.

#include <boost/json/fwd.hpp>

#include "host/api_handler.hpp"
#include "host/http_status.hpp"
#include "host/info_handler.hpp"
#include "veyra/client/account.hpp"
#include "veyra/client/platform_session.hpp"
#include "veyra/veyra_operation.hpp"

namespace veyra {

// Admits only users whose first workspace grants "admin" or "member"; anyone else is logged
// out again at once.
class NuvexVeyraUserLoginHandler : public host::CoroutineHandler {
public:
    NuvexVeyraUserLoginHandler(host::Exchange& exchange, client::Account& account)
        : host::CoroutineHandler(exchange), account_(account) {}

    // Logs in to Veyra, answering with the platform's token object.
    host::Task post(const host::PathArgs& path_args) override;

private:
    // Run on the platform's turn, on another thread.
    VeyraAnswer log_in(client::PlatformSession& session, const boost::json::value& body);

    client::Account& account_;
};

// Ends the login at the platform and forgets its tokens.
class NuvexVeyraUserLogoutHandler : public host::CoroutineHandler {
public:
    NuvexVeyraUserLogoutHandler(host::Exchange& exchange, client::Account& account)
        : host::CoroutineHandler(exchange), account_(account) {}

    host::Task post(const host::PathArgs& path_args) override;

private:
    static VeyraAnswer log_out(client::PlatformSession& session);

    client::Account& account_;
};

// The user's profile with the platform address, token, workspace and project on top; an empty
// object, without asking the platform, while the login is incomplete.
class NuvexVeyraUserInfoHandler : public host::WaitingInfoHandler {
public:
    NuvexVeyraUserInfoHandler(host::Exchange& exchange, client::Account& account)
        : host::WaitingInfoHandler(exchange), account_(account) {}

protected:
    host::Awaitable<host::InfoResult> get_info() override;

private:
    static host::InfoResult user_info(client::PlatformSession& session);

    client::Account& account_;
};

}  // namespace veyra
