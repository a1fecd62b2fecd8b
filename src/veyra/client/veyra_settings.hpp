#pragma once
// The platform client's login state: the platform's address, the tokens and the selected
// workspace, project and model registry, and the file that keeps them so that a restarted
// server stays logged in.

#include <filesystem>
#include <optional>
#include <string>

namespace veyra::client {

// In the file each setting is a text or null under its upper-case key ("VEYRA_PROJECT_ID").
struct Settings {
    std::optional<std::string> api_server_url;  // address without the scheme
    std::optional<std::string> api_protocol;    // "http" or "https"
    std::optional<std::string> token;
    std::optional<std::string> sdk_token;
    std::optional<std::string> workspace_id;  // ids as decimal text ("5")
    std::optional<std::string> project_id;
    std::optional<std::string> model_registry_id;
};

// $XDG_CONFIG_HOME/nuvex-link/veyra.json, else ~/.config/nuvex-link/veyra.json.
std::filesystem::path default_settings_file();

// The settings kept in `file`. A missing file means logged out, and so does a damaged one
// (with a warning in the log); a file that exists but cannot be opened fails with a text
// naming it.
Settings read_settings_file(const std::filesystem::path& file);

// Writes the settings to `file` atomically (temporary file, then rename), mode 0600.
void write_settings_file(const Settings& settings, const std::filesystem::path& file);

}  // namespace veyra::client
