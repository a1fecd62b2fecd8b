#include "veyra/model_registry_handler.hpp"

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/value.hpp>
#include <vector>

#include "host/json_answer.hpp"
#include "veyra/body_values.hpp"
#include "veyra/operation_turn.hpp"
#include "veyra/platform_failure.hpp"
#include "veyra/client/model_registries.hpp"

namespace veyra {

namespace platform = veyra::client;
using host::HTTPStatus;

void NuvexVeyraModelRegistryHandler::get(const host::PathArgs&) {
    wait_for(run_veyra_operation([this] { _get(); }));
}

void NuvexVeyraModelRegistryHandler::_get() {
    std::vector<platform::ModelRegistryInfo> registries;
    if (auto failure =
            run_platform_call([&] { registries = platform::get_model_registry_list(); })) {
        _finish_with_result(failure->status, error_answer(*failure));
        return;
    }
    boost::json::array result;
    for (const platform::ModelRegistryInfo& registry : registries) {
        result.push_back(registry.to_dict());
    }
    _finish_with_result(host::HTTPStatus::OK, result);
}

void NuvexVeyraModelRegistryHandler::post(const host::PathArgs&) {
    wait_for(run_veyra_operation([this] { _post(); }));
}

void NuvexVeyraModelRegistryHandler::_post() {
    boost::json::value body = get_json_body();
    const boost::json::object& fields = body_object(body);
    const boost::json::value* registry_id = fields.if_contains("model_registry_id");
    if (registry_id == nullptr) {
        _finish_with_result(
            host::HTTPStatus::BAD_REQUEST,
            boost::json::object{{"message", required_in_body("model_registry_id")}});
        return;
    }
    std::optional<std::int64_t> id = integer_or_null(*registry_id, "model_registry_id");
    if (auto failure = run_platform_call([&] { platform::set_model_registry(id); })) {
        _finish_with_result(failure->status, error_answer(*failure));
        return;
    }
    _finish_with_result(host::HTTPStatus::OK, boost::json::object{{"success", true}});
}

void NuvexVeyraModelRegistryHandler::_finish_with_result(host::HTTPStatus status_code,
                                                         const boost::json::value& result) {
    finish_with_json(*this, status_code, result);
}

}  // namespace veyra
