#include "nuvex_link_core/models.hpp"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include "host/json_text.hpp"

namespace {

namespace json = boost::json;
using nuvex_link_core::ModelError;
using nuvex_link_core::NuvexLinkPipelineModel;

std::string failure_of(std::string_view pipeline_json) {
    try {
        NuvexLinkPipelineModel::from_json(json::parse(pipeline_json).as_object());
    } catch (const ModelError& error) {
        return error.what();
    }
    return "no failure";
}

TEST(PipelineModel, FailuresNameTheField) {
    EXPECT_EQ(failure_of(R"({"name": "p", "graph": {"components": []}})"),
              "identifier: field required");
    EXPECT_EQ(failure_of(R"({"identifier": 1, "graph": {"components": []}})"),
              "identifier: must be a string");
    EXPECT_EQ(failure_of(R"({"identifier": "k", "graph": {}})"), "graph.components: field required");
    EXPECT_EQ(failure_of(R"({"identifier": "k", "graph": {"components": [
                  {"identifier": "a", "name": "n", "code": ""}, {"name": 5, "code": 1}]}})"),
              "graph.components[1].identifier: field required");
    EXPECT_EQ(failure_of(R"({"identifier": "k", "graph": {"components": [
                  {"identifier": "a", "name": "n", "code": "", "execution_status": 3}]}})"),
              "graph.components[0].execution_status: must be a string or null");
    EXPECT_EQ(failure_of(R"({"identifier": "k", "graph": {"components": [
                  {"identifier": "a", "name": "n", "code": "", "parents": [{"x": 1}]}]}})"),
              "graph.components[0].parents[0].id: field required");
}

TEST(PipelineModel, DefaultsUnknownKeysAndExportForm) {
    auto pipeline = NuvexLinkPipelineModel::from_json(json::parse(R"({"identifier": "k",
        "graph": {"components": [{"identifier": "a", "name": "n", "code": "c", "extra": 1,
                                  "captured": {"x": 1}, "metadata": {"m": true}}]}})")
                                                          .as_object());
    EXPECT_EQ(pipeline.diskcache_dir(), std::nullopt);
    ASSERT_EQ(pipeline.components().size(), 1u);
    const auto& component = pipeline.components()[0];
    EXPECT_EQ(component.identifier(), "a");
    EXPECT_EQ(component.execution_status(), std::nullopt);
    EXPECT_TRUE(component.parents().empty());
    // "captured" goes, the other keys keep their order.
    EXPECT_EQ(host::to_json_text(pipeline.to_nuvexlink_dict().at("graph").at("components")),
              R"([{"identifier": "a", "name": "n", "code": "c", "extra": 1, "metadata": {"m": true}, )"
              R"("diskcache_dir": null, "execution_status": null, "diskcache_status": null, "parents": []}])");
    EXPECT_TRUE(pipeline.to_nuvexlink_dict(true)["graph"].at("components").at(0).as_object().contains(
        "captured"));

    // Moving the model keeps its component views valid.
    NuvexLinkPipelineModel moved = std::move(pipeline);
    EXPECT_EQ(moved.components()[0].name(), "n");
    EXPECT_TRUE(NuvexLinkPipelineModel("k2").components().empty());
}

}  // namespace
