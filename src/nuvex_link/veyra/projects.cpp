#include "nuvex_link/veyra/projects.hpp"

#include <stdexcept>
#include <string>

#include "nuvex_link/veyra/platform_session.hpp"
#include "nuvex_link/veyra/veyra_settings.hpp"

namespace nuvex_link::veyra {

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

}  // namespace nuvex_link::veyra
