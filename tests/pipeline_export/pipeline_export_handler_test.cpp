#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <string>

#include "base/json_io/json_text.hpp"
#include "support/pipelines.hpp"
#include "support/test_server.hpp"

using namespace test_support;

namespace {

const char* const kRoute = "/nuvex-link/pipeline/export";

std::string body_for(std::string_view kernel_id, std::string_view cell_ids) {
    return "{\"kernel_id\": \"" + std::string(kernel_id) +
           "\", \"cell_ids\": " + std::string(cell_ids) + ", \"ipynb_name\": \"n.ipynb\"}";
}

}  // namespace

TEST(PipelineExport, AnswersThePipelineWithoutCapturedValues) {
    TestServer server;
    auto pipeline =
        pipeline_of_shapes({{"a", "/c/a"}, {"b", std::nullopt, "failed", {}, {"a"}}}, "/c");
    store_pipeline(server, "k", pipeline);

    auto all = server.post(kRoute, body_for("k", "[]"));
    ASSERT_EQ(all.status, 200) << all.body;
    EXPECT_EQ(all.header("Content-Type"), "application/json");
    auto exported = boost::json::parse(all.body).as_object();
    EXPECT_EQ(exported.at("identifier").as_string(), "k");
    const auto& components = exported.at("graph").at("components").as_array();
    ASSERT_EQ(components.size(), 2u);
    for (const auto& component : components) {
        EXPECT_FALSE(component.as_object().contains("captured"));
    }
    EXPECT_EQ(all.body, json_io::to_json_text(exported));

    // The cells asked for do not narrow the export.
    auto some = server.post(kRoute, body_for("k", "[\"b\"]"));
    EXPECT_EQ(some.status, 200);
    EXPECT_EQ(some.body, all.body);
}

TEST(PipelineExport, ErrorPairAndUnknownKernel) {
    TestServer server;
    store_pipeline(server, "empty", pipeline_of_shapes({}, {}));

    auto response = server.post(kRoute, body_for("empty", "[\"x\"]"));
    EXPECT_EQ(response.status, 400);
    EXPECT_EQ(response.body, "{\"message\": \"There are no components in this pipeline.\"}");

    response = server.post(kRoute, body_for("nope", "[]"));
    EXPECT_EQ(response.status, 404);
    EXPECT_EQ(response.body, "{\"message\": \"kernel_id: 'nope' not valid.\"}");
}

TEST(PipelineExport, WrongArgumentKindsNameTheKey) {
    TestServer server;
    store_pipeline(server, "k", pipeline_of_shapes({{"a", "/c/a"}}, {}));
    const std::pair<std::string, std::string> cases[] = {
        {"{\"cell_ids\": [], \"ipynb_name\": \"n\"}", "kernel_id"},
        {"{\"kernel_id\": 5, \"cell_ids\": [], \"ipynb_name\": \"n\"}", "kernel_id"},
        {"{\"kernel_id\": \"k\", \"cell_ids\": null, \"ipynb_name\": \"n\"}", "cell_ids"},
        {"{\"kernel_id\": \"k\", \"cell_ids\": [1], \"ipynb_name\": \"n\"}", "cell_ids"},
        {"{\"kernel_id\": \"k\", \"cell_ids\": []}", "ipynb_name"},
        {"[\"k\"]", "kernel_id"},
    };
    for (const auto& [body, key] : cases) {
        auto response = server.post(kRoute, body);
        EXPECT_EQ(response.status, 400) << body;
        auto message = std::string(response.json().at("message").as_string());
        EXPECT_EQ(message.rfind(key, 0), 0u) << body << " -> " << message;
    }
}
