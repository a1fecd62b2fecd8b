#include "pipeline/update_diff.hpp"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include "support/pipelines.hpp"

namespace {

namespace json = boost::json;
using pipeline::get_dag_update_info;
using pipeline::NuvexLinkPipelineModel;
using test_support::make_component;
using test_support::make_pipeline;

NuvexLinkPipelineModel model(std::vector<json::object> components) {
    return NuvexLinkPipelineModel::from_json(make_pipeline("k1", std::move(components)));
}

json::array identifiers(const std::vector<const pipeline::NuvexLinkComponentModel*>& components) {
    json::array ids;
    for (const auto* component : components) ids.push_back(json::string(component->identifier()));
    return ids;
}

TEST(DagUpdate, ClassifiesByIdentifierInPipelineOrder) {
    auto reordered = make_component("b");
    json::object shuffled;  // same fields, other key order: not a revision
    for (auto it = reordered.end(); it != reordered.begin();) {
        --it;
        shuffled.emplace(it->key(), it->value());
    }
    auto nested_change = make_component("c");
    nested_change["metadata"].as_object()["tags"] = json::array{"x"};

    const auto old =
        model({make_component("a"), make_component("b"), make_component("c"), make_component("d")});
    const auto now =
        model({make_component("e"), shuffled, nested_change, make_component("a", "y = 2")});
    const auto update = get_dag_update_info(old, now);

    EXPECT_EQ(update.identifier, "k1");
    EXPECT_EQ(identifiers(update.updated_components.added), json::array({"e"}));
    EXPECT_EQ(identifiers(update.updated_components.revised), json::array({"c", "a"}));
    EXPECT_EQ(update.updated_components.deleted, std::vector<std::string>{"d"});

    const auto dict = update.dict();
    EXPECT_EQ(json::value(dict).at("updated_components").at("deleted"), json::array({"d"}));
    EXPECT_TRUE(get_dag_update_info(old, old).updated_components.empty());
}

TEST(DagUpdate, LaterDuplicateStandsForItsIdentifier) {
    const auto old = model({make_component("a", "v = 1")});
    const auto now = model({make_component("a", "v = 1"), make_component("a", "v = 2")});
    const auto update = get_dag_update_info(old, now);
    ASSERT_EQ(update.updated_components.revised.size(), 1u);
    EXPECT_EQ(update.updated_components.revised[0]->object().at("code"), "v = 2");
    EXPECT_TRUE(update.updated_components.added.empty());
}

}  // namespace
