#include "page/extension_settings.hpp"

namespace page {
namespace {

// An installed server reads its installed folder; one run from its build folder reads the
// source tree's.
std::filesystem::path installed_or_source(std::filesystem::path installed,
                                          std::filesystem::path source) {
    std::error_code error;
    if (std::filesystem::is_directory(installed, error)) return installed;
    return source;
}

}  // namespace

Settings& get_settings() {
    static Settings settings{
        installed_or_source(NUVEX_SNIPPETS_INSTALL_DIR, NUVEX_SNIPPETS_SOURCE_DIR),
        installed_or_source(NUVEX_WEB_INSTALL_DIR, NUVEX_WEB_SOURCE_DIR)};
    return settings;
}

}  // namespace page
