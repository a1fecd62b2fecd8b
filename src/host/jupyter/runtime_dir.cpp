#include "host/jupyter/runtime_dir.hpp"

#include <cstdlib>

namespace host {
namespace {

std::filesystem::path from_env(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? std::filesystem::path(value) : std::filesystem::path();
}

}  // namespace

std::filesystem::path jupyter_runtime_dir() {
    if (auto dir = from_env("JUPYTER_RUNTIME_DIR"); !dir.empty()) return dir;
    if (auto dir = from_env("JUPYTER_DATA_DIR"); !dir.empty()) return dir / "runtime";
    if (auto dir = from_env("XDG_DATA_HOME"); !dir.empty()) return dir / "jupyter" / "runtime";
    return from_env("HOME") / ".local" / "share" / "jupyter" / "runtime";
}

const std::string& server_version() {
    static const std::string version = NUVEX_VERSION;
    return version;
}

}  // namespace host
