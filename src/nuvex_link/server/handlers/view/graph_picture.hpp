#pragma once
// The picture of a kernel's stored pipeline, as SVG.

#include "host/api_handler.hpp"

namespace nuvex_link::server::handlers::view {

class PipelineGraphHandler : public host::APIHandler {
public:
    using host::APIHandler::APIHandler;

    // The SVG of the kernel's pipeline, drawn once per stored pipeline; 404 for a kernel
    // without one.
    void get(const host::PathArgs& path_args) override;
};

}  // namespace nuvex_link::server::handlers::view
