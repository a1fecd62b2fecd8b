#pragma once
// The projects of the selected workspace, and the selected project.

#include <cstdint>
#include <optional>
#include <vector>

#include "veyra/client/records.hpp"

namespace veyra::client {

std::vector<ProjectInfo> get_joined_projects();

// Checks that the project exists for the user, then selects it (VEYRA_PROJECT_ID).
// A null id fails with a text saying so.
void set_joined_project(std::optional<std::int64_t> project_id);

}  // namespace veyra::client
