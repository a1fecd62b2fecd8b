#pragma once
// Base of the pipeline export handlers: POST {"kernel_id", "cell_ids", "ipynb_name"} asks the
// subclass for the kernel's pipeline and answers with it.

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/api_handler.hpp"

namespace pipeline_export {

// (pipeline_contents, pipeline_type): the pipeline's JSON text with "json", or an error text
// with "error".
using PipelineExport = std::pair<std::string, std::string>;

// The kernel has no pipeline; answered 404 {"message": "kernel_id: '<id>' not valid."}.
class UnknownKernel : public std::out_of_range {
public:
    explicit UnknownKernel(std::string_view kernel_id);
};

class BasePipelineExportHandler : public host::PlainHandler {
public:
    using host::PlainHandler::PlainHandler;

    // "json": 200 with the pipeline's JSON text as the body. "error": 400 {"message": text}.
    // A body key that is missing or of the wrong kind: 400 {"message": text naming the key}.
    void post(const host::PathArgs& path_args) final;

protected:
    virtual PipelineExport get_pipeline(const std::string& kernel_id,
                                        const std::vector<std::string>& cell_ids,
                                        const std::string& ipynb_name) = 0;
};

}  // namespace pipeline_export
