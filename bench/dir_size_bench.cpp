// get_dir_size against `du -sb` on the same tree, in the same run.
// The tree comes from gen_small_tree.py (100,000 files); DIR_SIZE_ROOT overrides
// /tmp/bench-small. Run: dir_size_bench --benchmark_min_time=2
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/files/dir_size.hpp"

extern char** environ;

namespace {

std::filesystem::path tree_root() {
    const char* root = std::getenv("DIR_SIZE_ROOT");
    return root != nullptr ? root : "/tmp/bench-small";
}

bool have_tree(benchmark::State& state) {
    if (std::filesystem::is_directory(tree_root())) return true;
    state.SkipWithError("no tree: run gen_small_tree.py first (or set DIR_SIZE_ROOT)");
    return false;
}

void BM_get_dir_size(benchmark::State& state) {
    if (!have_tree(state)) return;
    for (auto _ : state) {
        benchmark::DoNotOptimize(base::get_dir_size(tree_root()));
    }
}

void BM_du_sb(benchmark::State& state) {
    if (!have_tree(state)) return;
    std::string root = tree_root().string();
    char du[] = "du", flags[] = "-sb";
    char* argv[] = {du, flags, root.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    for (auto _ : state) {
        pid_t pid;
        if (posix_spawnp(&pid, "du", &actions, nullptr, argv, environ) != 0) {
            state.SkipWithError("cannot start du");
            break;
        }
        int status;
        waitpid(pid, &status, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
}

}  // namespace

BENCHMARK(BM_get_dir_size)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_du_sb)->Unit(benchmark::kMillisecond)->UseRealTime();
