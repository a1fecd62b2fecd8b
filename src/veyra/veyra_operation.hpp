#pragma once
// A Veyra operation runs whole on a thread of its own, platform calls and all, in a session
// that has the account to itself: operations share the login settings (address, tokens,
// workspace, project), so they run one at a time among themselves, while every other route
// goes on. A platform that hangs holds back only the Veyra requests behind it, and the
// server's stop ends its calls.

#include <boost/json/value.hpp>
#include <stop_token>
#include <utility>

#include "host/api_handler.hpp"
#include "host/http_status.hpp"
#include "veyra/client/account.hpp"
#include "veyra/client/platform_session.hpp"

namespace veyra {

// What a Veyra operation answers: its status and JSON body.
using VeyraAnswer = std::pair<host::HTTPStatus, boost::json::value>;

// Runs operation(session) on another thread and resumes with what it gives. The operation must
// own nothing (capture by reference), and `stop` must outlive the wait: both are held by the
// co_await expression, whose temporaries GCC 12 destroys twice.
template <class Operation>
auto run_veyra_operation(host::APIHandler& handler, client::Account& account,
                         const std::stop_token& stop, Operation operation) {
    return handler.run_blocking([&account, &stop, operation = std::move(operation)]() mutable {
        client::PlatformSession session(account, stop);
        return operation(session);
    });
}

}  // namespace veyra
