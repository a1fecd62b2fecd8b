#pragma once
// Hands the pipeline of one kernel, in the extension's own JSON form, to the pipeline export.

#include "pipeline/dag_cabinet.hpp"
#include "pipeline_export/base_pipeline_export_handler.hpp"

namespace pipeline_export {

class NuvexLinkPipelineExportHandler : public BasePipelineExportHandler {
public:
    NuvexLinkPipelineExportHandler(host::Exchange& exchange,
                                   const pipeline::DagCabinet& dag_cabinet)
        : BasePipelineExportHandler(exchange), dag_cabinet_(dag_cabinet) {}

protected:
    // The whole pipeline without the components' captured values, whatever cell_ids holds.
    // An unknown kernel throws UnknownKernel.
    PipelineExport get_pipeline(const std::string& kernel_id,
                                const std::vector<std::string>& cell_ids,
                                const std::string& ipynb_name) override;

private:
    const pipeline::DagCabinet& dag_cabinet_;
};

}  // namespace pipeline_export
