#include "pipeline/app_temp_directory.hpp"

#include <cstdlib>

namespace pipeline {

std::filesystem::path default_app_temp_directory() {
    const char* tmpdir = std::getenv("TMPDIR");
    return std::filesystem::path(tmpdir && *tmpdir ? tmpdir : "/tmp") / "nuvex-link";
}

}  // namespace pipeline
