#pragma once
// The front end's websocket connections, one per open notebook view of a kernel, and the push
// of one JSON message to every connection of a kernel.

#include <boost/json/fwd.hpp>
#include <memory>
#include <string_view>
#include <vector>

#include "host/channel_registry.hpp"

namespace pipeline {

class NuvexLinkWebSocketHandler {
public:
    // The open connections in the order they opened, each with kernel_id() and write_message().
    static std::vector<std::shared_ptr<host::Channel>> registry();
};

// Whether any connection of the kernel is open (a message for none need not be built).
bool has_connections(std::string_view kernel_id);

// Serialises data once and queues the text on every connection whose kernel id equals
// kernel_id, in registry order. No connection is no failure.
void transmit_to_kernel(std::string_view kernel_id, const boost::json::value& data);

}  // namespace pipeline
