#pragma once
// The model registries of the selected workspace, and the selected registry.

#include <cstdint>
#include <optional>
#include <vector>

#include "veyra/client/records.hpp"

namespace veyra::client {

std::vector<ModelRegistryInfo> get_model_registry_list();

// Checks that the registry exists for the user, then selects it (VEYRA_MODEL_REGISTRY_ID).
// A null id fails with a text saying so.
void set_model_registry(std::optional<std::int64_t> model_registry_id);

}  // namespace veyra::client
