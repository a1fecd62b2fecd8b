#include "app/extension.hpp"

#include <unistd.h>

#include "pipeline/app_temp_directory.hpp"
#include "pipeline/pipelines_folder.hpp"

namespace app {
namespace {

// An installed server reads its installed folder; one run from its build folder reads the
// source tree's.
std::filesystem::path installed_or_source(std::filesystem::path installed,
                                          std::filesystem::path source) {
    std::error_code error;
    if (std::filesystem::is_directory(installed, error)) return installed;
    return source;
}

std::filesystem::path given_or(const std::filesystem::path& given, std::filesystem::path fallback) {
    return given.empty() ? std::move(fallback) : std::filesystem::absolute(given);
}

}  // namespace

Extension::Extension(const CommandLine& line)
    : app_temp_directory(given_or(line.temp_dir, pipeline::default_app_temp_directory())),
      snippets_dir(given_or(line.snippets_dir, installed_or_source(NUVEX_SNIPPETS_INSTALL_DIR,
                                                                   NUVEX_SNIPPETS_SOURCE_DIR))),
      web_dir(installed_or_source(NUVEX_WEB_INSTALL_DIR, NUVEX_WEB_SOURCE_DIR)),
      host_pid(line.host_pid.value_or(::getpid())),
      kernels_listed_by_notebook_server(!line.jupyter_url.empty()),
      veyra_account(line.veyra_settings) {
    // Checked at start, so that a folder the server will not use is in the log at once.
    pipeline::check_pipelines_folder(app_temp_directory);
}

}  // namespace app
