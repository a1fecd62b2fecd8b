#include "veyra/project_handler.hpp"

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/value.hpp>
#include <vector>

#include "host/json_answer.hpp"
#include "veyra/body_values.hpp"
#include "veyra/operation_turn.hpp"
#include "veyra/platform_failure.hpp"
#include "veyra/client/dataset.hpp"
#include "veyra/client/projects.hpp"

namespace veyra {

namespace platform = veyra::client;
using host::HTTPStatus;

void NuvexVeyraProjectHandler::get(const host::PathArgs&) {
    wait_for(run_veyra_operation([this] { _get(); }));
}

void NuvexVeyraProjectHandler::_get() {
    std::vector<platform::ProjectInfo> projects;
    if (auto failure = run_platform_call([&] { projects = platform::get_joined_projects(); })) {
        _finish_with_result(failure->status, error_answer(*failure));
        return;
    }
    boost::json::array result;
    for (const platform::ProjectInfo& project : projects) result.push_back(project.to_dict());
    _finish_with_result(host::HTTPStatus::OK, result);
}

void NuvexVeyraProjectHandler::post(const host::PathArgs&) {
    wait_for(run_veyra_operation([this] { _post(); }));
}

void NuvexVeyraProjectHandler::_post() {
    boost::json::value body = get_json_body();
    const boost::json::object& fields = body_object(body);
    const boost::json::value* project_id = fields.if_contains("project_id");
    if (project_id == nullptr) {
        _finish_with_result(host::HTTPStatus::BAD_REQUEST,
                            boost::json::object{{"message", required_in_body("project_id")}});
        return;
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
        _finish_with_result(failure->status, error_answer(*failure));
        return;
    }
    _finish_with_result(host::HTTPStatus::OK, boost::json::object{{"success", true}});
}

void NuvexVeyraProjectHandler::_finish_with_result(host::HTTPStatus status_code,
                                                   const boost::json::value& result) {
    finish_with_json(*this, status_code, result);
}

}  // namespace veyra
