#pragma once
// The workspaces the logged-in user has joined.

#include <vector>

#include "nuvex_link/veyra/records.hpp"

namespace nuvex_link::veyra {

// In the platform's order. The first workspace becomes the selected one
// (VEYRA_WORKSPACE_ID); without any, none is selected.
std::vector<WorkspaceInfo> get_joined_workspaces();

}  // namespace nuvex_link::veyra
