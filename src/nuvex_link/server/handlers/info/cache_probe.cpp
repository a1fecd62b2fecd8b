#include "nuvex_link/server/handlers/info/cache_probe.hpp"

#include <boost/json/object.hpp>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>

#include "nuvex_link/server/handlers/graph_sync.hpp"
#include "nuvex_link/server/misc/get_dir_size.hpp"
#include "nuvex_link_core/app_temp_directory.hpp"
#include "nuvex_link_core/status.hpp"

namespace nuvex_link::server::handlers::info {
namespace {

using host::HTTPStatus;
using nuvex_link_core::NuvexLinkComponentStatus;
using nuvex_link_core::NuvexLinkDiskcacheStatus;

std::string size_text(std::uintmax_t estimate_size) { return std::to_string(estimate_size) + "B"; }

}  // namespace

InfoResult CacheInfoHandler::_get_info() {
    boost::json::object result;

    std::optional<std::string> kernel_id;
    try {
        kernel_id = get_query_argument("kernel_id", std::nullopt);
    } catch (const std::exception& failure) {
        result["message"] = failure.what();
        return {HTTPStatus::BAD_REQUEST, std::move(result)};
    }

    if (!kernel_id || kernel_id->empty()) {
        auto dag_cache_dir = nuvex_link_core::APP_TEMP_DIRECTORY / "pipelines";
        std::uintmax_t estimate_size = 0;
        try {
            estimate_size = misc::get_dir_size(dag_cache_dir);
        } catch (const std::exception&) {
            result["message"] = "Fail to estimate cache size";
            return {HTTPStatus::INTERNAL_SERVER_ERROR, std::move(result)};
        }
        result["cache_size"] = size_text(estimate_size);
        return {HTTPStatus::OK, std::move(result)};
    }

    auto entry = dag_cabinet.find(*kernel_id);
    if (entry == dag_cabinet.end()) {
        result["message"] = "kernel_id " + *kernel_id + " is not valid.";
        return {HTTPStatus::BAD_REQUEST, std::move(result)};
    }

    const auto& pipeline = *entry->second.pipeline;
    std::uintmax_t estimate_size = 0;
    for (const auto& component : pipeline.components()) {
        if (component.execution_status() != NuvexLinkComponentStatus::SUCCESSFUL ||
            component.diskcache_status() != NuvexLinkDiskcacheStatus::CACHED) {
            continue;
        }
        if (auto cache_dir = component.diskcache_dir()) {
            // A failure here is left to BaseInfoHandler (500 with its text).
            estimate_size += misc::get_dir_size(std::string(*cache_dir));
        }
    }
    if (auto cache_dir = pipeline.diskcache_dir()) {
        result["cache_dir"] = *cache_dir;
    } else {
        result["cache_dir"] = nullptr;
    }
    result["cache_size"] = size_text(estimate_size);
    return {HTTPStatus::OK, std::move(result)};
}

}  // namespace nuvex_link::server::handlers::info
