#pragma once
// The handler the front end posts its pipeline messages to, and gets a kernel's pipeline from.

#include <boost/json/fwd.hpp>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/api_handler.hpp"
#include "host/http_status.hpp"
#include "base/json_io/json_body.hpp"
#include "pipeline/dag_cabinet.hpp"

namespace dag {


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

}  // namespace dag
