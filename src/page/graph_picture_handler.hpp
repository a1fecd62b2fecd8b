#pragma once
// The picture of a kernel's stored pipeline, as SVG.

#include <memory>
#include <string>

#include "host/api_handler.hpp"
#include "host/awaitable.hpp"
#include "pipeline/models.hpp"

namespace page {

class PipelineGraphHandler : public host::APIHandler {
public:
    using host::APIHandler::APIHandler;

    // The SVG of the kernel's pipeline, drawn once per stored pipeline; 404 for a kernel
    // without one.
    void get(const host::PathArgs& path_args) override;

private:
    host::Task _draw(std::string kernel_id,
                     std::shared_ptr<const pipeline::NuvexLinkPipelineModel> pipeline);
    void _finish_with_svg(std::shared_ptr<const std::string> svg);
};

}  // namespace page
