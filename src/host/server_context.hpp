#pragma once
// What every session of one server shares.

#include <boost/asio/io_context.hpp>
#include <boost/asio/strand.hpp>
#include <string>

#include "host/router.hpp"
#include "host/server_services.hpp"

namespace host {

using HandlerStrand = boost::asio::strand<boost::asio::io_context::executor_type>;

struct ServerContext {
    RouteTable routes;
    std::string token;
    std::string base_path;  // the base URL without its trailing "/" ("" for "/")
    ServerServices& services;
    // Every handler operation runs here, one at a time, on the network threads: handlers share
    // the pipeline store without locks, and wait (as coroutines) without holding the strand.
    HandlerStrand handlers;
};

}  // namespace host
