#include "nuvex_link/server/handlers/view/kernel_list.hpp"

#include <algorithm>
#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "nuvex_link/server/handlers/graph_sync.hpp"
#include "nuvex_link/server/handlers/json_answer.hpp"
#include "nuvex_link/server/misc/get_dir_size.hpp"
#include "nuvex_link_core/status.hpp"

namespace nuvex_link::server::handlers::view {
namespace {

using nuvex_link_core::NuvexLinkComponentStatus;
using nuvex_link_core::NuvexLinkDiskcacheStatus;

// What the cache export would pack: the components that ran and are cached, and the bytes
// of their cache folders (null when a folder cannot be read).
boost::json::object kernel_summary(const std::string& kernel_id,
                                   const nuvex_link_core::NuvexLinkPipelineModel& pipeline) {
    std::int64_t cached = 0;
    std::uintmax_t cache_bytes = 0;
    bool readable = true;
    for (const auto& component : pipeline.components()) {
        if (component.execution_status() != NuvexLinkComponentStatus::SUCCESSFUL ||
            component.diskcache_status() != NuvexLinkDiskcacheStatus::CACHED) {
            continue;
        }
        ++cached;
        const auto cache_dir = component.diskcache_dir();
        if (!cache_dir || !readable) continue;
        try {
            cache_bytes += misc::get_dir_size(std::string(*cache_dir));
        } catch (const std::exception&) {
            readable = false;
        }
    }
    boost::json::object summary{{"kernel_id", kernel_id},
                                {"name", pipeline.name()},
                                {"components", pipeline.components().size()},
                                {"cached", cached}};
    if (readable) {
        summary["cache_bytes"] = cache_bytes;
    } else {
        summary["cache_bytes"] = nullptr;
    }
    return summary;
}

}  // namespace

void PipelineKernelsHandler::get(const host::PathArgs&) {
    std::vector<const DagCabinet::value_type*> entries;
    for (const auto& entry : dag_cabinet) entries.push_back(&entry);
    std::sort(entries.begin(), entries.end(),
              [](const auto* left, const auto* right) { return left->first < right->first; });
    boost::json::array kernels;
    for (const auto* entry : entries) {
        kernels.push_back(kernel_summary(entry->first, *entry->second.pipeline));
    }
    finish_with_json(*this, HTTPStatus::OK, kernels);
}

}  // namespace nuvex_link::server::handlers::view
