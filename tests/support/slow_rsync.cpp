#include "support/slow_rsync.hpp"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace test_support {

namespace fs = std::filesystem;

SlowRsync::SlowRsync(std::string_view before)
    : old_path_(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin") {
    const fs::path& folder = folder_.path();
    fs::create_directories(folder / "running");
    write_file(folder / "bin" / "rsync",
               "#!/bin/sh\nd='" + folder.string() +
                   "'\ntouch \"$d/running/$$\"; trap 'rm -f \"$d/running/$$\"' EXIT\n"
                   "ls \"$d/running\" | wc -l >> \"$d/counts\"\n" +
                   std::string(before) + "\n/usr/bin/rsync \"$@\"\n");
    fs::permissions(folder / "bin" / "rsync", fs::perms::owner_all);
    ::setenv("PATH", ((folder / "bin").string() + ":" + old_path_).c_str(), 1);
}

SlowRsync::~SlowRsync() { ::setenv("PATH", old_path_.c_str(), 1); }

bool SlowRsync::started() const { return fs::exists(folder_.path() / "counts"); }

int SlowRsync::most_at_once() const {
    std::ifstream counts(folder_.path() / "counts");
    int most = 0;
    for (int count = 0; counts >> count;) most = std::max(most, count);
    return most;
}

}  // namespace test_support
