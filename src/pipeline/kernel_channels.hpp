#pragma once
// The push of one JSON message to every websocket connection of a kernel: one per open
// notebook view of it.

#include <boost/json/fwd.hpp>
#include <string_view>

#include "host/channel_registry.hpp"

namespace pipeline {

// Whether any connection of the kernel is open (a message for none need not be built).
bool has_connections(const host::ChannelRegistry& channels, std::string_view kernel_id);

// Serialises data once and queues the text on every connection whose kernel id equals
// kernel_id, in the order they opened. No connection is no failure.
void transmit_to_kernel(const host::ChannelRegistry& channels, std::string_view kernel_id,
                        const boost::json::value& data);

}  // namespace pipeline
