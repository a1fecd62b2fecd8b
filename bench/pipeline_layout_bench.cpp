// The pipeline picture at size: the shapes notebooks have (a chain where every step also reads
// the first, a chain with skip edges, each step reading a few of the ten before, a wide fan-in,
// a star where every step reads only the first) and two dense random ones, at 200, 1,000 and
// 2,000 components. Each layout runs in a child process as the server runs it; the time is the
// child's CPU time (user and system), and peak_MiB its largest resident size. The baseline,
// "every_edge", lays out every edge of the same graph with the same attributes, as the picture
// was drawn before implied edges were left out; it is stopped after 20 s of CPU.
//
// build/bench/bench/pipeline_layout_bench --benchmark_filter=layout/      (the picture as drawn)
// build/bench/bench/pipeline_layout_bench --benchmark_filter=every_edge/  (the baseline)

#include <benchmark/benchmark.h>

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <chrono>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "page/bounded_child.hpp"
#include "page/pipeline_drawing.hpp"

namespace {

using Parents = std::function<std::set<int>(int step, int count, std::mt19937& random)>;

// Picks `how_many` distinct steps in [first, last], as many as there are.
std::set<int> some_of(int first, int last, int how_many, std::mt19937& random) {
    std::set<int> chosen;
    if (last < first) return chosen;
    how_many = std::min(how_many, last - first + 1);
    std::uniform_int_distribution<int> pick(first, last);
    while (static_cast<int>(chosen.size()) < how_many) chosen.insert(pick(random));
    return chosen;
}

struct Shape {
    const char* name;
    Parents parents;
};

const std::vector<Shape>& shapes() {
    static const std::vector<Shape> all{
        {"reads_first",
         [](int i, int, std::mt19937&) {
             return i == 0 ? std::set<int>{} : std::set<int>{0, i - 1};
         }},
        {"skip_to_half",
         [](int i, int, std::mt19937&) {
             std::set<int> parents;
             if (i > 0) parents.insert(i - 1);
             if (i > 3 && i % 3 == 0) parents.insert(i / 2);
             return parents;
         }},
        {"ten_before",
         [](int i, int, std::mt19937& random) {
             const int how_many = std::uniform_int_distribution<int>(1, 3)(random);
             return some_of(std::max(0, i - 10), i - 1, how_many, random);
         }},
        {"fan_in_500",
         [](int i, int count, std::mt19937&) {
             // Step 0 feeds `wide` steps, one step reads them all, a chain follows.
             const int wide = std::min(500, count / 2);
             if (i == 0) return std::set<int>{};
             if (i <= wide) return std::set<int>{0};
             if (i == wide + 1) {
                 std::set<int> all;
                 for (int step = 1; step <= wide; ++step) all.insert(step);
                 return all;
             }
             return std::set<int>{i - 1};
         }},
        {"star",
         [](int i, int, std::mt19937&) { return i == 0 ? std::set<int>{} : std::set<int>{0}; }},
        {"fifty_before",
         [](int i, int, std::mt19937& random) {
             return some_of(std::max(0, i - 50), i - 1, 3, random);
         }},
        {"anywhere", [](int i, int, std::mt19937& random) { return some_of(0, i - 1, 3, random); }},
    };
    return all;
}

pipeline::NuvexLinkPipelineModel pipeline_of(const Shape& shape, int count) {
    std::mt19937 random(23);
    boost::json::array components;
    for (int i = 0; i < count; ++i) {
        boost::json::array parents;
        for (int parent : shape.parents(i, count, random)) {
            parents.push_back(boost::json::object{{"id", "c" + std::to_string(parent)}});
        }
        components.push_back(
            boost::json::object{{"identifier", "c" + std::to_string(i)},
                                {"name", "step_" + std::to_string(i)},
                                {"code", "x = 1"},
                                {"diskcache_dir", nullptr},
                                {"execution_status", i % 5 ? "successful" : "running"},
                                {"diskcache_status", i % 2 ? "cached" : "not_cached"},
                                {"metadata", boost::json::object()},
                                {"parents", std::move(parents)}});
    }
    return pipeline::NuvexLinkPipelineModel::from_json(
        boost::json::object{{"identifier", "k"},
                            {"name", "bench"},
                            {"diskcache_dir", nullptr},
                            {"graph", boost::json::object{{"components", std::move(components)}}}});
}

void lay_out(benchmark::State& state, const Shape& shape, int count, bool every_edge,
             std::chrono::milliseconds bound) {
    const auto pipeline = pipeline_of(shape, count);
    for (auto _ : state) {
        const page::ChildOutcome outcome = page::run_in_child(
            [&] {
                auto drawing = page::draw_pipeline(pipeline);
                if (every_edge) {
                    for (auto& edge : drawing.edges) edge.implied = false;
                }
                return page::render_svg(drawing);
            },
            page::ChildLimits{bound, std::size_t{2} << 30});
        if (outcome.end != page::ChildOutcome::End::finished) {
            state.SkipWithError(("stopped: " + outcome.failure).c_str());
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(outcome.cpu_time).count());
        state.counters["peak_MiB"] =
            static_cast<double>(outcome.peak_memory_bytes) / (1024.0 * 1024.0);
        state.counters["svg_KiB"] = static_cast<double>(outcome.output.size()) / 1024.0;
    }
}

const bool registered = [] {
    for (const Shape& shape : shapes()) {
        for (int count : {200, 1000, 2000}) {
            benchmark::RegisterBenchmark(
                ("layout/" + std::string(shape.name) + "/" + std::to_string(count)).c_str(),
                [&shape, count](benchmark::State& state) {
                    lay_out(state, shape, count, false, std::chrono::seconds(20));
                })
                ->Iterations(1)
                ->Repetitions(3)
                ->ReportAggregatesOnly(true)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(
                ("every_edge/" + std::string(shape.name) + "/" + std::to_string(count)).c_str(),
                [&shape, count](benchmark::State& state) {
                    lay_out(state, shape, count, true, std::chrono::seconds(20));
                })
                ->Iterations(1)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
        }
    }
    return true;
}();

}  // namespace
