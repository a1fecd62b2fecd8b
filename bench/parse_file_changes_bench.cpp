// Parsing rsync's itemized output into change records, in bytes of output per second.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "datasets/dataset_diff_handler.hpp"

namespace {

using datasets::DataSetDiffBaseHandler;

// The output of one 20,000-file dataset with 5% added, deleted and edited, as rsync prints it:
// directory lines, deletions, edits and new files under 100 folders.
std::string itemized_output(int files) {
    std::string text = ".d..t...... ./\n";
    char line[96];
    for (int i = 0; i < files; ++i) {
        if (i % 200 == 0) {
            std::snprintf(line, sizeof line, ".d..t...... d%03d/\n", i / 200 % 100);
            text += line;
        }
        const char* code = i % 3 == 0 ? "*deleting  " : i % 3 == 1 ? ">f.st......" : ">f+++++++++";
        const char* stem = i % 3 == 0 ? "old" : "part";
        std::snprintf(line, sizeof line, "%s d%03d/%s-%05d.parquet\n", code, i % 100, stem, i);
        text += line;
    }
    return text;
}

void BM_ParseFileChanges(benchmark::State& state) {
    const std::string output = itemized_output(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(DataSetDiffBaseHandler::parse_file_changes(output));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * output.size()));
}
BENCHMARK(BM_ParseFileChanges)->Arg(3000)->Arg(300000);

// Names with runs of blanks take the slower joining path.
void BM_ParseFileChangesBlankRuns(benchmark::State& state) {
    std::string output;
    for (int i = 0; i < 30000; ++i) output += ">f+++++++++ my  holiday   photos/img  0001.jpeg\n";
    for (auto _ : state) {
        benchmark::DoNotOptimize(DataSetDiffBaseHandler::parse_file_changes(output));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * output.size()));
}
BENCHMARK(BM_ParseFileChangesBlankRuns);

}  // namespace
