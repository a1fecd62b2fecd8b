#pragma once
// Work run in a child process of its own, with a bound on its CPU time and on its memory.
// A layout that grows past what a picture is worth is stopped without touching the server,
// and each child has its own copy of a library's global state, so layouts never wait on each
// other.

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace page {

struct ChildLimits {
    std::chrono::milliseconds cpu_time{5000};
    std::size_t memory_bytes = 512u << 20;  // added to what the process maps when it forks
};

struct ChildOutcome {
    enum class End { finished, over_time, failed, abandoned };
    End end = End::failed;
    std::string output;                     // the work's result when finished
    std::string failure;                    // why, otherwise, in words for the user
    std::chrono::microseconds cpu_time{0};  // the child's user and system time
    std::size_t peak_memory_bytes = 0;      // the child's largest resident size
};

// Forks, runs `work` in the child and returns what it gave. `abandoned` is asked a few times a
// second; once it says true the child is killed. The child touches no lock the parent may hold
// at fork time: `work` must use only its own data and the allocator.
ChildOutcome run_in_child(
    const std::function<std::string()>& work, const ChildLimits& limits,
    const std::function<bool()>& abandoned = [] { return false; });

}  // namespace page
