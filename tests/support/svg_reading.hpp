#pragma once
// Reads an SVG drawing as a browser would: parsed by a strict XML parser (Python's expat),
// entities decoded, reduced to its nodes and edges.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace test_support {

struct SvgNode {
    std::string title;
    std::string fill;
    std::string stroke;
    bool dashed = false;
    std::vector<std::string> texts;  // the box's lines, as drawn
};

struct SvgEdge {
    std::string title;  // "parent->child"
    std::string stroke;
    bool dashed = false;
};

struct SvgDrawing {
    std::vector<SvgNode> nodes;
    std::vector<SvgEdge> edges;

    const SvgNode* node(std::string_view title) const;
    const SvgEdge* edge(std::string_view parent, std::string_view child) const;
};

// The drawing, or the parser's complaint when the text is not well-formed XML.
struct SvgReading {
    std::optional<SvgDrawing> drawing;
    std::string failure;
};

SvgReading read_svg(std::string_view svg);

}  // namespace test_support
