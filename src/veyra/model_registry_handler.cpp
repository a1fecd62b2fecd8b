#include "veyra/model_registry_handler.hpp"

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/value.hpp>
#include <vector>

#include "host/json_answer.hpp"
#include "veyra/body_values.hpp"
#include "veyra/client/model_registries.hpp"
#include "veyra/operation_turn.hpp"
#include "veyra/platform_failure.hpp"

namespace veyra {

namespace platform = veyra::client;
using host::HTTPStatus;

host::Task NuvexVeyraModelRegistryHandler::get(const host::PathArgs&) {
    const VeyraAnswer answer = co_await run_veyra_operation(*this, [] { return list(); });
    finish_with_json(*this, answer.first, answer.second);
}

VeyraAnswer NuvexVeyraModelRegistryHandler::list() {
    std::vector<platform::ModelRegistryInfo> registries;
    if (auto failure =
            run_platform_call([&] { registries = platform::get_model_registry_list(); })) {
        return {failure->status, error_answer(*failure)};
    }
    boost::json::array result;
    for (const platform::ModelRegistryInfo& registry : registries) {
        result.push_back(registry.to_dict());
    }
    return {host::HTTPStatus::OK, result};
}

host::Task NuvexVeyraModelRegistryHandler::post(const host::PathArgs&) {
    // Captured by reference: GCC 12 destroys what a temporary in a co_await expression owns twice.
    const boost::json::value body = get_json_body();
    const VeyraAnswer answer =
        co_await run_veyra_operation(*this, [&body] { return select(body); });
    finish_with_json(*this, answer.first, answer.second);
}

VeyraAnswer NuvexVeyraModelRegistryHandler::select(const boost::json::value& body) {
    const boost::json::object& fields = body_object(body);
    const boost::json::value* registry_id = fields.if_contains("model_registry_id");
    if (registry_id == nullptr) {
        return {host::HTTPStatus::BAD_REQUEST,
                boost::json::object{{"message", required_in_body("model_registry_id")}}};
    }
    std::optional<std::int64_t> id = integer_or_null(*registry_id, "model_registry_id");
    if (auto failure = run_platform_call([&] { platform::set_model_registry(id); })) {
        return {failure->status, error_answer(*failure)};
    }
    return {host::HTTPStatus::OK, boost::json::object{{"success", true}}};
}

}  // namespace veyra
