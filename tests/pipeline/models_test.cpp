#include "pipeline/models.hpp"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include "base/json_io/json_body.hpp"
#include "base/json_io/json_text.hpp"
#include "pipeline/update_diff.hpp"

namespace {

namespace json = boost::json;
using pipeline::ModelError;
using pipeline::NuvexLinkPipelineModel;

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
    EXPECT_EQ(failure_of(R"({"identifier": "k", "graph": {}})"),
              "graph.components: field required");
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
    EXPECT_TRUE(component.object().at("parents").as_array().empty());
    // "captured" goes, the other keys keep their order.
    EXPECT_EQ(
        json_io::to_json_text(pipeline.to_nuvexlink_dict().at("graph").at("components")),
        R"([{"identifier": "a", "name": "n", "code": "c", "extra": 1, "metadata": {"m": true}, )"
        R"("diskcache_dir": null, "execution_status": null, "diskcache_status": null, "parents": []}])");
    EXPECT_TRUE(pipeline.to_nuvexlink_dict(true)["graph"]
                    .at("components")
                    .at(0)
                    .as_object()
                    .contains("captured"));

    // Moving the model keeps its component views valid.
    NuvexLinkPipelineModel moved = std::move(pipeline);
    EXPECT_EQ(moved.components()[0].object().at("name"), "n");
    EXPECT_TRUE(NuvexLinkPipelineModel("k2").components().empty());
}

// The model as a posted body makes it: the components read as text where they can be.
NuvexLinkPipelineModel from_text(std::string_view pipeline_json) {
    static const std::vector<std::string> path = {"graph", "components"};
    boost::system::error_code error;
    auto body =
        json_io::parse_json_body(std::make_shared<const std::string>(pipeline_json), error, path);
    if (!body.deferred.found) throw std::logic_error("components not deferred");
    return NuvexLinkPipelineModel::from_json(std::move(body.document.as_object()), body.deferred,
                                             body.memory);
}

std::string text_failure_of(std::string_view pipeline_json) {
    try {
        from_text(pipeline_json);
    } catch (const ModelError& error) {
        return error.what();
    }
    return "no failure";
}

TEST(PipelineModel, ComponentsReadAsTextAreTheComponentsReadAsObjects) {
    const std::string pipeline = R"({"identifier": "k", "graph": {"components": [
        {"identifier": "a", "name": "n", "code": "x = 1\n\u00e9", "diskcache_dir": "/c/a",
         "execution_status": "successful", "diskcache_status": "cached",
         "metadata": {"m": [1, 2.5]}, "parents": [], "captured": {"v": null}},
        {"identifier": "b", "name": "n", "code": "", "parents": [{"id": "a"}, {"id": "c"}]},
        {"identifier": "c", "name": "n", "code": "", "diskcache_dir": null,
         "parents": [ {"id" : "a", "extra": 1} ]},
        {"identifier": "a", "name": "again", "code": ""}]}})";
    const auto as_text = from_text(pipeline);
    const auto as_objects = NuvexLinkPipelineModel::from_json(json::parse(pipeline).as_object());
    ASSERT_EQ(as_text.components().size(), as_objects.components().size());
    for (std::size_t index = 0; index < as_text.components().size(); ++index) {
        const auto& text = as_text.components()[index];
        const auto& object = as_objects.components()[index];
        EXPECT_EQ(text.fingerprint(), object.fingerprint()) << index;
        EXPECT_EQ(text.identifier(), object.identifier()) << index;
        EXPECT_EQ(text.diskcache_dir(), object.diskcache_dir()) << index;
        EXPECT_EQ(text.execution_status(), object.execution_status()) << index;
        EXPECT_EQ(text.stands_for_identifier(), object.stands_for_identifier()) << index;
        EXPECT_EQ(text.object(), object.object()) << index;
    }
    EXPECT_EQ(as_text.to_nuvexlink_dict(), as_objects.to_nuvexlink_dict());
    EXPECT_EQ(as_text.to_nuvexlink_dict(true), as_objects.to_nuvexlink_dict(true));
    EXPECT_TRUE(pipeline::get_dag_update_info(as_text, as_objects).updated_components.empty());
    EXPECT_EQ(as_text.find_component("b"), &as_text.components()[1]);

    // A component that is not a usual one sends all of them down the object path, with its
    // failure text, or without a failure when it only looked unusual.
    EXPECT_EQ(text_failure_of(R"({"identifier": "k", "graph": {"components": [
                  {"identifier": "a", "name": "n", "code": ""},
                  {"identifier": "b", "name": "n", "code": "", "parents": [{"id": 7}]}]}})"),
              "graph.components[1].parents[0].id: must be a string");
    EXPECT_EQ(text_failure_of(R"({"identifier": "k", "graph": {"components": [
                  {"identifier": "a", "name": "n", "code": "", "execution_status": 3}]}})"),
              "graph.components[0].execution_status: must be a string or null");
    const auto escaped = from_text(R"({"identifier": "k", "graph": {"components": [
        {"identifier": "\u0061", "name": "n", "code": "", "diskcache_dir": "C:\\c"}]}})");
    EXPECT_EQ(escaped.components()[0].identifier(), "a");
    EXPECT_EQ(escaped.components()[0].diskcache_dir(), "C:\\c");
}

}  // namespace
