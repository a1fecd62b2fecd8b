#pragma once
// The picture of a kernel's stored pipeline, as SVG.

#include <memory>
#include <string>

#include "host/api_handler.hpp"
#include "host/awaitable.hpp"
#include "pipeline/dag_cabinet.hpp"

namespace page {

class PipelineGraphHandler : public host::CoroutineHandler {
public:
    PipelineGraphHandler(host::Exchange& exchange, pipeline::DagCabinet& dag_cabinet)
        : CoroutineHandler(exchange), dag_cabinet_(dag_cabinet) {}

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
};

}  // namespace page
