#pragma once
// The picture of a kernel's stored pipeline, as SVG.

#include <memory>
#include <string>

#include "host/api_handler.hpp"
#include "host/awaitable.hpp"
#include "nuvex_link_core/models.hpp"

namespace nuvex_link::server::handlers::view {

class PipelineGraphHandler : public host::APIHandler {
public:
    using host::APIHandler::APIHandler;

    // The SVG of the kernel's pipeline, drawn once per stored pipeline; 404 for a kernel
    // without one; 422 with the reason when the layout stopped at its bounds, so the page
    // lists the components instead.
    void get(const host::PathArgs& path_args) override;

private:
    host::Task _draw(std::string kernel_id,
                     std::shared_ptr<const nuvex_link_core::NuvexLinkPipelineModel> pipeline);
    void _finish_with_svg(std::shared_ptr<const std::string> svg);
    void _finish_without_picture(const std::string& failure);
};

}  // namespace nuvex_link::server::handlers::view
