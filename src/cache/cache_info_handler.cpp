#include "cache/cache_info_handler.hpp"

#include <boost/json/object.hpp>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "host/blocking_call.hpp"
#include "pipeline/dag_cabinet.hpp"
#include "base/files/dir_size.hpp"
#include "pipeline/app_temp_directory.hpp"
#include "pipeline/status.hpp"

namespace cache {
namespace {

using host::HTTPStatus;
using pipeline::NuvexLinkComponentStatus;
using pipeline::NuvexLinkDiskcacheStatus;

std::string size_text(std::uintmax_t estimate_size) { return std::to_string(estimate_size) + "B"; }

// The size of the whole pipelines folder, walked off the strand.
host::Awaitable<host::InfoResult> pipelines_folder_size() {
    boost::json::object result;
    std::uintmax_t estimate_size = 0;
    try {
        estimate_size = co_await host::run_blocking(
            [] { return base::get_dir_size(pipeline::APP_TEMP_DIRECTORY / "pipelines"); });
    } catch (const std::exception&) {
        result["message"] = "Fail to estimate cache size";
        co_return host::InfoResult{host::HTTPStatus::INTERNAL_SERVER_ERROR, std::move(result)};
    }
    result["cache_size"] = size_text(estimate_size);
    co_return host::InfoResult{host::HTTPStatus::OK, std::move(result)};
}

// The size of the cache folders of one pipeline's components, walked off the strand; a
// failure is left to host::BaseInfoHandler (500 with its text).
host::Awaitable<host::InfoResult> components_size(std::vector<std::string> cache_dirs,
                                            boost::json::value pipeline_cache_dir) {
    const std::uintmax_t estimate_size = co_await host::run_blocking([&cache_dirs] {
        std::uintmax_t size = 0;
        for (const auto& cache_dir : cache_dirs) size += base::get_dir_size(cache_dir);
        return size;
    });
    boost::json::object result;
    result["cache_dir"] = std::move(pipeline_cache_dir);
    result["cache_size"] = size_text(estimate_size);
    co_return host::InfoResult{host::HTTPStatus::OK, std::move(result)};
}

}  // namespace

host::InfoAnswer CacheInfoHandler::_get_info() {
    boost::json::object result;

    std::optional<std::string> kernel_id;
    try {
        kernel_id = get_query_argument("kernel_id", std::nullopt);
    } catch (const std::exception& failure) {
        result["message"] = failure.what();
        return host::InfoResult{host::HTTPStatus::BAD_REQUEST, std::move(result)};
    }
    if (!kernel_id || kernel_id->empty()) return pipelines_folder_size();

    auto entry = pipeline::dag_cabinet.find(*kernel_id);
    if (entry == pipeline::dag_cabinet.end()) {
        result["message"] = "kernel_id " + *kernel_id + " is not valid.";
        return host::InfoResult{host::HTTPStatus::BAD_REQUEST, std::move(result)};
    }
    // What the walk needs is taken now: the pipeline may be replaced while it runs.
    const auto& pipeline = *entry->second.pipeline;
    std::vector<std::string> cache_dirs;
    for (const auto& component : pipeline.components()) {
        if (component.execution_status() != NuvexLinkComponentStatus::SUCCESSFUL ||
            component.diskcache_status() != NuvexLinkDiskcacheStatus::CACHED) {
            continue;
        }
        if (auto cache_dir = component.diskcache_dir()) cache_dirs.emplace_back(*cache_dir);
    }
    boost::json::value pipeline_cache_dir = nullptr;
    if (auto cache_dir = pipeline.diskcache_dir()) pipeline_cache_dir = *cache_dir;
    return components_size(std::move(cache_dirs), std::move(pipeline_cache_dir));
}

}  // namespace cache
