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

struct ComponentSpec {
    std::string identifier;
    std::optional<std::string> diskcache_dir;
    std::optional<std::string> execution_status = "successful";
    std::optional<std::string> diskcache_status = "cached";
    std::vector<std::string> parents = {};
};

inline boost::json::value optional_text(const std::optional<std::string>& text) {
    return text ? boost::json::value(*text) : boost::json::value(nullptr);
}

inline boost::json::object make_component(const ComponentSpec& spec) {
    boost::json::array parents;
    for (const auto& id : spec.parents) parents.push_back(boost::json::object{{"id", id}});
    return {{"identifier", spec.identifier},
            {"name", "cell " + spec.identifier},
            {"code", "x = '" + spec.identifier + "'\n"},
            {"diskcache_dir", optional_text(spec.diskcache_dir)},
            {"execution_status", optional_text(spec.execution_status)},
            {"diskcache_status", optional_text(spec.diskcache_status)},
            {"metadata", boost::json::object{{"tags", boost::json::array{"t-" + spec.identifier}}}},
            {"parents", std::move(parents)},
            {"captured", boost::json::object{{"rows", 3}}}};
}

inline boost::json::object make_pipeline(const std::vector<ComponentSpec>& components,
                                         const std::optional<std::string>& diskcache_dir) {
    boost::json::array list;
    for (const auto& spec : components) list.push_back(make_component(spec));
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
