#include "pipeline_export/pipeline_export_handler.hpp"

#include <boost/json/object.hpp>
#include <exception>

#include "base/json_io/json_text.hpp"
#include "pipeline/dag_cabinet.hpp"

namespace pipeline_export {
namespace {

// One answer for every pipeline without components, made once.
const PipelineExport& no_components() {
    static const PipelineExport answer{"There are no components in this pipeline.", "error"};
    return answer;
}

}  // namespace

PipelineExport NuvexLinkPipelineExportHandler::get_pipeline(const std::string& kernel_id,
                                                            const std::vector<std::string>&,
                                                            const std::string&) {
    auto entry = dag_cabinet_.find(kernel_id);
    if (entry == dag_cabinet_.end()) throw UnknownKernel(kernel_id);
    const auto& dag = *entry->second.pipeline;
    if (dag.components().empty()) return no_components();
    try {
        return {json_io::to_json_text(dag.to_nuvexlink_dict(/*include_captured=*/false)), "json"};
    } catch (const std::exception& failure) {
        return {failure.what(), "error"};
    }
}

}  // namespace pipeline_export
