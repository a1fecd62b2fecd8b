#pragma once
// Veyra operations share the login settings (address, tokens, workspace, project), so they run
// one at a time among themselves. Each runs whole on a thread of its own, platform calls and
// all, while every other route goes on: a platform that hangs holds back only the Veyra
// requests behind it.

#include <mutex>
#include <utility>

#include "host/blocking_call.hpp"

namespace veyra {

std::mutex& veyra_operation_turn();

template <class Operation>
auto run_veyra_operation(Operation operation) {
    return host::run_blocking([operation = std::move(operation)]() mutable {
        const std::lock_guard turn(veyra_operation_turn());
        return operation();
    });
}

}  // namespace veyra
