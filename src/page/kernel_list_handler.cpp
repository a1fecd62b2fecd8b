#include "page/kernel_list_handler.hpp"

#include <algorithm>
#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "base/files/dir_size.hpp"
#include "host/json_answer.hpp"
#include "pipeline/dag_cabinet.hpp"

namespace page {
namespace {

// What the cache export would pack: the components that ran and are cached, and the bytes
// of their cache folders (null when a folder cannot be read).
boost::json::object kernel_summary(const std::string& kernel_id,
                                   const pipeline::NuvexLinkPipelineModel& pipeline) {
    std::int64_t cached = 0;
    std::uintmax_t cache_bytes = 0;
    bool readable = true;
    for (const auto& component : pipeline.components()) {
        if (!component.has_cached_result()) continue;
        ++cached;
        const auto cache_dir = component.diskcache_dir();
        if (!cache_dir || !readable) continue;
        try {
            cache_bytes += base::get_dir_size(std::string(*cache_dir));
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

host::Task PipelineKernelsHandler::get(const host::PathArgs&) {
    // The pipelines as they stand now, by kernel id; their cache folders are walked outside
    // the handlers' turn.
    std::vector<std::pair<std::string, std::shared_ptr<const pipeline::NuvexLinkPipelineModel>>>
        pipelines;
    for (const auto& [kernel_id, entry] : dag_cabinet_) {
        pipelines.emplace_back(kernel_id, entry.pipeline);
    }
    std::sort(pipelines.begin(), pipelines.end(),
              [](const auto& left, const auto& right) { return left.first < right.first; });
    boost::json::array kernels = co_await run_blocking([&pipelines] {
        boost::json::array summaries;
        for (const auto& [kernel_id, pipeline] : pipelines) {
            summaries.push_back(kernel_summary(kernel_id, *pipeline));
        }
        return summaries;
    });
    finish_with_json(*this, host::HTTPStatus::OK, kernels);
}

}  // namespace page
