// Listing a snippets folder of 1,000 snippets (10 categories x 100, each a template with a few
// parameters and a snippet.json) once what the engine found is kept: target under 200 ms.
// Baseline from the same run: a bare walk of the same folder that looks at the same files
// (the least any listing does). The first, cold listing (interpreter start and 1,000 parses)
// is reported once as a counter.
// Run: snippet_catalogue_bench --benchmark_min_time=1
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "snippets/snippet_catalogue.hpp"

namespace {

namespace fs = std::filesystem;

constexpr int kCategories = 10;
constexpr int kSnippetsPerCategory = 100;

// A template with a loop, a condition and filters, taking five parameters.
constexpr const char* kTemplate = R"(import pandas as pd
# {{ title | default('Step', true) }}
df = pd.read_csv({{ path | tojson }})
{% for column in columns %}df[{{ column | tojson }}] = df[{{ column | tojson }}].fillna({{ fill if fill is defined else 0 }})
{% endfor %}df.head({{ rows }})
)";

void write(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }

// Made on first use, removed when the program ends.
class BenchFolder {
public:
    BenchFolder() {
        const fs::path& root = path_;
        fs::remove_all(root);
        for (int c = 0; c < kCategories; ++c) {
            for (int s = 0; s < kSnippetsPerCategory; ++s) {
                const fs::path snippet =
                    root / ("category_" + std::to_string(c)) / ("snippet_" + std::to_string(s));
                fs::create_directories(snippet);
                write(snippet / "snippet.jinja", kTemplate);
                write(
                    snippet / "snippet.json",
                    R"({"title": "Snippet )" + std::to_string(s) +
                        R"(", "description": "Reads a table.", "parameters": {"path": )"
                        R"({"description": "The file.", "example": "train.csv"}, "columns": )"
                        R"({"description": "Columns to fill.", "example": ["a", "b"]}, "rows": )"
                        R"({"description": "Rows shown.", "default": 5}, "fill": {}, "title": {}}})");
            }
        }
    }
    ~BenchFolder() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_ = fs::temp_directory_path() / "nuvex-catalogue-bench";
};

const fs::path& snippets_folder() {
    static const BenchFolder folder;
    return folder.path();
}

void BM_catalogue_list_kept(benchmark::State& state) {
    snippets::SnippetCatalogue catalogue;
    const auto start = std::chrono::steady_clock::now();
    const auto first = catalogue.list(snippets_folder());
    const std::chrono::duration<double, std::milli> cold = std::chrono::steady_clock::now() - start;
    if (first.size() != kCategories * kSnippetsPerCategory) {
        state.SkipWithError("the catalogue does not list every snippet");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(catalogue.list(snippets_folder()));
    }
    state.counters["first_list_ms"] = cold.count();
    state.counters["snippets"] = static_cast<double>(first.size());
}

void BM_bare_walk_baseline(benchmark::State& state) {
    for (auto _ : state) {
        int found = 0;
        for (const auto& category : fs::directory_iterator(snippets_folder())) {
            for (const auto& snippet : fs::directory_iterator(category.path())) {
                struct stat status {};
                found += ::stat((snippet.path() / "snippet.jinja").c_str(), &status) == 0;
                found += ::stat((snippet.path() / "snippet.json").c_str(), &status) == 0;
            }
        }
        benchmark::DoNotOptimize(found);
    }
}

}  // namespace

BENCHMARK(BM_catalogue_list_kept)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_bare_walk_baseline)->Unit(benchmark::kMillisecond)->UseRealTime();
