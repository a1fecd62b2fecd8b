#include "nuvex_link/server/handlers/view/graph_picture.hpp"

#include <boost/json/object.hpp>
#include <memory>
#include <string>

#include "host/blocking_call.hpp"
#include "nuvex_link/server/handlers/graph_sync.hpp"
#include "nuvex_link/server/handlers/json_answer.hpp"
#include "nuvex_link/server/misc/settings.hpp"
#include "page/bounded_layout.hpp"

namespace nuvex_link::server::handlers::view {

void PipelineGraphHandler::get(const host::PathArgs& path_args) {
    const std::string& kernel_id = path_args.at(0);
    const auto entry = dag_cabinet.find(kernel_id);
    if (entry == dag_cabinet.end()) {
        finish_with_json(
            *this, HTTPStatus::NOT_FOUND,
            boost::json::object{{"message", "kernel_id: '" + kernel_id + "' not valid."}});
        return;
    }
    if (auto svg = entry->second.graph_svg) return _finish_with_svg(std::move(svg));
    if (auto failure = entry->second.graph_failure) return _finish_without_picture(*failure);
    // The layout runs in a child process, off the strand, on its own reference to the
    // pipeline; its answer is kept only while that pipeline is still the stored one.
    wait_for(_draw(kernel_id, entry->second.pipeline));
}

host::Task PipelineGraphHandler::_draw(
    std::string kernel_id,
    std::shared_ptr<const nuvex_link_core::NuvexLinkPipelineModel> pipeline) {
    // By reference: GCC 12 destroys what a temporary in a co_await expression owns twice.
    const auto& settings = misc::get_settings();
    const page::ChildLimits limits{settings.layout_cpu_time, settings.layout_memory_bytes};
    auto picture = co_await host::run_blocking([&pipeline, &limits] {
        return std::make_shared<const page::PipelinePicture>(
            page::lay_out_within_bounds(*pipeline, limits));
    });
    const auto current = dag_cabinet.find(kernel_id);
    const bool still_stored = current != dag_cabinet.end() && current->second.pipeline == pipeline;
    if (!picture->drawn) {
        if (still_stored)
            current->second.graph_failure = std::make_shared<const std::string>(picture->failure);
        _finish_without_picture(picture->failure);
        co_return;
    }
    auto svg = std::make_shared<const std::string>(picture->svg);
    if (still_stored) current->second.graph_svg = svg;
    _finish_with_svg(std::move(svg));
}

void PipelineGraphHandler::_finish_with_svg(std::shared_ptr<const std::string> svg) {
    set_header("Content-Type", "image/svg+xml; charset=utf-8");
    set_header("Cache-Control", "no-store");
    set_header("X-Content-Type-Options", "nosniff");
    // Opened on its own, the picture may show itself and nothing else.
    set_header("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'");
    set_status(host::to_int(HTTPStatus::OK));
    finish(std::move(svg));
}

void PipelineGraphHandler::_finish_without_picture(const std::string& failure) {
    set_header("Cache-Control", "no-store");
    finish_with_json(*this, HTTPStatus::UNPROCESSABLE_ENTITY,
                     boost::json::object{{"message", failure}, {"fallback", "list"}});
}

}  // namespace nuvex_link::server::handlers::view
