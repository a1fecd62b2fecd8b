#pragma once
// The dataset volumes of the selected project.

namespace veyra::client {

// Asks the platform to mount the selected project's dataset volumes; fails with a text
// when no project is selected.
void mount_dataset();

}  // namespace veyra::client
