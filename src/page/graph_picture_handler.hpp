#pragma once
// The picture of a kernel's stored pipeline, as SVG.

#include <memory>
#include <string>

#include "host/api_handler.hpp"
#include "host/awaitable.hpp"
#include "page/bounded_child.hpp"
#include "page/shared_layouts.hpp"
#include "pipeline/dag_cabinet.hpp"

namespace page {

class PipelineGraphHandler : public host::CoroutineHandler {
public:
    // Layouts run within `limits`, shared through `layouts`.
    PipelineGraphHandler(host::Exchange& exchange, pipeline::DagCabinet& dag_cabinet,
                         SharedLayouts& layouts, const ChildLimits& limits)
        : CoroutineHandler(exchange),
          dag_cabinet_(dag_cabinet),
          layouts_(layouts),
          limits_(limits) {}

    // The SVG of the kernel's pipeline, drawn once per stored pipeline by a layout that the
    // requests for it share; 404 for a kernel without one; 422 with the reason when the layout
    // stopped at its bounds, so the page lists the components instead.
    host::Task get(const host::PathArgs& path_args) override;

private:
    // Answers with what is kept for the stored pipeline (or 404); false when nothing is kept.
    bool answer_from_store(const std::string& kernel_id);
    void finish_with_svg(std::shared_ptr<const std::string> svg);
    void finish_without_picture(const std::string& failure);

    pipeline::DagCabinet& dag_cabinet_;
    SharedLayouts& layouts_;
    const ChildLimits& limits_;
};

}  // namespace page
