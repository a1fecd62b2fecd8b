#pragma once
// The handlers the front end posts its pipeline messages to, and gets a kernel's pipeline from.

#include <boost/json/fwd.hpp>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/json_io/json_body.hpp"
#include "host/api_handler.hpp"
#include "host/jupyter/kernel_manager.hpp"
#include "pipeline/dag_cabinet.hpp"

namespace dag {

// GET answers a kernel's stored pipeline as an update from an empty one. POST relays a
// pipeline message to the kernel's websocket connections, stores the pipeline a
// "pipeline:updated" message carries, and then drops the pipelines (and cache folders) of
// kernels that no longer run. This is that work, for the two handlers below.
class DagRoute {
public:
    // The cache folders it may remove lie below app_temp_directory's "pipelines".
    DagRoute(host::APIHandler& handler, pipeline::DagCabinet& dag_cabinet,
             const std::filesystem::path& app_temp_directory)
        : handler_(handler), dag_cabinet_(dag_cabinet), app_temp_directory_(app_temp_directory) {}

    void get(const std::string& kernel_id);
    // Relays the POST's message and stores its pipeline. False when that answered the request
    // already: a body without a required key, a failure, or a pipeline that did not change.
    bool relay(const std::string& kernel_id);
    // Drops what kernels outside running_kernels left, and answers.
    void clean_up(const std::vector<std::string>& running_kernels);
    // Answers a failure of the relay or the clean-up.
    void fail(const std::exception& error);

    // Beside the network: turns the pipeline a "pipeline:updated"/"successful" body carries
    // into the model (or the failure to), taking it out of the body.
    static std::unique_ptr<host::PreparedBody> prepare_body(json_io::JsonBody& body);
    // prepare_body, with the part of the body it may take as text.
    static host::BodyPreparer body_preparer();

private:
    // Stores the pipeline the body announces; false when it is the stored one already.
    bool store_pipeline(const std::string& kernel_id, boost::json::object& body);

    host::APIHandler& handler_;
    pipeline::DagCabinet& dag_cabinet_;
    const std::filesystem::path& app_temp_directory_;
};

// The running kernels come from the runtime folder's connection files: nothing waits, and the
// request is answered where it is read.
class DAGHandler : public host::PlainHandler {
public:
    DAGHandler(host::Exchange& exchange, pipeline::DagCabinet& dag_cabinet,
               const std::filesystem::path& app_temp_directory)
        : PlainHandler(exchange), route_(*this, dag_cabinet, app_temp_directory) {}

    void get(const host::PathArgs& path_args) override;
    void post(const host::PathArgs& path_args) override;

private:
    DagRoute route_;
};

// The running kernels come from a notebook server's /api/kernels (--jupyter-url): a POST's
// clean-up waits for that answer.
class DAGHandlerListingFromServer : public host::CoroutineHandler {
public:
    DAGHandlerListingFromServer(host::Exchange& exchange, pipeline::DagCabinet& dag_cabinet,
                                const std::filesystem::path& app_temp_directory)
        : CoroutineHandler(exchange), route_(*this, dag_cabinet, app_temp_directory) {}

    host::Task get(const host::PathArgs& path_args) override;
    host::Task post(const host::PathArgs& path_args) override;

private:
    DagRoute route_;
};

}  // namespace dag
