#pragma once
// The extension's temporary directory (--temp-dir, by default $TMPDIR/nuvex-link); pipeline
// caches live below its "pipelines" folder.

#include <filesystem>

namespace pipeline {

std::filesystem::path default_app_temp_directory();

}  // namespace pipeline
