#pragma once
// Pipelines as the front end posts them, and the DAG message that stores one for a kernel.

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/value.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/json_text.hpp"
#include "support/test_server.hpp"

namespace test_support {

struct ComponentShape {
    std::string identifier;
    std::optional<std::string> diskcache_dir;
    std::optional<std::string> execution_status = "successful";
    std::optional<std::string> diskcache_status = "cached";
    std::vector<std::string> parents = {};
};

inline boost::json::value optional_text(const std::optional<std::string>& text) {
    return text ? boost::json::value(*text) : boost::json::value(nullptr);
}

inline boost::json::object make_component(const ComponentShape& shape) {
    boost::json::array parents;
    for (const auto& id : shape.parents) parents.push_back(boost::json::object{{"id", id}});
    return {{"identifier", shape.identifier},
            {"name", "cell " + shape.identifier},
            {"code", "x = '" + shape.identifier + "'\n"},
            {"diskcache_dir", optional_text(shape.diskcache_dir)},
            {"execution_status", optional_text(shape.execution_status)},
            {"diskcache_status", optional_text(shape.diskcache_status)},
            {"metadata", boost::json::object{{"tags", boost::json::array{"t-" + shape.identifier}}}},
            {"parents", std::move(parents)},
            {"captured", boost::json::object{{"rows", 3}}}};
}

inline boost::json::object make_pipeline(const std::vector<ComponentShape>& components,
                                         const std::optional<std::string>& diskcache_dir) {
    boost::json::array list;
    for (const auto& shape : components) list.push_back(make_component(shape));
    return {{"identifier", "ignored"},
            {"name", "pipeline"},
            {"diskcache_dir", optional_text(diskcache_dir)},
            {"graph", boost::json::object{{"components", std::move(list)}}}};
}

// Marks the kernel as running and stores the pipeline for it through the DAG route.
inline void store_pipeline(TestServer& server, std::string_view kernel_id,
                           const boost::json::object& pipeline) {
    server.start_kernel(kernel_id);
    boost::json::object message{{"procedure", "pipeline:updated"},
                                {"status", "successful"},
                                {"msg", ""},
                                {"successful", pipeline}};
    server.post("/nuvex-link/kernels/" + std::string(kernel_id), host::to_json_text(message));
}

}  // namespace test_support
