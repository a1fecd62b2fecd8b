#pragma once
// The extension's temporary directory; pipeline caches live below APP_TEMP_DIRECTORY/pipelines.
// Set once at start (--temp-dir), default $TMPDIR/nuvex-link.

#include <filesystem>

namespace pipeline {

extern std::filesystem::path APP_TEMP_DIRECTORY;

std::filesystem::path default_app_temp_directory();

}  // namespace pipeline
