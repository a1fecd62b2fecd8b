#include "veyra/client/model_registries.hpp"

#include <stdexcept>
#include <string>

#include "veyra/client/platform_session.hpp"

namespace veyra::client {

std::vector<ModelRegistryInfo> get_model_registry_list(PlatformSession& session) {
    std::string path = "/v1/workspaces/" + session.workspace_path_segment() + "/model-registries";
    return expect_records<ModelRegistryInfo>(session.call("GET", path), "the model registries");
}

void set_model_registry(PlatformSession& session, std::optional<std::int64_t> model_registry_id) {
    if (!model_registry_id) throw std::runtime_error("No Veyra model registry id was given.");
    std::string id = std::to_string(*model_registry_id);
    session.call("GET", "/v1/model-registries/" + id);
    session.settings().model_registry_id = id;
    session.save_settings();
}

}  // namespace veyra::client
