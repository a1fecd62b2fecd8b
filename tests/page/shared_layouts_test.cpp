// Layouts through the real server: one kernel's slow layout does not hold back another's
// picture, the requests for one pipeline version share one layout, a layout whose pipeline is
// replaced gives way to the new one, and a layout stopped at its bound answers what the page
// needs to list the components instead.

#include "page/shared_layouts.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <random>
#include <thread>

#include "app/extension.hpp"
#include "page/bounded_layout.hpp"
#include "support/pipelines.hpp"
#include "support/svg_reading.hpp"
#include "support/test_server.hpp"

namespace {

using test_support::ComponentShape;
using test_support::HttpResponse;
using test_support::pipeline_of_shapes;
using test_support::store_pipeline;
using test_support::TestServer;

// Each component reads three random earlier ones: seconds of layout at 2,000 components.
boost::json::object tangled(int count) {
    std::mt19937 random(23);
    std::vector<ComponentShape> shapes;
    for (int i = 0; i < count; ++i) {
        std::vector<std::string> parents;
        for (int k = 0; i > 0 && k < 3; ++k) {
            parents.push_back("c" +
                              std::to_string(std::uniform_int_distribution<int>(0, i - 1)(random)));
        }
        shapes.push_back({"c" + std::to_string(i), {}, "successful", "cached", parents});
    }
    return pipeline_of_shapes(shapes, {});
}

boost::json::object small() {
    return pipeline_of_shapes({{"a", {}}, {"b", {}, "successful", "cached", {"a"}}}, {});
}

std::future<HttpResponse> picture_later(const TestServer& server, const std::string& kernel_id) {
    return std::async(std::launch::async, [&server, kernel_id] {
        return server.get("/nuvex-link/view/kernels/" + kernel_id + "/graph.svg");
    });
}

void wait_for_layouts(TestServer& server, unsigned long count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (server.extension().shared_layouts.started() < count) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no layout started";
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::size_t node_count(const HttpResponse& response) {
    const auto reading = test_support::read_svg(response.body);
    return reading.drawing ? reading.drawing->nodes.size() : 0;
}

TEST(SharedLayouts, ASlowLayoutHoldsBackNoOtherKernelAndGivesWayToANewerPipeline) {
    TestServer server;
    server.extension().layout_limits.cpu_time = std::chrono::seconds(60);
    store_pipeline(server, "big", tangled(2000));
    store_pipeline(server, "other", small());
    const unsigned long before = server.extension().shared_layouts.started();
    auto big = picture_later(server, "big");
    wait_for_layouts(server, before + 1);

    const auto other = server.get("/nuvex-link/view/kernels/other/graph.svg");
    EXPECT_EQ(other.status, 200);
    EXPECT_EQ(node_count(other), 2u);
    EXPECT_EQ(big.wait_for(std::chrono::seconds(0)), std::future_status::timeout);

    // The big kernel's notebook changes: the waiting request gets the new pipeline's picture.
    store_pipeline(server, "big", small());
    const auto answer = big.get();
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(node_count(answer), 2u);
    EXPECT_EQ(server.extension().shared_layouts.started(),
              before + 3);  // big, other, big's new pipeline
}

TEST(SharedLayouts, RequestsForOnePipelineVersionShareOneLayout) {
    TestServer server;
    server.extension().layout_limits.cpu_time = std::chrono::seconds(60);
    store_pipeline(server, "k1", tangled(600));
    const unsigned long before = server.extension().shared_layouts.started();
    auto first = picture_later(server, "k1");
    wait_for_layouts(server, before + 1);
    auto second = picture_later(server, "k1");
    const auto one = first.get();
    const auto two = second.get();
    EXPECT_EQ(one.status, 200);
    EXPECT_EQ(one.body, two.body);
    EXPECT_EQ(node_count(one), 600u);
    EXPECT_EQ(server.get("/nuvex-link/view/kernels/k1/graph.svg").body, one.body);
    EXPECT_EQ(server.extension().shared_layouts.started(), before + 1);
}

TEST(SharedLayouts, ALayoutPastItsBoundAnswersWhyForThePageToListTheComponents) {
    TestServer server;
    server.extension().layout_limits.cpu_time = std::chrono::seconds(1);
    store_pipeline(server, "k1", tangled(2000));
    const std::string why =
        R"({"message": "The pipeline is not drawn: its layout stopped because it took more )"
        R"(than 1 s. Its components are listed instead.", "fallback": "list"})";
    test_support::expect_json_answer(server.get("/nuvex-link/view/kernels/k1/graph.svg"), 422, why);
    // Kept for this pipeline: asking again lays nothing out.
    const unsigned long before = server.extension().shared_layouts.started();
    test_support::expect_json_answer(server.get("/nuvex-link/view/kernels/k1/graph.svg"), 422, why);
    EXPECT_EQ(server.extension().shared_layouts.started(), before);
}

}  // namespace
