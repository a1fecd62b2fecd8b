#include "veyra/client/workspaces.hpp"

#include <optional>
#include <stdexcept>
#include <string>

#include "veyra/client/platform_session.hpp"
#include "veyra/client/veyra_settings.hpp"

namespace veyra::client {
namespace {

// Ids are kept as decimal text whether the platform sends a number or a text.
std::string id_text(const boost::json::object& record) {
    const boost::json::value* id = record.if_contains("id");
    if (id != nullptr) {
        if (id->is_string()) return std::string(id->as_string());
        if (id->is_int64()) return std::to_string(id->as_int64());
        if (id->is_uint64()) return std::to_string(id->as_uint64());
    }
    throw std::runtime_error("Veyra's workspace has no \"id\" that is a number or a text.");
}

}  // namespace

std::vector<WorkspaceInfo> get_joined_workspaces() {
    auto workspaces = expect_records<WorkspaceInfo>(call_platform("GET", "/v1/workspaces"),
                                                    "the joined workspaces");
    std::optional<std::string> selected;
    if (!workspaces.empty()) selected = id_text(workspaces.front().kwargs);
    Settings& settings = veyra_settings();
    if (settings.VEYRA_WORKSPACE_ID != selected) {
        settings.VEYRA_WORKSPACE_ID = selected;
        save_settings();
    }
    return workspaces;
}

}  // namespace veyra::client
