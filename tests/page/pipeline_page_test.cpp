// The pipeline page's routes through the real server: the SVG picture, the kernel list, the
// page and its static files, and who may read them.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/pipelines.hpp"
#include "support/svg_reading.hpp"
#include "support/temp_dir.hpp"
#include "support/test_server.hpp"

namespace {

using test_support::ComponentShape;
using test_support::pipeline_of_shapes;
using test_support::read_svg;
using test_support::store_pipeline;
using test_support::SvgDrawing;
using test_support::TestServer;

SvgDrawing drawing_of(const TestServer& server, std::string_view kernel_id) {
    const auto response =
        server.get("/nuvex-link/view/kernels/" + std::string(kernel_id) + "/graph.svg");
    EXPECT_EQ(response.status, 200) << response.body;
    EXPECT_EQ(response.header("Content-Type"), "image/svg+xml; charset=utf-8");
    auto reading = read_svg(response.body);
    EXPECT_TRUE(reading.drawing) << reading.failure;
    return reading.drawing.value_or(SvgDrawing{});
}

TEST(PipelineGraphRoute, DrawsEachComponentAndEachParentEdge) {
    TestServer server;
    store_pipeline(server, "k1",
                   pipeline_of_shapes({{"load", {}},
                                       {"clean", {}, "running", "caching", {"load"}},
                                       {"train", {}, "failed", "not_cached", {"clean"}}},
                                      {}));
    const auto drawing = drawing_of(server, "k1");
    std::vector<std::string> titles;
    for (const auto& node : drawing.nodes) titles.push_back(node.title);
    EXPECT_THAT(titles, testing::UnorderedElementsAre("load", "clean", "train"));
    ASSERT_EQ(drawing.edges.size(), 2u);
    EXPECT_TRUE(drawing.edge("load", "clean"));
    EXPECT_TRUE(drawing.edge("clean", "train"));
    EXPECT_THAT(drawing.node("train")->texts,
                testing::ElementsAre("cell train", "failed · ○ not cached"));
}

TEST(PipelineGraphRoute, DrawsMissingParentsDashedAndCyclesRed) {
    TestServer server;
    store_pipeline(server, "k1",
                   pipeline_of_shapes({{"a", {}, "successful", "cached", {"b"}},
                                       {"b", {}, "successful", "cached", {"a", "gone"}},
                                       {"c", {}, "successful", "cached", {"b"}}},
                                      {}));
    const auto drawing = drawing_of(server, "k1");
    ASSERT_TRUE(drawing.node("gone"));
    EXPECT_TRUE(drawing.node("gone")->dashed);
    EXPECT_FALSE(drawing.node("a")->dashed);
    EXPECT_EQ(drawing.edge("a", "b")->stroke, "#d64545");
    EXPECT_EQ(drawing.edge("b", "a")->stroke, "#d64545");
    EXPECT_NE(drawing.edge("b", "c")->stroke, "#d64545");
    EXPECT_NE(drawing.edge("gone", "b")->stroke, "#d64545");
}

TEST(PipelineGraphRoute, ShowsAScriptNamedComponentAsText) {
    TestServer server;
    auto component = test_support::make_component("x<y>&\"z\"");
    component["name"] = "<script>alert(1)</script>";
    store_pipeline(server, "k1", test_support::make_pipeline("k1", {component}));
    const auto response = server.get("/nuvex-link/view/kernels/k1/graph.svg");
    EXPECT_EQ(response.body.find("<script"), std::string::npos);
    const auto drawing = drawing_of(server, "k1");
    ASSERT_EQ(drawing.nodes.size(), 1u);
    EXPECT_EQ(drawing.nodes[0].title, "x<y>&\"z\"");
    EXPECT_EQ(drawing.nodes[0].texts.at(0), "<script>alert(1)</script>");
}

TEST(PipelineGraphRoute, KeepsThePictureUntilThePipelineChanges) {
    TestServer server;
    store_pipeline(server, "k1", pipeline_of_shapes({{"a", {}}}, {}));
    const auto first = server.get("/nuvex-link/view/kernels/k1/graph.svg").body;
    EXPECT_EQ(server.get("/nuvex-link/view/kernels/k1/graph.svg").body, first);
    store_pipeline(server, "k1",
                   pipeline_of_shapes({{"a", {}}, {"b", {}, "successful", "cached", {"a"}}}, {}));
    const auto second = drawing_of(server, "k1");
    EXPECT_EQ(second.nodes.size(), 2u);
    EXPECT_EQ(second.edges.size(), 1u);
}

TEST(PipelineGraphRoute, UnknownKernelIs404) {
    TestServer server;
    test_support::expect_json_answer(server.get("/nuvex-link/view/kernels/k9/graph.svg"), 404,
                                     R"({"message": "kernel_id: 'k9' not valid."})");
}

TEST(PipelineKernelsRoute, ListsKernelsWithTheirCacheByKernelId) {
    TestServer server;
    const auto cache = server.temp_dir() / "pipelines" / "p" / "c1";
    test_support::write_file(cache / "part.bin", std::string(1000, 'x'));
    test_support::write_file(cache / "more" / "part.bin", std::string(24, 'y'));
    store_pipeline(server, "k2", pipeline_of_shapes({{"only", {}, "running", "not_cached"}}, {}));
    store_pipeline(server, "k1",
                   pipeline_of_shapes({{"c1", cache.string()},
                                       {"c2", {}, "successful", "cached"},
                                       {"c3", cache.string(), "failed", "cached"}},
                                      {}));
    test_support::expect_json_answer(
        server.get("/nuvex-link/view/kernels"), 200,
        R"([{"kernel_id": "k1", "name": "pipeline", "components": 3, "cached": 2, "cache_bytes": 1024}, )"
        R"({"kernel_id": "k2", "name": "pipeline", "components": 1, "cached": 0, "cache_bytes": 0}])");
}

TEST(PipelinePage, ItsDataNeedsTheTokenButThePageAndItsFilesDoNot) {
    TestServer server;
    store_pipeline(server, "k1", pipeline_of_shapes({{"a", {}}}, {}));
    for (const char* target : {"/nuvex-link/view/kernels", "/nuvex-link/view/kernels/k1/graph.svg",
                               "/nuvex-link/view/kernels/k1/components/a/cache"}) {
        test_support::expect_json_answer(server.get(target, /*with_token=*/false), 403,
                                         R"({"message": "Forbidden", "reason": null})");
    }

    // The page holds no data: a reload, with the token no longer in the address, loads it.
    const auto page = server.get("/nuvex-link/view/", /*with_token=*/false);
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.header("Content-Type"), "text/html; charset=utf-8");
    EXPECT_THAT(page.header("Content-Security-Policy"), testing::StartsWith("default-src 'self'"));
    EXPECT_THAT(page.body, testing::HasSubstr("static/app.js"));
    EXPECT_THAT(page.body, testing::HasSubstr("<body data-host=\"standalone\">"));

    const auto script = server.get("/nuvex-link/view/static/app.js", /*with_token=*/false);
    EXPECT_EQ(script.status, 200);
    EXPECT_EQ(script.header("Content-Type"), "text/javascript; charset=utf-8");
    EXPECT_EQ(server.get("/nuvex-link/view/static/style.css", false).header("Content-Type"),
              "text/css; charset=utf-8");
}

TEST(PipelinePage, InsideJupyterSaysSoForTheHeaderToNameJupyterServer) {
    // Another process stands for the notebook server: the one that started this test.
    TestServer server([](app::CommandLine& line) { line.host_pid = ::getppid(); });
    EXPECT_THAT(server.get("/nuvex-link/view/").body,
                testing::HasSubstr("<body data-host=\"jupyter\">"));
}

TEST(PipelinePage, WithoutItsSlashMovesToThePageKeepingKernelAndToken) {
    TestServer server;
    const auto moved = server.get("/nuvex-link/view?kernel_id=k%201&other=x");
    EXPECT_EQ(moved.status, 301);
    EXPECT_EQ(moved.header("Location"), "view/?token=" + server.token() + "&kernel_id=k%201");
    const auto bare = server.get("/nuvex-link/view", /*with_token=*/false);
    EXPECT_EQ(bare.status, 301);
    EXPECT_EQ(bare.header("Location"), "view/");
}

TEST(ComponentCacheRoute, MeasuresOneComponentsCacheFolder) {
    TestServer server;
    const auto cache = server.temp_dir() / "pipelines" / "p" / "c1";
    test_support::write_file(cache / "part.bin", std::string(1000, 'x'));
    test_support::write_file(cache / "more" / "part.bin", std::string(24, 'y'));
    store_pipeline(
        server, "k1",
        pipeline_of_shapes({{"c1", cache.string()}, {"c2", {}}, {"c3", (cache / "gone").string()}},
                           {}));
    const std::string base = "/nuvex-link/view/kernels/k1/components/";
    test_support::expect_json_answer(server.get(base + "c1/cache"), 200,
                                     R"({"identifier": "c1", "cache_bytes": 1024})");
    test_support::expect_json_answer(server.get(base + "c2/cache"), 200,
                                     R"({"identifier": "c2", "cache_bytes": null})");
    test_support::expect_json_answer(server.get(base + "c3/cache"), 200,
                                     R"({"identifier": "c3", "cache_bytes": 0})");
    test_support::expect_json_answer(server.get(base + "c9/cache"), 404,
                                     R"({"message": "component: 'c9' not found."})");
    test_support::expect_json_answer(server.get("/nuvex-link/view/kernels/k9/components/c1/cache"),
                                     404, R"({"message": "kernel_id: 'k9' not valid."})");
}

TEST(PipelinePage, ServesOnlyPlainStaticFileNames) {
    TestServer server;
    for (const char* target :
         {"/nuvex-link/view/static/missing.js", "/nuvex-link/view/static/..%2Findex.html",
          "/nuvex-link/view/static/.hidden.js", "/nuvex-link/view/static/app.js%00.css",
          "/nuvex-link/view/static/README"}) {
        EXPECT_EQ(server.get(target, /*with_token=*/false).status, 404) << target;
    }
    // A path that leaves the static folder matches no route at all.
    EXPECT_EQ(server.get("/nuvex-link/view/static/../index.html", false).status, 404);
}

}  // namespace
