#pragma once
// The kernels that have a pipeline, as the pipeline page lists them.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/api_handler.hpp"
#include "host/awaitable.hpp"
#include "pipeline/dag_cabinet.hpp"

namespace page {

class PipelineKernelsHandler : public host::CoroutineHandler {
public:
    PipelineKernelsHandler(host::Exchange& exchange, const pipeline::DagCabinet& dag_cabinet)
        : CoroutineHandler(exchange), dag_cabinet_(dag_cabinet) {}

    // [{"kernel_id", "name", "components", "cached", "cache_bytes"}], by kernel id.
    host::Task get(const host::PathArgs& path_args) override;

private:
    const pipeline::DagCabinet& dag_cabinet_;
};

}  // namespace page
