#pragma once
// The pipeline each running kernel's notebook edits, kept per kernel id, and the handler the
// front end posts its pipeline messages to.

#include <boost/json/fwd.hpp>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/api_handler.hpp"
#include "host/http_status.hpp"
#include "json_io/json_body.hpp"
#include "nuvex_link_core/models.hpp"

namespace nuvex_link::server::handlers {

// One kernel's stored pipeline and the answers made from it. A stored pipeline never changes
// in place: a new one replaces the entry, and what was made from the old one goes with it.
// A handler that waits keeps its own reference to the pipeline it read, so a pipeline posted
// meanwhile does not change what it works on.
struct CabinetEntry {
    std::shared_ptr<const nuvex_link_core::NuvexLinkPipelineModel> pipeline;
    // The GET answer (the pipeline's update from an empty one) as JSON text, made on the first
    // GET; answers share it rather than copying it.
    std::shared_ptr<const std::string> full_update_text;
    // The pipeline's picture as SVG text, drawn on the first request for it.
    std::shared_ptr<const std::string> graph_svg;
    // Or why it is not drawn (its layout stopped at its bounds).
    std::shared_ptr<const std::string> graph_failure;
};

// Kernel id -> that kernel's current pipeline. Touched only on the handlers' strand.
using DagCabinet = std::unordered_map<std::string, CabinetEntry>;
extern DagCabinet dag_cabinet;

class DAGHandler : public host::APIHandler {
public:
    using host::APIHandler::APIHandler;

    // Get current updated dag info by kernel_id.
    void get(const host::PathArgs& path_args) override;
    // Register dag_info as kernel_id.
    void post(const host::PathArgs& path_args) override;

    // transmit DAG info to websocket connection which has kernel id
    static void transmit(std::string_view kernel_id, const boost::json::value& data);

    // Beside the network: turns the pipeline a "pipeline:updated"/"successful" body carries
    // into the model (or the failure to), taking it out of the body.
    static std::unique_ptr<host::PreparedBody> prepare_body(json_io::JsonBody& body);
    // prepare_body, with the part of the body it may take as text.
    static host::BodyPreparer body_preparer();

private:
    void _finish_with_result(host::HTTPStatus status_code, const boost::json::value& result);
    void _remove_unused_kernels_on_cabinet(const std::vector<std::string>& kernel_ids);
    // The clean-up and the answer after it, when listing the kernels waits on a notebook server.
    host::Task _remove_unused_kernels_then_answer();
};

}  // namespace nuvex_link::server::handlers
