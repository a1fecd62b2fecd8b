#pragma once
// The dataset volumes of the selected project.

#include "veyra/client/platform_session.hpp"

namespace veyra::client {

// Asks the platform to mount the selected project's dataset volumes; fails with a text
// when no project is selected.
void mount_dataset(PlatformSession& session);

}  // namespace veyra::client
