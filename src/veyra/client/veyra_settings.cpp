#include "veyra/client/veyra_settings.hpp"

#include <fcntl.h>
#include <unistd.h>

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

#include "base/json_io/json_text.hpp"
#include "base/logging/log.hpp"

namespace veyra::client {
namespace {

namespace fs = std::filesystem;

std::optional<fs::path>& settings_file() {
    static std::optional<fs::path> file;
    return file;
}

using Field = std::optional<std::string> Settings::*;

// The file's keys are the settings' names, in this order.
constexpr std::array<std::pair<const char*, Field>, 7> kFields{{
    {"VEYRA_API_SERVER_URL", &Settings::VEYRA_API_SERVER_URL},
    {"VEYRA_API_PROTOCOL", &Settings::VEYRA_API_PROTOCOL},
    {"TOKEN", &Settings::TOKEN},
    {"VEYRA_SDK_TOKEN", &Settings::VEYRA_SDK_TOKEN},
    {"VEYRA_WORKSPACE_ID", &Settings::VEYRA_WORKSPACE_ID},
    {"VEYRA_PROJECT_ID", &Settings::VEYRA_PROJECT_ID},
    {"VEYRA_MODEL_REGISTRY_ID", &Settings::VEYRA_MODEL_REGISTRY_ID},
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

void write_all(int fd, std::string_view text, const fs::path& path) {
    while (!text.empty()) {
        ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            throw file_error("Cannot write the Veyra settings file", path);
        }
        text.remove_prefix(static_cast<size_t>(written));
    }
}

}  // namespace

Settings& veyra_settings() {
    static Settings settings;
    return settings;
}

fs::path default_settings_file() {
    const char* config_home = std::getenv("XDG_CONFIG_HOME");
    if (config_home != nullptr && *config_home != '\0') {
        return fs::path(config_home) / "nuvex-link" / "veyra.json";
    }
    const char* home = std::getenv("HOME");
    return fs::path(home != nullptr ? home : "") / ".config" / "nuvex-link" / "veyra.json";
}

void load_settings(const fs::path& file) {
    fs::path path = file.empty() ? default_settings_file() : file;
    settings_file() = path;
    veyra_settings() = Settings{};

    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (fs::exists(path)) throw file_error("Cannot read the Veyra settings file", path);
        return;
    }
    std::ostringstream text;
    text << in.rdbuf();
    try {
        veyra_settings() = parse_settings(text.str(), path);
    } catch (const std::runtime_error& error) {
        // A damaged file only costs a new login, which rewrites it; the server still starts.
        logging::server_log().warning(std::string(error.what()) + " Starting logged out.");
    }
}

void save_settings() {
    if (!settings_file()) return;
    const fs::path& path = *settings_file();

    boost::json::object document;
    for (const auto& [key, field] : kFields) {
        const std::optional<std::string>& value = veyra_settings().*field;
        if (value) {
            document[key] = *value;
        } else {
            document[key] = nullptr;
        }
    }
    std::string text = json_io::to_json_text(document);

    if (path.has_parent_path()) {
        std::error_code ignored;
        if (fs::create_directories(path.parent_path(), ignored)) {
            fs::permissions(path.parent_path(), fs::perms::owner_all, ignored);
        }
    }
    // mkstemp creates the file with mode 0600, so the tokens are never readable by others,
    // and the rename replaces the old file in one step: a crash leaves the old or the new one.
    std::string temporary = path.string() + ".XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) throw file_error("Cannot write the Veyra settings file", path);
    try {
        write_all(fd, text, path);
        if (::fsync(fd) != 0) throw file_error("Cannot write the Veyra settings file", path);
    } catch (...) {
        ::close(fd);
        ::unlink(temporary.c_str());
        throw;
    }
    ::close(fd);
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        auto error = file_error("Cannot replace the Veyra settings file", path);
        ::unlink(temporary.c_str());
        throw error;
    }
}

}  // namespace veyra::client
