#include "page/graph_picture_handler.hpp"

#include <boost/json/object.hpp>
#include <memory>
#include <string>

#include "host/json_answer.hpp"
#include "page/pipeline_drawing.hpp"
#include "pipeline/dag_cabinet.hpp"

namespace page {

host::Task PipelineGraphHandler::get(const host::PathArgs& path_args) {
    const std::string& kernel_id = path_args.at(0);
    const auto entry = dag_cabinet_.find(kernel_id);
    if (entry == dag_cabinet_.end()) {
        finish_with_json(
            *this, host::HTTPStatus::NOT_FOUND,
            boost::json::object{{"message", "kernel_id: '" + kernel_id + "' not valid."}});
        co_return;
    }
    if (auto svg = entry->second.graph_svg) {
        finish_with_svg(std::move(svg));
        co_return;
    }
    // The layout takes tens of milliseconds: it runs off the strand, on its own reference to the
    // pipeline, and its picture is kept only while that pipeline is still the stored one.
    const std::shared_ptr<const pipeline::NuvexLinkPipelineModel> pipeline = entry->second.pipeline;
    // By reference: GCC 12 destroys what a temporary in a co_await expression owns twice.
    auto svg = co_await run_blocking(
        [&pipeline] { return std::make_shared<const std::string>(pipeline_svg(*pipeline)); });
    const auto current = dag_cabinet_.find(kernel_id);
    if (current != dag_cabinet_.end() && current->second.pipeline == pipeline) {
        current->second.graph_svg = svg;
    }
    finish_with_svg(std::move(svg));
}

void PipelineGraphHandler::finish_with_svg(std::shared_ptr<const std::string> svg) {
    set_header("Content-Type", "image/svg+xml; charset=utf-8");
    set_header("Cache-Control", "no-store");
    set_header("X-Content-Type-Options", "nosniff");
    // Opened on its own, the picture may show itself and nothing else.
    set_header("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'");
    set_status(host::to_int(host::HTTPStatus::OK));
    finish(std::move(svg));
}

}  // namespace page
