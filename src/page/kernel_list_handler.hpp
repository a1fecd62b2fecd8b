#pragma once
// The kernels that have a pipeline, as the pipeline page lists them.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/api_handler.hpp"
#include "host/awaitable.hpp"
#include "pipeline/models.hpp"

namespace page {

class PipelineKernelsHandler : public host::APIHandler {
public:
    using host::APIHandler::APIHandler;

    // [{"kernel_id", "name", "components", "cached", "cache_bytes"}], by kernel id.
    void get(const host::PathArgs& path_args) override;

private:
    using KernelPipelines = std::vector<
        std::pair<std::string, std::shared_ptr<const pipeline::NuvexLinkPipelineModel>>>;
    host::Task _answer(KernelPipelines pipelines);
};

}  // namespace page
