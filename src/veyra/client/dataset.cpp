#include "veyra/client/dataset.hpp"

#include <optional>
#include <stdexcept>
#include <string>

#include "veyra/client/platform_session.hpp"
#include "veyra/client/veyra_settings.hpp"

namespace veyra::client {

void mount_dataset() {
    require_login();
    const std::optional<std::string>& project_id = veyra_settings().VEYRA_PROJECT_ID;
    if (!project_id || project_id->empty()) {
        throw std::runtime_error("No Veyra project is selected; select a project first.");
    }
    call_platform("POST", "/v1/projects/" + path_segment(*project_id) + "/datasets/mount");
}

}  // namespace veyra::client
