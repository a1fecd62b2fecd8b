#include "page/graph_picture_handler.hpp"

#include <boost/json/object.hpp>
#include <memory>
#include <string>

#include "host/blocking_call.hpp"
#include "pipeline/dag_cabinet.hpp"
#include "host/json_answer.hpp"
#include "page/pipeline_drawing.hpp"

namespace page {

void PipelineGraphHandler::get(const host::PathArgs& path_args) {
    const std::string& kernel_id = path_args.at(0);
    const auto entry = pipeline::dag_cabinet.find(kernel_id);
    if (entry == pipeline::dag_cabinet.end()) {
        finish_with_json(
            *this, host::HTTPStatus::NOT_FOUND,
            boost::json::object{{"message", "kernel_id: '" + kernel_id + "' not valid."}});
        return;
    }
    if (auto svg = entry->second.graph_svg) return _finish_with_svg(std::move(svg));
    // The layout takes tens of milliseconds: it runs off the strand, on its own reference to the
    // pipeline, and its picture is kept only while that pipeline is still the stored one.
    wait_for(_draw(kernel_id, entry->second.pipeline));
}

host::Task PipelineGraphHandler::_draw(
    std::string kernel_id,
    std::shared_ptr<const pipeline::NuvexLinkPipelineModel> pipeline) {
    // By reference: GCC 12 destroys what a temporary in a co_await expression owns twice.
    auto svg = co_await host::run_blocking(
        [&pipeline] { return std::make_shared<const std::string>(pipeline_svg(*pipeline)); });
    const auto current = pipeline::dag_cabinet.find(kernel_id);
    if (current != pipeline::dag_cabinet.end() && current->second.pipeline == pipeline) {
        current->second.graph_svg = svg;
    }
    _finish_with_svg(std::move(svg));
}

void PipelineGraphHandler::_finish_with_svg(std::shared_ptr<const std::string> svg) {
    set_header("Content-Type", "image/svg+xml; charset=utf-8");
    set_header("Cache-Control", "no-store");
    set_header("X-Content-Type-Options", "nosniff");
    // Opened on its own, the picture may show itself and nothing else.
    set_header("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'");
    set_status(host::to_int(host::HTTPStatus::OK));
    finish(std::move(svg));
}

}  // namespace page
