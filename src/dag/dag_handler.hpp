#pragma once
// The handler the front end posts its pipeline messages to, and gets a kernel's pipeline from.

#include <boost/json/fwd.hpp>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/json_io/json_body.hpp"
#include "host/api_handler.hpp"
#include "host/http_status.hpp"
#include "pipeline/dag_cabinet.hpp"

namespace dag {

// GET answers a kernel's stored pipeline as an update from an empty one. POST relays a
// pipeline message to the kernel's websocket connections, stores the pipeline a
// "pipeline:updated" message carries, and then drops the pipelines (and cache folders) of
// kernels that no longer run. Only that clean-up may wait: when the running kernels come from
// a notebook server's /api/kernels.
class DAGHandler : public host::CoroutineHandler {
public:
    // The cache folders it may remove lie below app_temp_directory's "pipelines".
    DAGHandler(host::Exchange& exchange, pipeline::DagCabinet& dag_cabinet,
               const std::filesystem::path& app_temp_directory)
        : CoroutineHandler(exchange),
          dag_cabinet_(dag_cabinet),
          app_temp_directory_(app_temp_directory) {}

    host::Task get(const host::PathArgs& path_args) override;
    host::Task post(const host::PathArgs& path_args) override;

    // Beside the network: turns the pipeline a "pipeline:updated"/"successful" body carries
    // into the model (or the failure to), taking it out of the body.
    static std::unique_ptr<host::PreparedBody> prepare_body(json_io::JsonBody& body);
    // prepare_body, with the part of the body it may take as text.
    static host::BodyPreparer body_preparer();

private:
    // Stores the pipeline the body announces; false when it is the stored one already.
    bool store_pipeline(const std::string& kernel_id, boost::json::object& body);
    void remove_unused_kernels_on_cabinet(const std::vector<std::string>& kernel_ids);

    pipeline::DagCabinet& dag_cabinet_;
    const std::filesystem::path& app_temp_directory_;
};

}  // namespace dag
