#include "nuvex_link/server/misc/settings.hpp"

namespace nuvex_link::server::misc {
namespace {

std::filesystem::path default_snippets_dir() {
    // An installed server reads its installed snippets; one run from its build folder reads
    // the source tree's.
    std::error_code error;
    std::filesystem::path installed = NUVEX_SNIPPETS_INSTALL_DIR;
    if (std::filesystem::is_directory(installed, error)) return installed;
    return NUVEX_SNIPPETS_SOURCE_DIR;
}

}  // namespace

Settings& get_settings() {
    static Settings settings{default_snippets_dir()};
    return settings;
}

}  // namespace nuvex_link::server::misc
