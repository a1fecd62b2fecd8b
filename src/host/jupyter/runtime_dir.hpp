#pragma once
// Where notebook servers keep their runtime files, and the host's version text.

#include <filesystem>
#include <string>

namespace host {

// $JUPYTER_RUNTIME_DIR, else $JUPYTER_DATA_DIR/runtime, else $XDG_DATA_HOME/jupyter/runtime,
// else ~/.local/share/jupyter/runtime.
std::filesystem::path jupyter_runtime_dir();

// The server's version, the same text as the runtime file's "version".
const std::string& server_version();

}  // namespace host
