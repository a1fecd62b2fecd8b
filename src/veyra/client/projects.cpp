#include "veyra/client/projects.hpp"

#include <stdexcept>
#include <string>

#include "veyra/client/platform_session.hpp"
#include "veyra/client/veyra_settings.hpp"

namespace veyra::client {

std::vector<ProjectInfo> get_joined_projects() {
    std::string path = "/v1/workspaces/" + workspace_path_segment() + "/projects";
    return expect_records<ProjectInfo>(call_platform("GET", path), "the joined projects");
}

void set_joined_project(std::optional<std::int64_t> project_id) {
    if (!project_id) throw std::runtime_error("No Veyra project id was given.");
    std::string id = std::to_string(*project_id);
    call_platform("GET", "/v1/projects/" + id);
    veyra_settings().VEYRA_PROJECT_ID = id;
    save_settings();
}

}  // namespace veyra::client
