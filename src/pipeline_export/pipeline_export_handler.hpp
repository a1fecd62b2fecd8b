#pragma once
// Hands the pipeline of one kernel, in the extension's own JSON form, to the pipeline export.

#include "pipeline_export/pipeline_export_request.hpp"

namespace pipeline_export {

class NuvexLinkPipelineExportHandler : public BasePipelineExportHandler {
public:
    using BasePipelineExportHandler::BasePipelineExportHandler;

protected:
    // The whole pipeline without the components' captured values, whatever cell_ids holds.
    // An unknown kernel throws UnknownKernel.
    PipelineExport _get_pipeline(const std::string& kernel_id,
                                 const std::vector<std::string>& cell_ids,
                                 const std::string& ipynb_name) override;
};

}  // namespace pipeline_export
