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

    // The SVG of the kernel's pipeline, drawn once per stored pipeline by a layout that the
    // requests for it share; 404 for a kernel without one; 422 with the reason when the layout
    // stopped at its bounds, so the page lists the components instead.
    void get(const host::PathArgs& path_args) override;

private:
    // Answers with what is kept for the stored pipeline (or 404); false when nothing is kept.
    bool _answer_from_store(const std::string& kernel_id);
    host::Task _draw(std::string kernel_id);
    void _finish_with_svg(std::shared_ptr<const std::string> svg);
    void _finish_without_picture(const std::string& failure);
};

}  // namespace page
