#include "nuvex_link/server/handlers/view/graph_picture.hpp"

#include <boost/json/object.hpp>
#include <memory>
#include <string>

#include "nuvex_link/server/handlers/graph_sync.hpp"
#include "nuvex_link/server/handlers/json_answer.hpp"
#include "nuvex_link/server/misc/pipeline_graph.hpp"

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
    std::shared_ptr<const std::string> svg = entry->second.graph_svg;
    if (!svg) {
        // The layout works on its own reference to the pipeline, and its picture is kept only
        // while that pipeline is still the stored one.
        const auto pipeline = entry->second.pipeline;
        svg = std::make_shared<const std::string>(misc::pipeline_svg(*pipeline));
        const auto current = dag_cabinet.find(kernel_id);
        if (current != dag_cabinet.end() && current->second.pipeline == pipeline) {
            current->second.graph_svg = svg;
        }
    }
    set_header("Content-Type", "image/svg+xml; charset=utf-8");
    set_header("Cache-Control", "no-store");
    set_header("X-Content-Type-Options", "nosniff");
    // Opened on its own, the picture may show itself and nothing else.
    set_header("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'");
    set_status(host::to_int(HTTPStatus::OK));
    finish(std::move(svg));
}

}  // namespace nuvex_link::server::handlers::view
