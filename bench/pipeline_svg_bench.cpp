// The picture of a pipeline: laying out and drawing 200 components (and larger ones, to see
// how the layout grows), and building the graph alone.

#include <benchmark/benchmark.h>

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <string>

#include "page/pipeline_drawing.hpp"

namespace {

// A notebook-like pipeline: each component reads one or two earlier ones.
pipeline::NuvexLinkPipelineModel pipeline_of(int count) {
    boost::json::array components;
    for (int i = 0; i < count; ++i) {
        boost::json::array parents;
        if (i > 0) parents.push_back(boost::json::object{{"id", "c" + std::to_string(i - 1)}});
        if (i > 3 && i % 3 == 0) {
            parents.push_back(boost::json::object{{"id", "c" + std::to_string(i / 2)}});
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

void BM_PipelineSvg(benchmark::State& state) {
    const auto pipeline = pipeline_of(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(page::pipeline_svg(pipeline));
}
BENCHMARK(BM_PipelineSvg)->Arg(200)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DrawPipeline(benchmark::State& state) {
    const auto pipeline = pipeline_of(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(page::draw_pipeline(pipeline));
}
BENCHMARK(BM_DrawPipeline)->Arg(200)->Unit(benchmark::kMicrosecond);

}  // namespace
