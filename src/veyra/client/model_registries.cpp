#include "veyra/client/model_registries.hpp"

#include <stdexcept>
#include <string>

#include "veyra/client/platform_session.hpp"
#include "veyra/client/veyra_settings.hpp"

namespace veyra::client {

std::vector<ModelRegistryInfo> get_model_registry_list() {
    std::string path = "/v1/workspaces/" + workspace_path_segment() + "/model-registries";
    return expect_records<ModelRegistryInfo>(call_platform("GET", path), "the model registries");
}

void set_model_registry(std::optional<std::int64_t> model_registry_id) {
    if (!model_registry_id) throw std::runtime_error("No Veyra model registry id was given.");
    std::string id = std::to_string(*model_registry_id);
    call_platform("GET", "/v1/model-registries/" + id);
    veyra_settings().VEYRA_MODEL_REGISTRY_ID = id;
    save_settings();
}

}  // namespace veyra::client
