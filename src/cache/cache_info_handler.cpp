#include "cache/cache_info_handler.hpp"

#include <boost/json/object.hpp>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "base/files/dir_size.hpp"
#include "pipeline/dag_cabinet.hpp"
#include "pipeline/pipelines_folder.hpp"

namespace cache {
namespace {

std::string size_text(std::uintmax_t estimate_size) { return std::to_string(estimate_size) + "B"; }

}  // namespace

host::Awaitable<host::InfoResult> CacheInfoHandler::get_info() {
    boost::json::object result;

    std::optional<std::string> kernel_id;
    try {
        kernel_id = get_query_argument("kernel_id", std::nullopt);
    } catch (const std::exception& failure) {
        result["message"] = failure.what();
        co_return host::InfoResult{host::HTTPStatus::BAD_REQUEST, std::move(result)};
    }
    if (!kernel_id || kernel_id->empty()) {
        // The whole pipelines folder, walked outside the handlers' turn.
        std::uintmax_t estimate_size = 0;
        try {
            estimate_size = co_await run_blocking([&temp_directory = app_temp_directory_] {
                const pipeline::PipelinesFolder folder(temp_directory);
                return base::get_dir_size(folder.path());
            });
        } catch (const pipeline::PipelinesFolderRefused& refused) {
            result["message"] = refused.what();
            co_return host::InfoResult{host::HTTPStatus::INTERNAL_SERVER_ERROR, std::move(result)};
        } catch (const std::exception&) {
            result["message"] = "Fail to estimate cache size";
            co_return host::InfoResult{host::HTTPStatus::INTERNAL_SERVER_ERROR, std::move(result)};
        }
        result["cache_size"] = size_text(estimate_size);
        co_return host::InfoResult{host::HTTPStatus::OK, std::move(result)};
    }

    const auto entry = dag_cabinet_.find(*kernel_id);
    if (entry != dag_cabinet_.end()) {
        // What the walk needs is taken now: the pipeline may be replaced while it runs. A
        // failure of the walk is left to the info handler (500 with its text).
        const auto& pipeline = *entry->second.pipeline;
        std::vector<std::string> cache_dirs;
        for (const auto& component : pipeline.components()) {
            if (!component.has_cached_result()) continue;
            if (auto cache_dir = component.diskcache_dir()) cache_dirs.emplace_back(*cache_dir);
        }
        result["cache_dir"] = nullptr;
        if (auto cache_dir = pipeline.diskcache_dir()) result["cache_dir"] = *cache_dir;
        const std::uintmax_t estimate_size = co_await run_blocking([&cache_dirs] {
            std::uintmax_t size = 0;
            for (const auto& cache_dir : cache_dirs) size += base::get_dir_size(cache_dir);
            return size;
        });
        result["cache_size"] = size_text(estimate_size);
        co_return host::InfoResult{host::HTTPStatus::OK, std::move(result)};
    }
    result["message"] = "kernel_id " + *kernel_id + " is not valid.";
    co_return host::InfoResult{host::HTTPStatus::BAD_REQUEST, std::move(result)};
}

}  // namespace cache
