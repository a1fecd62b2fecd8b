#include "page/pipeline_drawing.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "support/pipelines.hpp"
#include "support/svg_reading.hpp"

namespace {

using page::draw_pipeline;
using page::drawable_text;
using page::edges_implied_by_paths;
using page::edges_on_cycles;
using page::graphviz_label;
using page::graphviz_name;
using page::pipeline_svg;
using pipeline::NuvexLinkPipelineModel;
using test_support::ComponentShape;

NuvexLinkPipelineModel pipeline_of(const std::vector<ComponentShape>& shapes) {
    return NuvexLinkPipelineModel::from_json(
        test_support::pipeline_of_shapes(shapes, std::nullopt));
}

NuvexLinkPipelineModel named_pipeline(std::string_view identifier, std::string_view name) {
    auto component = test_support::make_component(identifier);
    component["name"] = name;
    return NuvexLinkPipelineModel::from_json(test_support::make_pipeline("k", {component}));
}

TEST(DrawableText, ShowsControlCharactersAndBrokenBytesAsVisibleText) {
    EXPECT_EQ(drawable_text("plain é 名 😀"), "plain é 名 😀");
    EXPECT_EQ(drawable_text(std::string("a\nb\tc\0d\x7f", 8)), "a␊b␉c␀d␡");
    EXPECT_EQ(drawable_text("\xff"
                            "x"
                            "\xc3"),
              "\uFFFDx\uFFFD");
    EXPECT_EQ(drawable_text("\xed\xa0\x80"), "\uFFFD\uFFFD\uFFFD");  // a lone surrogate
    EXPECT_EQ(drawable_text("\xef\xbf\xbe"), "\uFFFD");              // not a character in XML
}

TEST(DrawableText, EscapesWhatGraphvizWouldInterpret) {
    EXPECT_EQ(graphviz_name("a&amp;b\\N"), "a&amp;amp;b\\N");
    EXPECT_EQ(graphviz_label("\\N \\G \\l & <b>"), "\\\\N \\\\G \\\\l &amp; <b>");
}

TEST(EdgesOnCycles, MarksExactlyTheEdgesInsideStronglyConnectedComponents) {
    // 0 -> 1 -> 2 -> 0 is a cycle; 2 -> 3 leaves it; 3 -> 3 is a self loop; 4 -> 5 is plain.
    const std::vector<std::pair<std::size_t, std::size_t>> edges{{0, 1}, {1, 2}, {2, 0},
                                                                 {2, 3}, {3, 3}, {4, 5}};
    EXPECT_THAT(edges_on_cycles(6, edges),
                testing::ElementsAre(true, true, true, false, true, false));
}

TEST(EdgesOnCycles, HandlesLongChainsWithoutRecursion) {
    constexpr std::size_t count = 200000;
    std::vector<std::pair<std::size_t, std::size_t>> edges;
    for (std::size_t i = 0; i + 1 < count; ++i) edges.push_back({i, i + 1});
    edges.push_back({count - 1, 0});
    const auto on_cycle = edges_on_cycles(count, edges);
    EXPECT_EQ(std::count(on_cycle.begin(), on_cycle.end(), true), static_cast<long>(count));
}

TEST(EdgesImpliedByPaths, LeavesOnlyWhatNoLongerPathShowsAndKeepsCycles) {
    // 0 -> 1 -> 2 -> 3, with 0 -> 2 and 0 -> 3 implied by the chain; 1 -> 4 -> 1 is a cycle
    // beside 1 -> 5 -> 4, so 1 -> 4 stays (cycle edges are never implied); 6 -> 6 is a loop.
    const std::vector<std::pair<std::size_t, std::size_t>> edges{
        {0, 1}, {1, 2}, {2, 3}, {0, 2}, {0, 3}, {1, 4}, {4, 1}, {1, 5}, {5, 4}, {6, 6}, {3, 3}};
    EXPECT_THAT(edges_implied_by_paths(7, edges),
                testing::ElementsAre(false, false, false, true, true, false, false, false, false,
                                     false, false));
    // Taken between strongly connected components: 0 -> 5 is implied through the cycle
    // 1 <-> 4; edges between the same two components are all kept.
    EXPECT_THAT(edges_implied_by_paths(6, {{0, 1}, {1, 4}, {4, 1}, {4, 5}, {0, 5}, {0, 4}}),
                testing::ElementsAre(false, false, false, false, true, false));
}

TEST(EdgesImpliedByPaths, ReducesAChainWhereEveryStepReadsTheFirst) {
    constexpr std::size_t count = 3000;
    std::vector<std::pair<std::size_t, std::size_t>> edges;
    for (std::size_t i = 1; i < count; ++i) {
        edges.push_back({i - 1, i});
        if (i > 1) edges.push_back({0, i});
    }
    const auto implied = edges_implied_by_paths(count, edges);
    EXPECT_EQ(std::count(implied.begin(), implied.end(), true), static_cast<long>(count - 2));
    for (std::size_t i = 0; i < edges.size(); ++i) {
        EXPECT_EQ(implied[i], edges[i].first == 0 && edges[i].second > 1) << i;
    }
}

TEST(PipelineSvg, LeavesImpliedReadsOutSaysSoAndNamesElementsByIdentifier) {
    const std::string svg =
        pipeline_svg(pipeline_of({{"a", {}},
                                  {"b", {}, "successful", "cached", {"a"}},
                                  {"c", {}, "successful", "cached", {"a", "b"}},
                                  {"d\"&", {}, "successful", "cached", {"c"}}}));
    const auto reading = test_support::read_svg(svg);
    ASSERT_TRUE(reading.drawing) << reading.failure;
    EXPECT_TRUE(reading.drawing->edge("a", "b"));
    EXPECT_TRUE(reading.drawing->edge("b", "c"));
    EXPECT_FALSE(reading.drawing->edge("a", "c"));
    EXPECT_THAT(svg, testing::HasSubstr("1 read that a longer path already shows is not drawn; "
                                        "a component&#39;s details list everything it reads."));
    // Ids carry the identifier's bytes in hex, whatever characters it has ("-" written as
    // its character reference).
    EXPECT_THAT(svg, testing::HasSubstr("id=\"c&#45;61\""));
    EXPECT_THAT(svg, testing::HasSubstr("id=\"c&#45;642226\""));
    EXPECT_THAT(svg, testing::HasSubstr("id=\"e&#45;63&#45;642226\""));
}

TEST(DrawPipeline, DrawsMissingParentsOnceAndRepeatedParentsAsOneEdge) {
    const auto pipeline = pipeline_of({{"a", {}, "successful", "cached", {}},
                                       {"b", {}, "failed", "not_cached", {"a", "a", "ghost"}},
                                       {"c", {}, "running", "caching", {"ghost", "b"}}});
    const auto drawing = draw_pipeline(pipeline);
    ASSERT_EQ(drawing.nodes.size(), 4u);
    EXPECT_EQ(drawing.nodes[3].name, "ghost");
    EXPECT_TRUE(drawing.nodes[3].missing);
    EXPECT_EQ(drawing.edges.size(), 4u);  // a->b, ghost->b, ghost->c, b->c
    for (const auto& edge : drawing.edges) EXPECT_FALSE(edge.on_cycle);
}

TEST(DrawPipeline, KeepsNamesDistinctWhenIdentifiersLookAlike) {
    const auto pipeline = pipeline_of({{"x\x01", {}}, {"x\u2401", {}}});
    const auto drawing = draw_pipeline(pipeline);
    ASSERT_EQ(drawing.nodes.size(), 2u);
    EXPECT_NE(drawing.nodes[0].name, drawing.nodes[1].name);
}

TEST(PipelineSvg, IsWellFormedAndShowsHostileNamesAsText) {
    const std::string hostile = std::string("<script>alert(1)</script> & \"q\" 'a' \\N\\G\\l\n") +
                                std::string("\0\x01\x1b", 3) + " é😀 &amp; ]]> --";
    const auto reading = test_support::read_svg(pipeline_svg(named_pipeline(hostile, hostile)));
    ASSERT_TRUE(reading.drawing) << reading.failure;
    ASSERT_EQ(reading.drawing->nodes.size(), 1u);
    const auto& node = reading.drawing->nodes[0];
    EXPECT_EQ(node.title, drawable_text(hostile));
    ASSERT_FALSE(node.texts.empty());
    // The name is cut to 40 characters for the box.
    EXPECT_EQ(node.texts[0], "<script>alert(1)</script> & \"q\" 'a' \\N\\G\u2026");
}

TEST(PipelineSvg, ColoursCycleEdgesAndDashesMissingParents) {
    const auto reading = test_support::read_svg(
        pipeline_svg(pipeline_of({{"a", {}, "successful", "cached", {"c"}},
                                  {"b", {}, "successful", "cached", {"a"}},
                                  {"c", {}, "successful", "cached", {"b"}},
                                  {"d", {}, "failed", "cached", {"c", "lost"}},
                                  {"e", {}, "successful", "cached", {"e"}}})));
    ASSERT_TRUE(reading.drawing) << reading.failure;
    const auto& drawing = *reading.drawing;
    EXPECT_EQ(drawing.nodes.size(), 6u);
    for (auto [parent, child] : {std::pair{"a", "b"}, {"b", "c"}, {"c", "a"}, {"e", "e"}}) {
        ASSERT_TRUE(drawing.edge(parent, child)) << parent << "->" << child;
        EXPECT_EQ(drawing.edge(parent, child)->stroke, "#d64545") << parent << "->" << child;
    }
    EXPECT_EQ(drawing.edge("c", "d")->stroke, "#7b8794");
    ASSERT_TRUE(drawing.node("lost"));
    EXPECT_TRUE(drawing.node("lost")->dashed);
    EXPECT_THAT(drawing.node("lost")->texts, testing::ElementsAre("lost", "missing"));
    EXPECT_TRUE(drawing.edge("lost", "d")->dashed);
    EXPECT_NE(drawing.node("d")->fill, drawing.node("a")->fill);
    EXPECT_THAT(drawing.node("a")->texts, testing::ElementsAre("cell a", "successful · ● cached"));
}

TEST(PipelineSvg, LaysOutOneGraphAtATimeFromManyThreads) {
    std::vector<ComponentShape> shapes;
    for (int i = 0; i < 30; ++i) {
        shapes.push_back({"c" + std::to_string(i),
                          {},
                          "successful",
                          "cached",
                          i ? std::vector<std::string>{"c" + std::to_string(i / 2)}
                            : std::vector<std::string>{}});
    }
    const auto pipeline = pipeline_of(shapes);
    const std::string expected = pipeline_svg(pipeline);
    std::vector<std::string> drawn(4);
    std::vector<std::thread> threads;
    for (auto& svg : drawn) threads.emplace_back([&] { svg = pipeline_svg(pipeline); });
    for (auto& thread : threads) thread.join();
    for (const auto& svg : drawn) EXPECT_EQ(svg, expected);
}

}  // namespace
