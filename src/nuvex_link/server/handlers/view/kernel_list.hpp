#pragma once
// The kernels that have a pipeline, as the pipeline page lists them.

#include "host/api_handler.hpp"

namespace nuvex_link::server::handlers::view {

class PipelineKernelsHandler : public host::APIHandler {
public:
    using host::APIHandler::APIHandler;

    // [{"kernel_id", "name", "components", "cached", "cache_bytes"}], by kernel id.
    void get(const host::PathArgs& path_args) override;
};

}  // namespace nuvex_link::server::handlers::view
