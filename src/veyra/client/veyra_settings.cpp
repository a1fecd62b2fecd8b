#include "veyra/client/veyra_settings.hpp"

#include <array>
#include <boost/json/object.hpp>
#include <boost/json/parse.hpp>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "base/files/private_file.hpp"
#include "base/files/private_folder.hpp"
#include "base/json_io/json_text.hpp"
#include "base/logging/log.hpp"

namespace veyra::client {
namespace {

namespace fs = std::filesystem;

using Field = std::optional<std::string> Settings::*;

// The file's key of each setting, in the file's order.
constexpr std::array<std::pair<const char*, Field>, 7> kFields{{
    {"VEYRA_API_SERVER_URL", &Settings::api_server_url},
    {"VEYRA_API_PROTOCOL", &Settings::api_protocol},
    {"TOKEN", &Settings::token},
    {"VEYRA_SDK_TOKEN", &Settings::sdk_token},
    {"VEYRA_WORKSPACE_ID", &Settings::workspace_id},
    {"VEYRA_PROJECT_ID", &Settings::project_id},
    {"VEYRA_MODEL_REGISTRY_ID", &Settings::model_registry_id},
}};

Settings parse_settings(const std::string& text, const fs::path& file) {
    boost::system::error_code error;
    boost::json::value document = boost::json::parse(text, error);
    if (error || !document.is_object()) {
        throw std::runtime_error("The Veyra settings file " + file.string() +
                                 " is not a JSON object.");
    }
    Settings settings;
    for (const auto& [key, field] : kFields) {
        const boost::json::value* value = document.as_object().if_contains(key);
        if (value == nullptr || value->is_null()) continue;
        if (!value->is_string()) {
            throw std::runtime_error("The Veyra settings file " + file.string() + " holds a " +
                                     key + " that is not a text.");
        }
        settings.*field = std::string(value->as_string());
    }
    return settings;
}

std::system_error file_error(const std::string& what, const fs::path& path) {
    return std::system_error(errno, std::generic_category(), what + " " + path.string());
}

}  // namespace

fs::path default_settings_file() {
    const char* config_home = std::getenv("XDG_CONFIG_HOME");
    if (config_home != nullptr && *config_home != '\0') {
        return fs::path(config_home) / "nuvex-link" / "veyra.json";
    }
    const char* home = std::getenv("HOME");
    return fs::path(home != nullptr ? home : "") / ".config" / "nuvex-link" / "veyra.json";
}

Settings read_settings_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (fs::exists(path)) throw file_error("Cannot read the Veyra settings file", path);
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    try {
        return parse_settings(text.str(), path);
    } catch (const std::runtime_error& error) {
        // A damaged file only costs a new login, which rewrites it; the server still starts.
        logging::server_log().warning(std::string(error.what()) + " Starting logged out.");
        return {};
    }
}

void write_settings_file(const Settings& settings, const fs::path& path) {
    boost::json::object document;
    for (const auto& [key, field] : kFields) {
        const std::optional<std::string>& value = settings.*field;
        if (value) {
            document[key] = *value;
        } else {
            document[key] = nullptr;
        }
    }
    try {
        if (path.has_parent_path()) base::create_private_folders(path.parent_path());
        // Mode 0600, so the tokens are never readable by others; a crash leaves the old file
        // or the new one.
        base::write_private_file(path, json_io::to_json_text(document));
    } catch (const std::system_error& failure) {
        throw std::system_error(failure.code(),
                                "Cannot write the Veyra settings file " + path.string());
    }
}

}  // namespace veyra::client
