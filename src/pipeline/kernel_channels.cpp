#include "pipeline/kernel_channels.hpp"

#include <boost/json/value.hpp>

#include "base/json_io/json_text.hpp"

namespace pipeline {

bool has_connections(const host::ChannelRegistry& channels, std::string_view kernel_id) {
    return !channels.snapshot(std::string(kernel_id)).empty();
}

void transmit_to_kernel(const host::ChannelRegistry& channels, std::string_view kernel_id,
                        const boost::json::value& data) {
    auto connections = channels.snapshot(std::string(kernel_id));
    if (connections.empty()) return;
    // One shared text for every connection.
    const auto text = std::make_shared<const std::string>(json_io::to_json_text(data));
    for (const auto& connection : connections) connection->write_message(text);
}

}  // namespace pipeline
