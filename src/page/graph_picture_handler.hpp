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

    // The SVG of the kernel's pipeline, drawn once per stored pipeline; 404 for a kernel
    // without one.
    host::Task get(const host::PathArgs& path_args) override;

private:
    void finish_with_svg(std::shared_ptr<const std::string> svg);

    pipeline::DagCabinet& dag_cabinet_;
};

}  // namespace page
