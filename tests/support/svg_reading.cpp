#include "support/svg_reading.hpp"

#include <boost/json.hpp>

#include "base/process/child_process.hpp"
#include "support/temp_dir.hpp"

namespace test_support {
namespace {

// Prints the drawing as JSON, or exits 1 with expat's message.
constexpr const char* kReader = R"(
import json, sys
import xml.etree.ElementTree as ET
try:
    root = ET.parse(sys.argv[1]).getroot()
except ET.ParseError as error:
    print(error); sys.exit(1)
ns = "{http://www.w3.org/2000/svg}"
def shape(group):
    for element in group:
        if element.tag in (ns + "path", ns + "polygon", ns + "ellipse"):
            return element
    return None
nodes, edges = [], []
for group in root.iter(ns + "g"):
    kind = group.get("class")
    if kind not in ("node", "edge"):
        continue
    first = shape(group)
    item = {"title": group.find(ns + "title").text or "",
            "fill": first.get("fill", "") if first is not None else "",
            "stroke": first.get("stroke", "") if first is not None else "",
            "dashed": first is not None and first.get("stroke-dasharray") is not None}
    if kind == "node":
        item["texts"] = [text.text or "" for text in group.iter(ns + "text")]
        nodes.append(item)
    else:
        edges.append(item)
print(json.dumps({"nodes": nodes, "edges": edges}))
)";

}  // namespace

const SvgNode* SvgDrawing::node(std::string_view title) const {
    for (const auto& node : nodes) {
        if (node.title == title) return &node;
    }
    return nullptr;
}

const SvgEdge* SvgDrawing::edge(std::string_view parent, std::string_view child) const {
    const std::string title = std::string(parent) + "->" + std::string(child);
    for (const auto& edge : edges) {
        if (edge.title == title) return &edge;
    }
    return nullptr;
}

SvgReading read_svg(std::string_view svg) {
    TempDir folder("nuvex-svg");
    const auto file = folder.path() / "drawing.svg";
    write_file(file, svg);
    const auto output = base::run_process({"/usr/bin/python3", "-c", kReader, file.string()});
    if (output.exit_status != 0)
        return {std::nullopt, output.standard_output + output.standard_error};

    const auto parsed = boost::json::parse(output.standard_output).as_object();
    SvgDrawing drawing;
    for (const auto& value : parsed.at("nodes").as_array()) {
        const auto& item = value.as_object();
        SvgNode node{std::string(item.at("title").as_string()),
                     std::string(item.at("fill").as_string()),
                     std::string(item.at("stroke").as_string()),
                     item.at("dashed").as_bool(),
                     {}};
        for (const auto& text : item.at("texts").as_array()) {
            node.texts.emplace_back(text.as_string());
        }
        drawing.nodes.push_back(std::move(node));
    }
    for (const auto& value : parsed.at("edges").as_array()) {
        const auto& item = value.as_object();
        drawing.edges.push_back({std::string(item.at("title").as_string()),
                                 std::string(item.at("stroke").as_string()),
                                 item.at("dashed").as_bool()});
    }
    return {std::move(drawing), {}};
}

}  // namespace test_support
