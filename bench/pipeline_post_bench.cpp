// What a DAG POST of a 200-component pipeline (about 133 KB) costs in CPU, apart from the
// network: reading the body, checking it into the pipeline model beside the network, and
// comparing it with the stored version on the handlers' strand. Boost.JSON's own parser reads
// the same body as the yardstick.

#include <benchmark/benchmark.h>

#include <boost/json/parse.hpp>
#include <cstdio>
#include <random>
#include <string>

#include "base/json_io/json_body.hpp"
#include "base/json_io/json_text.hpp"
#include "dag/dag_handler.hpp"
#include "pipeline/update_diff.hpp"

namespace {

namespace json = boost::json;
using pipeline::NuvexLinkPipelineModel;

std::string identifier(std::mt19937_64& random) {
    char text[40];
    std::snprintf(text, sizeof text, "%08llx-%04llx-4%03llx-a%03llx-%012llx",
                  static_cast<unsigned long long>(random() & 0xffffffff),
                  static_cast<unsigned long long>(random() & 0xffff),
                  static_cast<unsigned long long>(random() & 0xfff),
                  static_cast<unsigned long long>(random() & 0xfff),
                  static_cast<unsigned long long>(random() & 0xffffffffffff));
    return text;
}

// About 300 bytes of notebook code in lines of 20 to 40 characters.
std::string code(std::mt19937_64& random) {
    std::string text;
    while (text.size() < 300) {
        text += "df = df.groupby('col_" + std::to_string(random() % 100) + "').mean()\n";
    }
    return text.substr(0, 300);
}

// A "pipeline:updated" body of `size` components with the shape the front end posts; the
// second version revises a fifth of them, drops a tenth and adds a tenth.
std::string body(int size, int version) {
    std::mt19937_64 random(7);
    const std::string root = "/home/user/.nuvex/cache/" + identifier(random);
    json::array components;
    for (int i = 0; i < size; ++i) {
        const std::string id = identifier(random);
        std::string text = code(random);
        if (version == 2 && i % 5 == 0) text = code(random);
        if (version == 2 && i % 10 == 1) continue;
        json::array parents;
        if (!components.empty()) {
            parents.push_back(json::object{{"id", components.back().at("identifier")}});
        }
        components.push_back(json::object{{"identifier", id},
                                          {"name", "cell_" + id.substr(0, 8)},
                                          {"code", text},
                                          {"diskcache_dir", root + "/" + id},
                                          {"execution_status", i % 3 ? "successful" : "failed"},
                                          {"diskcache_status", i % 2 ? "cached" : "not_cached"},
                                          {"metadata", json::object()},
                                          {"parents", std::move(parents)}});
    }
    for (int i = 0; version == 2 && i < size / 10; ++i) {
        components.push_back(
            json::object{{"identifier", identifier(random)}, {"name", "new"}, {"code", ""}});
    }
    return json_io::to_json_text(json::object{
        {"procedure", "pipeline:updated"},
        {"status", "successful"},
        {"msg", ""},
        {"successful",
         {{"identifier", "p"}, {"diskcache_dir", root}, {"graph", {{"components", components}}}}}});
}

using dag::DagRoute;

// The body as the DAG route reads it, its components left as text.
json_io::JsonBody parsed(std::shared_ptr<const std::string> text) {
    static const auto preparer = DagRoute::body_preparer();
    boost::system::error_code error;
    return json_io::parse_json_body(std::move(text), error, preparer.deferred_array);
}

// A body of `size` components as the network hands it over.
std::shared_ptr<const std::string> shared_body(std::int64_t size, int version = 1) {
    return std::make_shared<const std::string>(body(static_cast<int>(size), version));
}

NuvexLinkPipelineModel prepared(std::shared_ptr<const std::string> text) {
    auto body = parsed(std::move(text));
    auto& successful = body.document.at("successful").as_object();
    return NuvexLinkPipelineModel::from_json(std::move(successful), body.deferred, body.memory);
}

void BM_BoostJsonParse(benchmark::State& state) {
    const std::string text = body(static_cast<int>(state.range(0)), 1);
    for (auto _ : state) benchmark::DoNotOptimize(json::parse(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_BoostJsonParse)->Arg(10)->Arg(200);

// Every value built, as for a body of any other route.
void BM_ParseBody(benchmark::State& state) {
    const auto text = shared_body(state.range(0));
    boost::system::error_code error;
    for (auto _ : state) benchmark::DoNotOptimize(json_io::parse_json_body(text, error));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text->size()));
}
BENCHMARK(BM_ParseBody)->Arg(10)->Arg(200);

// The components left as text.
void BM_ParseDagBody(benchmark::State& state) {
    const auto text = shared_body(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(parsed(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text->size()));
}
BENCHMARK(BM_ParseDagBody)->Arg(10)->Arg(200);

// All the network thread does with a body before the handlers' strand takes it, and the
// teardown of the pipeline it replaces.
void BM_ParseAndPrepare(benchmark::State& state) {
    const auto text = shared_body(state.range(0));
    for (auto _ : state) {
        auto body = parsed(text);
        benchmark::DoNotOptimize(DagRoute::prepare_body(body));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text->size()));
}
BENCHMARK(BM_ParseAndPrepare)->Arg(10)->Arg(200);

// The handlers' comparison of the stored version with the posted one.
void BM_CompareVersions(benchmark::State& state) {
    const auto before = prepared(shared_body(state.range(0), 1));
    const auto after = prepared(shared_body(state.range(0), 2));
    for (auto _ : state) {
        benchmark::DoNotOptimize(pipeline::get_dag_update_info(before, after));
    }
}
BENCHMARK(BM_CompareVersions)->Arg(10)->Arg(200);

}  // namespace
