#include "support/pipelines.hpp"

#include <boost/json/value.hpp>

#include "base/json_io/json_text.hpp"
#include "support/test_server.hpp"

namespace test_support {
namespace {

boost::json::value text_or_null(std::string_view text) {
    return text.empty() ? boost::json::value(nullptr) : boost::json::value(text);
}

boost::json::value optional_text(const std::optional<std::string>& text) {
    return text ? boost::json::value(*text) : boost::json::value(nullptr);
}

}  // namespace

boost::json::object make_component(std::string_view identifier, std::string_view code,
                                   std::string_view execution_status,
                                   std::string_view diskcache_status,
                                   std::string_view diskcache_dir) {
    return {{"identifier", identifier},
            {"name", "cell " + std::string(identifier)},
            {"code", code},
            {"diskcache_dir", text_or_null(diskcache_dir)},
            {"execution_status", text_or_null(execution_status)},
            {"diskcache_status", text_or_null(diskcache_status)},
            {"metadata", boost::json::object{{"cell_id", identifier}}},
            {"parents", boost::json::array()}};
}

boost::json::object make_pipeline(std::string_view identifier,
                                  std::vector<boost::json::object> components,
                                  std::string_view diskcache_dir) {
    boost::json::array array;
    for (auto& component : components) array.emplace_back(std::move(component));
    return {{"identifier", identifier},
            {"name", "pipeline"},
            {"diskcache_dir", text_or_null(diskcache_dir)},
            {"graph", boost::json::object{{"components", std::move(array)}}}};
}

std::string pipeline_updated(const boost::json::object& pipeline) {
    return json_io::to_json_text(boost::json::object{{"procedure", "pipeline:updated"},
                                                     {"status", "successful"},
                                                     {"msg", ""},
                                                     {"successful", pipeline}});
}

boost::json::object component_of_shape(const ComponentShape& shape) {
    boost::json::array parents;
    for (const auto& id : shape.parents) parents.push_back(boost::json::object{{"id", id}});
    return {
        {"identifier", shape.identifier},
        {"name", "cell " + shape.identifier},
        {"code", "x = '" + shape.identifier + "'\n"},
        {"diskcache_dir", optional_text(shape.diskcache_dir)},
        {"execution_status", optional_text(shape.execution_status)},
        {"diskcache_status", optional_text(shape.diskcache_status)},
        {"metadata", boost::json::object{{"tags", boost::json::array{"t-" + shape.identifier}}}},
        {"parents", std::move(parents)},
        {"captured", boost::json::object{{"rows", 3}}}};
}

boost::json::object pipeline_of_shapes(const std::vector<ComponentShape>& components,
                                       const std::optional<std::string>& diskcache_dir) {
    boost::json::array list;
    for (const auto& shape : components) list.push_back(component_of_shape(shape));
    return {{"identifier", "ignored"},
            {"name", "pipeline"},
            {"diskcache_dir", optional_text(diskcache_dir)},
            {"graph", boost::json::object{{"components", std::move(list)}}}};
}

void store_pipeline(TestServer& server, std::string_view kernel_id,
                    const boost::json::object& pipeline) {
    server.start_kernel(kernel_id);
    server.post("/nuvex-link/kernels/" + std::string(kernel_id), pipeline_updated(pipeline));
}

}  // namespace test_support
