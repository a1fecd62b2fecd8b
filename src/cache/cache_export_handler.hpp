#pragma once
// Packs the component cache of one kernel's pipeline into a .tar.gz download named after the
// notebook, pushing "export:cache" progress to that kernel's websocket connections meanwhile.

#include <boost/json/fwd.hpp>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "cache/download_name.hpp"
#include "host/api_handler.hpp"
#include "host/awaitable.hpp"
#include "host/http_status.hpp"
#include "pipeline/dag_cabinet.hpp"

namespace cache {

// File name and archive name of the description of the exported components.
inline constexpr std::string_view PIPELINE_JSON = "pipeline.json";

struct CacheProbeInfo {
    // The archive goes out in chunks of this size, each flushed before the next is read, so
    // that one chunk is all the export keeps in memory.
    std::size_t cache_buffer_size;
};
inline constexpr CacheProbeInfo CACHE_PROBE_INFO{4194304};

class CacheExportHandler : public host::CoroutineHandler {
public:
    CacheExportHandler(host::Exchange& exchange, const pipeline::DagCabinet& dag_cabinet)
        : CoroutineHandler(exchange), dag_cabinet_(dag_cabinet) {}

    // Query arguments kernel_id and ipynb_name. The archive is made from the pipeline as it
    // stands now, while other requests go on; progress goes out over the websocket meanwhile.
    host::Task get(const host::PathArgs& path_args) override;

private:
    void finish_with_message(host::HTTPStatus status_code, std::string_view message);
    // Once its first chunk has left, a failure can no longer become a JSON answer: it ends the
    // connection, and the client sees a download shorter than its Content-Length.
    host::Task finish_with_artifact(std::string_view artifact_name,
                                    const std::filesystem::path& artifact_path);

    const pipeline::DagCabinet& dag_cabinet_;
};

// The record of every component that ran successfully and is cached, under its identifier, in
// component order; a later duplicate identifier replaces the record in its place.
boost::json::object cached_pipeline_records(const pipeline::NuvexLinkPipelineModel& dag);

}  // namespace cache
