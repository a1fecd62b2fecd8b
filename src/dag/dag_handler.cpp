#include "dag/dag_handler.hpp"

#include <algorithm>
#include <boost/json/monotonic_resource.hpp>
#include <boost/json/value.hpp>
#include <optional>
#include <utility>

#include "base/json_io/json_order.hpp"
#include "base/json_io/json_text.hpp"
#include "host/json_answer.hpp"
#include "host/jupyter/kernel_manager.hpp"
#include "pipeline/kernel_channels.hpp"
#include "pipeline/pipelines_folder.hpp"
#include "pipeline/update_diff.hpp"

namespace dag {
namespace json = boost::json;
using pipeline::NuvexLinkPipelineModel;

namespace {

constexpr const char* kBodyKeys[] = {"procedure", "status", "msg", "successful"};

// The body is read as the front end sends it; a value of another type is a fault of the
// caller that the host answers.
void check_body_types(const json::object& body) {
    for (const char* key : {"procedure", "status", "msg"}) {
        const auto& value = body.at(key);
        if (!value.is_string() && !value.is_null()) {
            throw std::invalid_argument(std::string(key) + " must be a string or null");
        }
    }
    const auto& successful = body.at("successful");
    if (!successful.is_object() && !successful.is_null()) {
        throw std::invalid_argument("successful must be an object or null");
    }
}

bool announces_stored_pipeline(const json::object& body) {
    const auto* procedure = body.if_contains("procedure");
    const auto* outcome = body.if_contains("status");
    return procedure && procedure->is_string() && procedure->get_string() == "pipeline:updated" &&
           outcome && outcome->is_string() && outcome->get_string() == "successful";
}

// The pipeline of a body, checked on the network thread, or the text of its failure.
class PreparedPipeline : public host::PreparedBody {
public:
    PreparedPipeline(json::object& successful, json_io::DeferredArray& components,
                     std::shared_ptr<const void> memory) {
        // Taken whatever comes of them: the handler never relays this body as it came.
        const auto taken = std::exchange(components, json_io::DeferredArray());
        try {
            pipeline_.emplace(
                NuvexLinkPipelineModel::from_json(std::move(successful), taken, std::move(memory)));
        } catch (const std::exception& error) {
            failure_ = error.what();
        }
    }

    NuvexLinkPipelineModel take() {
        if (!pipeline_) throw std::runtime_error(failure_);
        return std::move(*pipeline_);
    }

private:
    std::optional<NuvexLinkPipelineModel> pipeline_;
    std::string failure_;
};

// The pipeline a body announces, made from its "successful" object (prepared beside the
// network when it could be).
NuvexLinkPipelineModel pipeline_of(json::object& body, host::PreparedBody* prepared) {
    if (auto* pipeline = dynamic_cast<PreparedPipeline*>(prepared)) return pipeline->take();
    auto& successful = body.at("successful");
    if (!successful.is_object()) {
        throw pipeline::ModelError("successful: a pipeline object is required");
    }
    return NuvexLinkPipelineModel::from_json(std::move(successful.get_object()));
}

}  // namespace

void DagRoute::get(const std::string& kernel_id) {
    const auto stored = dag_cabinet_.find(kernel_id);
    if (stored == dag_cabinet_.end()) {
        finish_with_json(handler_, host::HTTPStatus::BAD_REQUEST,
                         json::object{{"message", "Cannot get dag data in " + kernel_id + "."}});
        return;
    }
    auto& memo = stored->second.full_update_text;
    if (!memo) {
        // The copy lives only until its text is written: one arena, freed at once.
        const json::storage_ptr scratch = json::make_shared_resource<json::monotonic_resource>();
        const NuvexLinkPipelineModel empty(kernel_id);
        const json::value update(
            pipeline::get_dag_update_info(empty, *stored->second.pipeline).dict(scratch));
        memo = std::make_shared<const std::string>(json_io::to_json_text(update));
    }
    finish_with_json_text(handler_, host::HTTPStatus::OK, memo);
}

bool DagRoute::relay(const std::string& kernel_id) {
    json::value body_value = handler_.get_json_body();
    if (!body_value.is_object()) {
        throw std::invalid_argument("The body of the request must be a JSON object");
    }
    json::object& body = body_value.get_object();
    for (const char* key : kBodyKeys) {
        if (!body.contains(key)) {
            finish_with_json(
                handler_, host::HTTPStatus::BAD_REQUEST,
                json::object{{"message", std::string(key) + " is required in the body of the "
                                                            "request."}});
            return false;
        }
    }
    check_body_types(body);
    try {
        const auto& msg = body.at("msg");
        if (msg.is_null() || msg.get_string().empty()) json_io::erase_key(body, "msg");

        if (announces_stored_pipeline(body) && !store_pipeline(kernel_id, body)) {
            // Nothing changed: nothing is relayed or cleaned up, and the answer is empty.
            handler_.finish();
            return false;
        }
        pipeline::transmit_to_kernel(handler_.channels(), kernel_id, body);
    } catch (const std::exception& error) {
        fail(error);
        return false;
    }
    return true;
}

void DagRoute::fail(const std::exception& error) {
    finish_with_json(handler_, host::HTTPStatus::INTERNAL_SERVER_ERROR,
                     json::object{{"message", error.what()}});
}

void DAGHandler::get(const host::PathArgs& path_args) { route_.get(path_args.at(0)); }

void DAGHandler::post(const host::PathArgs& path_args) {
    if (!route_.relay(path_args.at(0))) return;
    try {
        // The host looked at the runtime folder before this turn (body_preparer()).
        route_.clean_up(*kernel_manager().running_kernel_ids_as_noticed());
    } catch (const std::exception& error) {
        route_.fail(error);
    }
}

host::Task DAGHandlerListingFromServer::get(const host::PathArgs& path_args) {
    route_.get(path_args.at(0));
    co_return;
}

host::Task DAGHandlerListingFromServer::post(const host::PathArgs& path_args) {
    if (!route_.relay(path_args.at(0))) co_return;
    try {
        const auto running = co_await run_blocking(
            [&kernels = kernel_manager()] { return kernels.running_kernel_ids(); });
        route_.clean_up(*running);
    } catch (const std::exception& error) {
        route_.fail(error);
    }
}

bool DagRoute::store_pipeline(const std::string& kernel_id, json::object& body) {
    auto pipeline = pipeline_of(body, handler_.prepared_body());
    pipeline.set_identifier(kernel_id);

    const auto stored = dag_cabinet_.find(kernel_id);
    const auto update =
        stored != dag_cabinet_.end()
            ? pipeline::get_dag_update_info(*stored->second.pipeline, pipeline)
            : pipeline::get_dag_update_info(NuvexLinkPipelineModel(kernel_id), pipeline);
    const bool unchanged = update.updated_components.empty();
    // The update points into the new pipeline; turn it into JSON before storing it, and only
    // when some connection will receive it.
    if (!unchanged && pipeline::has_connections(handler_.channels(), kernel_id)) {
        body["successful"] = update.dict();
    }
    pipeline::CabinetEntry entry{
        std::make_shared<const NuvexLinkPipelineModel>(std::move(pipeline)), nullptr, nullptr,
        nullptr};
    if (stored == dag_cabinet_.end()) {
        dag_cabinet_.emplace(kernel_id, std::move(entry));
    } else {
        // The replaced pipeline is torn down beside the network, after the answer.
        handler_.dispose_after_answer(std::move(stored->second.pipeline));
        stored->second = std::move(entry);
    }
    return !unchanged;
}

std::unique_ptr<host::PreparedBody> DagRoute::prepare_body(json_io::JsonBody& body) {
    auto* object = body.document.if_object();
    if (!object || !announces_stored_pipeline(*object)) return nullptr;
    auto* successful = object->if_contains("successful");
    if (!successful || !successful->is_object()) return nullptr;
    // The pipeline keeps the body's memory; the rest of the body is copied out for the handler.
    return std::make_unique<PreparedPipeline>(successful->get_object(), body.deferred, body.memory);
}

host::BodyPreparer DagRoute::body_preparer() {
    // A pipeline's components are most of its body; the model reads them as text.
    return {prepare_body, {"successful", "graph", "components"}, true};
}

void DagRoute::clean_up(const std::vector<std::string>& running_kernels) {
    std::vector<std::string> cache_dirs;
    for (auto entry = dag_cabinet_.begin(); entry != dag_cabinet_.end();) {
        if (std::binary_search(running_kernels.begin(), running_kernels.end(), entry->first)) {
            ++entry;
            continue;
        }
        if (const auto diskcache_dir = entry->second.pipeline->diskcache_dir()) {
            cache_dirs.emplace_back(*diskcache_dir);
        }
        handler_.dispose_after_answer(std::move(entry->second.pipeline));
        entry = dag_cabinet_.erase(entry);
    }
    // Only what lies strictly below the pipelines folder goes; a folder that is not this
    // user's own fails the request with its reason, and nothing is removed.
    pipeline::remove_pipeline_caches(app_temp_directory_, cache_dirs);
    finish_with_json(handler_, host::HTTPStatus::OK, json::object{{"message", "Success."}});
}

}  // namespace dag
