#include "page/pipeline_drawing.hpp"

#include <graphviz/cgraph.h>
#include <graphviz/gvc.h>
#include <graphviz/gvplugin.h>

#include <algorithm>
#include <boost/json/monotonic_resource.hpp>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

#include "base/text/utf8.hpp"
#include "pipeline/status.hpp"

extern "C" {
// The layout and SVG plugins, linked in rather than loaded from Graphviz's plugin folder.
extern gvplugin_library_t gvplugin_dot_layout_LTX_library;
extern gvplugin_library_t gvplugin_core_LTX_library;
}

namespace page {
namespace {

using pipeline::NuvexLinkComponentStatus;
using pipeline::NuvexLinkDiskcacheStatus;

constexpr std::size_t kLabelLength = 40;  // code points of a name shown in a box

// The first `limit` code points of valid UTF-8, with an ellipsis when some were cut.
std::string shortened(std::string_view text, std::size_t limit) {
    std::size_t points = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if ((static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) continue;
        if (points++ == limit) return std::string(text.substr(0, at)) + "\u2026";
    }
    return std::string(text);
}

std::string escaped(std::string_view text, bool for_label) {
    std::string out;
    out.reserve(text.size());
    for (char c : drawable_text(text)) {
        if (c == '&') {
            out += "&amp;";
        } else if (c == '\\' && for_label) {
            out += "\\\\";
        } else {
            out += c;
        }
    }
    return out;
}

struct StatusLook {
    const char* fill;
    const char* line;
};

StatusLook look_of(std::optional<std::string_view> execution_status) {
    if (execution_status == NuvexLinkComponentStatus::SUCCESSFUL) return {"#dcf3e4", "#2f9e5b"};
    if (execution_status == NuvexLinkComponentStatus::FAILED) return {"#fbe1e1", "#d64545"};
    if (execution_status == NuvexLinkComponentStatus::RUNNING) return {"#dfeafb", "#3b7dd8"};
    if (execution_status == NuvexLinkComponentStatus::WAITING) return {"#f6f0d8", "#b08d1a"};
    if (execution_status == NuvexLinkComponentStatus::CANCELLED) return {"#ececec", "#8a8f98"};
    return {"#ffffff", "#8a8f98"};
}

// The box's second line: the execution status in words, then the cache mark.
std::string status_line(std::optional<std::string_view> execution_status,
                        std::optional<std::string_view> diskcache_status) {
    std::string line(execution_status ? *execution_status : "no status");
    line += " \u00B7 ";
    if (diskcache_status == NuvexLinkDiskcacheStatus::CACHED) {
        line += "\u25CF cached";
    } else if (diskcache_status == NuvexLinkDiskcacheStatus::CACHING) {
        line += "\u25D0 caching";
    } else if (diskcache_status == NuvexLinkDiskcacheStatus::NOT_CACHED || !diskcache_status) {
        line += "\u25CB not cached";
    } else {
        line += *diskcache_status;
    }
    return line;
}

// Names stay distinct even where two identifiers differ only in characters drawn alike.
class NodeNames {
public:
    std::string take(std::string_view identifier) {
        std::string name = graphviz_name(identifier);
        for (int copy = 2; !used_.insert(name).second; ++copy) {
            name = graphviz_name(identifier) + " #" + std::to_string(copy);
        }
        return name;
    }

private:
    std::unordered_set<std::string> used_;
};

// The strongly connected component of each node, numbered in the order Tarjan's algorithm
// closes them (a component is closed after every component it leads to).
std::vector<std::size_t> strongly_connected_components(
    std::size_t node_count, const std::vector<std::pair<std::size_t, std::size_t>>& edges) {
    std::vector<std::vector<std::size_t>> successors(node_count);
    for (const auto& [from, to] : edges) successors[from].push_back(to);

    // With an explicit stack: a pipeline may be a chain of thousands.
    constexpr std::size_t unvisited = static_cast<std::size_t>(-1);
    std::vector<std::size_t> index(node_count, unvisited), low(node_count, 0);
    std::vector<std::size_t> component(node_count, unvisited);
    std::vector<bool> on_stack(node_count, false);
    std::vector<std::size_t> stack;
    std::vector<std::pair<std::size_t, std::size_t>> calls;  // node, next successor
    std::size_t next_index = 0;
    std::size_t component_count = 0;
    for (std::size_t root = 0; root < node_count; ++root) {
        if (index[root] != unvisited) continue;
        calls.push_back({root, 0});
        while (!calls.empty()) {
            auto& [node, next] = calls.back();
            if (next == 0) {
                index[node] = low[node] = next_index++;
                stack.push_back(node);
                on_stack[node] = true;
            }
            if (next < successors[node].size()) {
                const std::size_t successor = successors[node][next++];
                if (index[successor] == unvisited) {
                    calls.push_back({successor, 0});
                } else if (on_stack[successor]) {
                    low[node] = std::min(low[node], index[successor]);
                }
                continue;
            }
            if (low[node] == index[node]) {
                std::size_t member;
                do {
                    member = stack.back();
                    stack.pop_back();
                    on_stack[member] = false;
                    component[member] = component_count;
                } while (member != node);
                ++component_count;
            }
            const std::size_t finished = node;
            calls.pop_back();
            if (!calls.empty()) {
                auto& caller = calls.back().first;
                low[caller] = std::min(low[caller], low[finished]);
            }
        }
    }
    return component;
}

// Graphviz's C interface takes mutable texts it does not change.
char* c_text(const std::string& text) { return const_cast<char*>(text.c_str()); }

void set_attribute(void* object, const std::string& name, const std::string& value) {
    agsafeset(object, c_text(name), c_text(value), c_text(""));
}

void set_default(Agraph_t* graph, int kind, const std::string& name, const std::string& value) {
    agattr(graph, kind, c_text(name), c_text(value));
}

// One context for the life of the process, with only the two plugins the pictures need.
GVC_t* graphviz_context() {
    static GVC_t* const context = [] {
        static const lt_symlist_t builtins[] = {
            {"gvplugin_dot_layout_LTX_library", &gvplugin_dot_layout_LTX_library},
            {"gvplugin_core_LTX_library", &gvplugin_core_LTX_library},
            {nullptr, nullptr}};
        // Warnings about the drawing are not the user's concern; errors still reach stderr.
        agseterr(AGERR);
        return gvContextPlugins(builtins, /*demand_loading=*/0);
    }();
    return context;
}

std::mutex graphviz_mutex;

// Closes the graph (and frees its layout) on every path out of render_svg.
struct OpenGraph {
    GVC_t* context;
    Agraph_t* graph;
    bool laid_out = false;
    ~OpenGraph() {
        if (laid_out) gvFreeLayout(context, graph);
        agclose(graph);
    }
};

}  // namespace

std::string drawable_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const base::Utf8Sequence sequence = base::read_utf8(text, at);
        // A byte that does not start a well-formed sequence stands alone.
        const bool valid = sequence.fault == base::Utf8Fault::none;
        const std::size_t size = valid ? sequence.length : 1;
        const std::uint32_t code_point = sequence.code_point;
        if (!valid || code_point == 0xFFFE || code_point == 0xFFFF) {
            base::append_utf8(out, 0xFFFD);
        } else if (code_point < 0x20) {
            base::append_utf8(out, 0x2400 + code_point);
        } else if (code_point == 0x7F) {
            base::append_utf8(out, 0x2421);
        } else {
            out.append(text.substr(at, size));
        }
        at += size;
    }
    return out;
}

std::string graphviz_name(std::string_view identifier) { return escaped(identifier, false); }

std::string graphviz_label(std::string_view text) { return escaped(text, true); }

std::string hex_of(std::string_view bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        out += digits[static_cast<unsigned char>(c) >> 4];
        out += digits[static_cast<unsigned char>(c) & 0xF];
    }
    return out;
}

std::vector<bool> edges_on_cycles(std::size_t node_count,
                                  const std::vector<std::pair<std::size_t, std::size_t>>& edges) {
    const auto component = strongly_connected_components(node_count, edges);
    std::vector<bool> on_cycle;
    on_cycle.reserve(edges.size());
    for (const auto& [from, to] : edges) on_cycle.push_back(component[from] == component[to]);
    return on_cycle;
}

std::vector<bool> edges_implied_by_paths(
    std::size_t node_count, const std::vector<std::pair<std::size_t, std::size_t>>& edges) {
    const auto component = strongly_connected_components(node_count, edges);
    const std::size_t count =
        node_count ? *std::max_element(component.begin(), component.end()) + 1 : 0;
    // Components are numbered as Tarjan's algorithm closes them: every edge between two leads
    // from a higher number to a lower one.
    std::vector<std::vector<std::size_t>> successors(count);
    for (const auto& [from, to] : edges) {
        if (component[from] != component[to]) successors[component[from]].push_back(component[to]);
    }
    // reach[c]: the components c leads to, itself included, one bit each.
    const std::size_t words = (count + 63) / 64;
    std::vector<std::uint64_t> reach(count * words, 0);
    std::set<std::pair<std::size_t, std::size_t>> kept;
    for (std::size_t c = 0; c < count; ++c) {
        auto& next = successors[c];
        // Nearest first: a successor that leads to another has the higher number.
        std::sort(next.begin(), next.end(), std::greater<>());
        next.erase(std::unique(next.begin(), next.end()), next.end());
        std::uint64_t* row = &reach[c * words];
        for (const std::size_t successor : next) {
            if ((row[successor / 64] >> (successor % 64)) & 1u) continue;
            kept.insert({c, successor});
            const std::uint64_t* from = &reach[successor * words];
            for (std::size_t w = 0; w < words; ++w) row[w] |= from[w];
        }
        row[c / 64] |= std::uint64_t{1} << (c % 64);
    }

    std::vector<bool> implied;
    implied.reserve(edges.size());
    for (const auto& [from, to] : edges) {
        implied.push_back(component[from] != component[to] &&
                          !kept.contains({component[from], component[to]}));
    }
    return implied;
}

PipelineDrawing draw_pipeline(const pipeline::NuvexLinkPipelineModel& pipeline) {
    PipelineDrawing drawing;
    NodeNames names;
    std::unordered_map<std::string, std::size_t> node_of_identifier;
    std::vector<std::vector<std::string>> parents_of_node;

    // Reading a component's name and parents builds its JSON form; one arena for all of them.
    boost::json::monotonic_resource scratch;
    for (const auto& component : pipeline.components()) {
        if (!component.stands_for_identifier()) continue;
        const boost::json::object fields = component.object(&scratch);
        const auto& name = fields.at("name").as_string();
        const auto look = look_of(component.execution_status());
        const std::string shown = name.empty() ? std::string(component.identifier())
                                               : std::string(name.data(), name.size());
        drawing.nodes.push_back(
            {names.take(component.identifier()),
             graphviz_label(shortened(drawable_text(shown), kLabelLength)) + "\\n" +
                 graphviz_label(
                     status_line(component.execution_status(), component.diskcache_status())),
             look.fill, look.line, false, "c-" + hex_of(component.identifier())});
        node_of_identifier.emplace(component.identifier(), drawing.nodes.size() - 1);

        std::vector<std::string> parents;
        for (const auto& parent : fields.at("parents").as_array()) {
            const auto& id = parent.as_object().at("id").as_string();
            parents.emplace_back(id.data(), id.size());
        }
        parents_of_node.push_back(std::move(parents));
    }

    std::vector<std::pair<std::size_t, std::size_t>> edges;
    std::set<std::pair<std::size_t, std::size_t>> seen;
    const std::size_t component_nodes = drawing.nodes.size();
    for (std::size_t child = 0; child < component_nodes; ++child) {
        for (const auto& parent_id : parents_of_node[child]) {
            auto parent = node_of_identifier.find(parent_id);
            if (parent == node_of_identifier.end()) {
                drawing.nodes.push_back(
                    {names.take(parent_id),
                     graphviz_label(shortened(drawable_text(parent_id), kLabelLength)) +
                         "\\nmissing",
                     "#ffffff", "#8a8f98", true, "c-" + hex_of(parent_id)});
                parent = node_of_identifier.emplace(parent_id, drawing.nodes.size() - 1).first;
            }
            if (seen.insert({parent->second, child}).second)
                edges.push_back({parent->second, child});
        }
    }
    const auto on_cycle = edges_on_cycles(drawing.nodes.size(), edges);
    const auto implied = edges_implied_by_paths(drawing.nodes.size(), edges);
    for (std::size_t i = 0; i < edges.size(); ++i) {
        drawing.edges.push_back({edges[i].first, edges[i].second, on_cycle[i], implied[i]});
    }
    return drawing;
}

std::string render_svg(const PipelineDrawing& drawing) {
    const std::lock_guard lock(graphviz_mutex);
    GVC_t* context = graphviz_context();
    if (!context) throw std::runtime_error("Graphviz could not start");

    std::string graph_name = "pipeline";
    OpenGraph open{context, agopen(c_text(graph_name), Agdirected, nullptr)};
    Agraph_t* graph = open.graph;
    set_default(graph, AGRAPH, "rankdir", "TB");
    set_default(graph, AGRAPH, "bgcolor", "transparent");
    set_default(graph, AGRAPH, "nodesep", "0.3");
    set_default(graph, AGRAPH, "ranksep", "0.45");
    set_default(graph, AGRAPH, "pad", "0.1");
    // Bounds on dot's network simplex and crossing passes: a pipeline with long edges
    // otherwise takes seconds (5 s for 200 components, measured) for a slightly tidier picture.
    set_default(graph, AGRAPH, "nslimit", "1");
    set_default(graph, AGRAPH, "nslimit1", "1");
    set_default(graph, AGRAPH, "mclimit", "0.5");
    set_default(graph, AGNODE, "shape", "box");
    set_default(graph, AGNODE, "style", "rounded,filled");
    set_default(graph, AGNODE, "fontname", "Helvetica");
    set_default(graph, AGNODE, "fontsize", "12");
    set_default(graph, AGNODE, "fontcolor", "#1f2933");
    set_default(graph, AGNODE, "margin", "0.14,0.06");
    set_default(graph, AGNODE, "penwidth", "1.3");
    set_default(graph, AGNODE, "label", "");
    set_default(graph, AGNODE, "fillcolor", "#ffffff");
    set_default(graph, AGNODE, "color", "#8a8f98");
    set_default(graph, AGEDGE, "color", "#7b8794");
    set_default(graph, AGEDGE, "penwidth", "1.1");
    set_default(graph, AGEDGE, "arrowsize", "0.7");

    std::vector<Agnode_t*> nodes;
    nodes.reserve(drawing.nodes.size());
    for (const auto& drawn : drawing.nodes) {
        Agnode_t* node = agnode(graph, c_text(drawn.name), 1);
        agset(node, c_text(std::string("label")), c_text(drawn.label));
        agset(node, c_text(std::string("fillcolor")), c_text(drawn.fill_color));
        agset(node, c_text(std::string("color")), c_text(drawn.line_color));
        set_attribute(node, "id", drawn.element_id);
        if (drawn.missing) {
            set_attribute(node, "style", "rounded,dashed");
            set_attribute(node, "fontcolor", "#6b7280");
        }
        nodes.push_back(node);
    }
    std::size_t implied = 0;
    for (const auto& drawn : drawing.edges) {
        if (drawn.implied) {
            ++implied;
            continue;
        }
        Agedge_t* edge = agedge(graph, nodes.at(drawn.parent), nodes.at(drawn.child), nullptr, 1);
        set_attribute(edge, "id",
                      "e-" + drawing.nodes[drawn.parent].element_id.substr(2) + "-" +
                          drawing.nodes[drawn.child].element_id.substr(2));
        if (drawn.on_cycle) {
            set_attribute(edge, "color", "#d64545");
            set_attribute(edge, "penwidth", "2");
        } else if (drawing.nodes.at(drawn.parent).missing) {
            set_attribute(edge, "style", "dashed");
        }
    }

    if (implied) {
        set_default(graph, AGRAPH, "label",
                    std::to_string(implied) + (implied == 1 ? " read" : " reads") +
                        " that a longer path already shows " + (implied == 1 ? "is" : "are") +
                        " not drawn; a component's details list everything it reads.");
        set_default(graph, AGRAPH, "fontname", "Helvetica");
        set_default(graph, AGRAPH, "fontsize", "11");
        set_default(graph, AGRAPH, "fontcolor", "#6b7280");
    }

    std::string engine = "dot";
    if (gvLayout(context, graph, engine.c_str()) != 0) {
        throw std::runtime_error("Graphviz could not lay out the pipeline");
    }
    open.laid_out = true;
    char* data = nullptr;
    unsigned int length = 0;
    if (gvRenderData(context, graph, "svg", &data, &length) != 0 || data == nullptr) {
        if (data) gvFreeRenderData(data);
        throw std::runtime_error("Graphviz could not draw the pipeline as SVG");
    }
    std::string svg(data, length);
    gvFreeRenderData(data);
    return svg;
}

std::string pipeline_svg(const pipeline::NuvexLinkPipelineModel& pipeline) {
    return render_svg(draw_pipeline(pipeline));
}

}  // namespace page
