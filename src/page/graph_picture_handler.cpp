#include "page/graph_picture_handler.hpp"

#include <boost/json/object.hpp>
#include <memory>
#include <string>

#include "host/blocking_call.hpp"
#include "host/json_answer.hpp"
#include "page/extension_settings.hpp"
#include "page/shared_layouts.hpp"
#include "pipeline/dag_cabinet.hpp"

namespace page {

void PipelineGraphHandler::get(const host::PathArgs& path_args) {
    const std::string& kernel_id = path_args.at(0);
    if (!_answer_from_store(kernel_id)) wait_for(_draw(kernel_id));
}

bool PipelineGraphHandler::_answer_from_store(const std::string& kernel_id) {
    const auto entry = pipeline::dag_cabinet.find(kernel_id);
    if (entry == pipeline::dag_cabinet.end()) {
        finish_with_json(
            *this, host::HTTPStatus::NOT_FOUND,
            boost::json::object{{"message", "kernel_id: '" + kernel_id + "' not valid."}});
    } else if (auto svg = entry->second.graph_svg) {
        _finish_with_svg(std::move(svg));
    } else if (auto failure = entry->second.graph_failure) {
        _finish_without_picture(*failure);
    } else {
        return false;
    }
    return true;
}

host::Task PipelineGraphHandler::_draw(std::string kernel_id) {
    const auto& settings = get_settings();
    const ChildLimits limits{settings.layout_cpu_time, settings.layout_memory_bytes};
    // A layout abandoned because a newer pipeline was stored gives way to that one's.
    for (;;) {
        auto version = pipeline::dag_cabinet.at(kernel_id).pipeline;
        const auto picture = co_await shared_picture(kernel_id, std::move(version), limits);
        if (picture && picture->drawn) {
            _finish_with_svg(std::make_shared<const std::string>(picture->svg));
            co_return;
        }
        if (picture) {
            _finish_without_picture(picture->failure);
            co_return;
        }
        if (_answer_from_store(kernel_id)) co_return;
    }
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

void PipelineGraphHandler::_finish_without_picture(const std::string& failure) {
    set_header("Cache-Control", "no-store");
    finish_with_json(*this, host::HTTPStatus::UNPROCESSABLE_ENTITY,
                     boost::json::object{{"message", failure}, {"fallback", "list"}});
}

}  // namespace page
