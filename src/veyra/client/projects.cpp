#include "veyra/client/projects.hpp"

#include <stdexcept>
#include <string>

#include "veyra/client/platform_session.hpp"

namespace veyra::client {

std::vector<ProjectInfo> get_joined_projects(PlatformSession& session) {
    std::string path = "/v1/workspaces/" + session.workspace_path_segment() + "/projects";
    return expect_records<ProjectInfo>(session.call("GET", path), "the joined projects");
}

void set_joined_project(PlatformSession& session, std::optional<std::int64_t> project_id) {
    if (!project_id) throw std::runtime_error("No Veyra project id was given.");
    std::string id = std::to_string(*project_id);
    session.call("GET", "/v1/projects/" + id);
    session.settings().project_id = id;
    session.save_settings();
}

}  // namespace veyra::client
