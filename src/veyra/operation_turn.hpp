#pragma once
// Veyra operations share the login settings (address, tokens, workspace, project), so they run
// one at a time among themselves. Each runs whole on a thread of its own, platform calls and
// all, while every other route goes on: a platform that hangs holds back only the Veyra
// requests behind it.

#include <boost/json/value.hpp>
#include <mutex>
#include <utility>

#include "host/api_handler.hpp"
#include "host/http_status.hpp"

namespace veyra {

std::mutex& veyra_operation_turn();

// What a Veyra operation answers: its status and JSON body.
using VeyraAnswer = std::pair<host::HTTPStatus, boost::json::value>;

// The operation must own nothing (capture by reference): it is a temporary of the co_await
// expression, which GCC 12 destroys twice.
template <class Operation>
auto run_veyra_operation(host::APIHandler& handler, Operation operation) {
    return handler.run_blocking([operation = std::move(operation)]() mutable {
        const std::lock_guard turn(veyra_operation_turn());
        return operation();
    });
}

}  // namespace veyra
