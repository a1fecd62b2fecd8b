#pragma once
// A kernel's pipeline as a picture: the graph to draw (one node per component, an edge from
// each parent to its child, cycles and missing parents marked) and its SVG, laid out by
// Graphviz's dot.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/models.hpp"

namespace page {

// A node as Graphviz receives it. `name` becomes the SVG node's <title>; `label` is what the
// box shows. Both are already escaped for Graphviz (see graphviz_name and graphviz_label).
struct DrawnNode {
    std::string name;
    std::string label;
    std::string fill_color;
    std::string line_color;
    bool missing = false;  // a parent id that names no component
    // The SVG element's id: "c-" and the identifier's bytes in hex, which the page reads back
    // whatever characters the identifier holds. An edge's id is "e-<parent hex>-<child hex>".
    std::string element_id;
};

struct DrawnEdge {
    std::size_t parent;  // indexes into PipelineDrawing::nodes
    std::size_t child;
    bool on_cycle = false;
    // Another path from parent to child says the same: the layout leaves the edge out, which
    // keeps it from crossing every rank (a cell most others read, read by each of them).
    bool implied = false;
};

struct PipelineDrawing {
    std::vector<DrawnNode> nodes;
    std::vector<DrawnEdge> edges;
};

// Component names are user data. Graphviz writes control characters into the SVG as they
// are (not valid XML), keeps "&...;" sequences as entities, and expands "\N", "\G", "\l" and
// the like in labels. These give text that Graphviz draws exactly as written: control
// characters become their visible pictures (U+2400...), bytes that are not UTF-8 become
// U+FFFD, and "&" (and for labels "\") is escaped.
std::string drawable_text(std::string_view text);
std::string graphviz_name(std::string_view identifier);
std::string graphviz_label(std::string_view text);
std::string hex_of(std::string_view bytes);

// For each edge (parent -> child indexes into `node_count` nodes), whether it lies on a cycle:
// its ends are in one strongly connected component, or it is a node's edge to itself.
std::vector<bool> edges_on_cycles(std::size_t node_count,
                                  const std::vector<std::pair<std::size_t, std::size_t>>& edges);

// For each edge, whether the rest of the graph implies it: its ends lie in different strongly
// connected components and another path leads from the one to the other. What is left is the
// transitive reduction taken between strongly connected components, so edges on cycles stay.
std::vector<bool> edges_implied_by_paths(
    std::size_t node_count, const std::vector<std::pair<std::size_t, std::size_t>>& edges);

// The graph of a pipeline: the component that stands for an identifier (the last one that
// carries it) is drawn once; repeated parents give one edge.
PipelineDrawing draw_pipeline(const pipeline::NuvexLinkPipelineModel& pipeline);

// The drawing laid out by dot, as SVG text; implied edges are left out and a line under the
// picture says how many. Graphviz keeps global state, so one layout runs at a time in the
// process. Throws std::runtime_error when Graphviz fails.
std::string render_svg(const PipelineDrawing& drawing);

// draw_pipeline then render_svg.
std::string pipeline_svg(const pipeline::NuvexLinkPipelineModel& pipeline);

}  // namespace page
