#pragma once
// Tells the front end how much disk space the component caches take: for one kernel's
// pipeline, or for every pipeline kept under the extension's temporary directory.

#include <filesystem>

#include "host/info_handler.hpp"
#include "pipeline/dag_cabinet.hpp"

namespace cache {

class CacheInfoHandler : public host::WaitingInfoHandler {
public:
    CacheInfoHandler(host::Exchange& exchange, const pipeline::DagCabinet& dag_cabinet,
                     const std::filesystem::path& app_temp_directory)
        : WaitingInfoHandler(exchange),
          dag_cabinet_(dag_cabinet),
          app_temp_directory_(app_temp_directory) {}

protected:
    // Query argument kernel_id, optional. Without it (or empty): {"cache_size": "<n>B"} for the
    // whole "pipelines" folder. With it: {"cache_dir", "cache_size"} counting only the
    // components that ran successfully and are cached. The folders are walked while other
    // requests go on.
    host::Awaitable<host::InfoResult> get_info() override;

private:
    const pipeline::DagCabinet& dag_cabinet_;
    const std::filesystem::path& app_temp_directory_;
};

}  // namespace cache
