#include "veyra/client/dataset.hpp"

#include <optional>
#include <stdexcept>
#include <string>

#include "veyra/client/platform_session.hpp"

namespace veyra::client {

void mount_dataset(PlatformSession& session) {
    session.require_login();
    const std::optional<std::string>& project_id = session.settings().project_id;
    if (!project_id || project_id->empty()) {
        throw std::runtime_error("No Veyra project is selected; select a project first.");
    }
    session.call("POST", "/v1/projects/" + path_segment(*project_id) + "/datasets/mount");
}

}  // namespace veyra::client
