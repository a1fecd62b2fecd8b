#pragma once
// A stand-in "rsync" first on the PATH while it lives: it runs some shell lines of the test's
// (a pause chosen by the arguments, say, or output of its own and an exit), then the real
// rsync, and records how many runs were under way at once.

#include <string>
#include <string_view>

#include "support/temp_dir.hpp"

namespace test_support {

class SlowRsync {
public:
    // `before` runs first, with the arguments in "$@"; it may `exit` to skip the real rsync.
    explicit SlowRsync(std::string_view before);
    ~SlowRsync();
    SlowRsync(const SlowRsync&) = delete;
    SlowRsync& operator=(const SlowRsync&) = delete;

    bool started() const;
    int most_at_once() const;

private:
    TempDir folder_{"nuvex-rsync"};
    std::string old_path_;
};

}  // namespace test_support
