#include "veyra/project_handler.hpp"

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/value.hpp>
#include <vector>

#include "host/json_answer.hpp"
#include "veyra/body_values.hpp"
#include "veyra/client/dataset.hpp"
#include "veyra/client/projects.hpp"
#include "veyra/operation_turn.hpp"
#include "veyra/platform_failure.hpp"

namespace veyra {

namespace platform = veyra::client;
using host::HTTPStatus;

host::Task NuvexVeyraProjectHandler::get(const host::PathArgs&) {
    const VeyraAnswer answer = co_await run_veyra_operation(*this, [] { return list(); });
    finish_with_json(*this, answer.first, answer.second);
}

VeyraAnswer NuvexVeyraProjectHandler::list() {
    std::vector<platform::ProjectInfo> projects;
    if (auto failure = run_platform_call([&] { projects = platform::get_joined_projects(); })) {
        return {failure->status, error_answer(*failure)};
    }
    boost::json::array result;
    for (const platform::ProjectInfo& project : projects) result.push_back(project.to_dict());
    return {host::HTTPStatus::OK, result};
}

host::Task NuvexVeyraProjectHandler::post(const host::PathArgs&) {
    // Captured by reference: GCC 12 destroys what a temporary in a co_await expression owns twice.
    const boost::json::value body = get_json_body();
    const VeyraAnswer answer =
        co_await run_veyra_operation(*this, [&body] { return select(body); });
    finish_with_json(*this, answer.first, answer.second);
}

VeyraAnswer NuvexVeyraProjectHandler::select(const boost::json::value& body) {
    const boost::json::object& fields = body_object(body);
    const boost::json::value* project_id = fields.if_contains("project_id");
    if (project_id == nullptr) {
        return {host::HTTPStatus::BAD_REQUEST,
                boost::json::object{{"message", required_in_body("project_id")}}};
    }
    std::optional<std::int64_t> id = integer_or_null(*project_id, "project_id");
    const boost::json::value* mount_volumes = fields.if_contains("mount_volumes");
    bool mount = mount_volumes == nullptr || is_truthy(*mount_volumes);

    // A failed mount leaves the project selected: the selection itself succeeded.
    auto failure = run_platform_call([&] {
        platform::set_joined_project(id);
        if (mount) platform::mount_dataset();
    });
    if (failure) {
        return {failure->status, error_answer(*failure)};
    }
    return {host::HTTPStatus::OK, boost::json::object{{"success", true}}};
}

}  // namespace veyra
