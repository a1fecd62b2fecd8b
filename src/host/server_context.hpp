#pragma once
// What every session of one server shares.

#include <atomic>
#include <string>

#include "host/handler_loop.hpp"
#include "host/kernel_manager.hpp"
#include "host/router.hpp"

namespace host {

struct ServerContext {
    RouteTable routes;
    std::string token;
    std::string base_path;  // the base URL without its trailing "/" ("" for "/")
    KernelManager kernels;
    HandlerLoop handlers;
    std::atomic<bool> stopping{false};
};

}  // namespace host
