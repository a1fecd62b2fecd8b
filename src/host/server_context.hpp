#pragma once
// What every session of one server shares.

#include <string>

#include "host/handler_executor.hpp"
#include "host/router.hpp"
#include "host/server_services.hpp"

namespace host {

struct ServerContext {
    RouteTable routes;
    std::string token;
    std::string base_path;  // the base URL without its trailing "/" ("" for "/")
    ServerServices& services;
    // Held by every handler operation while it runs (handler_executor.hpp): handlers share the
    // pipeline store without locks of their own, and wait (as coroutines) without holding it.
    HandlerTurn handler_turn;
};

}  // namespace host
