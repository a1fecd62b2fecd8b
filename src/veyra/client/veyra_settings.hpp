#pragma once
// The platform client's login state: the platform's address, the tokens and the selected
// workspace, project and model registry. Kept in memory for the handlers and persisted in
// the settings file so that a restarted server stays logged in.

#include <filesystem>
#include <optional>
#include <string>

namespace veyra::client {

struct Settings {
    std::optional<std::string> VEYRA_API_SERVER_URL;  // address without the scheme
    std::optional<std::string> VEYRA_API_PROTOCOL;    // "http" or "https"
    std::optional<std::string> TOKEN;
    std::optional<std::string> VEYRA_SDK_TOKEN;
    std::optional<std::string> VEYRA_WORKSPACE_ID;  // ids as decimal text ("5")
    std::optional<std::string> VEYRA_PROJECT_ID;
    std::optional<std::string> VEYRA_MODEL_REGISTRY_ID;
};

// The process's settings. Read and written by one Veyra operation at a time.
Settings& veyra_settings();

// $XDG_CONFIG_HOME/nuvex-link/veyra.json, else ~/.config/nuvex-link/veyra.json.
std::filesystem::path default_settings_file();

// Makes `file` (empty: the default) the settings file and loads it. A missing file means
// logged out, and so does a damaged one (with a warning in the log); a file that exists but
// cannot be opened fails with a text naming it.
void load_settings(const std::filesystem::path& file);

// Writes the settings to the settings file atomically (temporary file, then rename), mode
// 0600. Does nothing before load_settings has named a file.
void save_settings();

}  // namespace veyra::client
