#pragma once
// The workspaces the logged-in user has joined.

#include <vector>

#include "veyra/client/records.hpp"

namespace veyra::client {

// In the platform's order. The first workspace becomes the selected one
// (VEYRA_WORKSPACE_ID); without any, none is selected.
std::vector<WorkspaceInfo> get_joined_workspaces();

}  // namespace veyra::client
