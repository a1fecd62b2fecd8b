#pragma once
// Tells the front end how much disk space the component caches take: for one kernel's
// pipeline, or for every pipeline kept under the extension's temporary directory.

#include "host/info_handler.hpp"

namespace cache {

class CacheInfoHandler : public host::BaseInfoHandler {
public:
    using host::BaseInfoHandler::BaseInfoHandler;

protected:
    // Query argument kernel_id, optional. Without it (or empty): {"cache_size": "<n>B"} for the
    // whole "pipelines" folder. With it: {"cache_dir", "cache_size"} counting only the
    // components that ran successfully and are cached. The folders are walked while other
    // requests go on.
    host::InfoAnswer _get_info() override;
};

}  // namespace cache
