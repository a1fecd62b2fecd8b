#include "nuvex_link/server/handlers/veyra/registry_pick.hpp"

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/value.hpp>
#include <vector>

#include "nuvex_link/server/handlers/json_answer.hpp"
#include "nuvex_link/server/handlers/veyra/body_values.hpp"
#include "nuvex_link/server/handlers/veyra/operation_turn.hpp"
#include "nuvex_link/server/handlers/veyra/platform_failure.hpp"
#include "nuvex_link/veyra/model_registries.hpp"

namespace nuvex_link::server::handlers::veyra {

namespace platform = nuvex_link::veyra;
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
    _finish_with_result(HTTPStatus::OK, result);
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
            HTTPStatus::BAD_REQUEST,
            boost::json::object{{"message", required_in_body("model_registry_id")}});
        return;
    }
    std::optional<std::int64_t> id = integer_or_null(*registry_id, "model_registry_id");
    if (auto failure = run_platform_call([&] { platform::set_model_registry(id); })) {
        _finish_with_result(failure->status, error_answer(*failure));
        return;
    }
    _finish_with_result(HTTPStatus::OK, boost::json::object{{"success", true}});
}

void NuvexVeyraModelRegistryHandler::_finish_with_result(HTTPStatus status_code,
                                                         const boost::json::value& result) {
    finish_with_json(*this, status_code, result);
}

}  // namespace nuvex_link::server::handlers::veyra
