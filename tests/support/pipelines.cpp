#include "support/pipelines.hpp"

#include <boost/json/value.hpp>

#include "host/json_text.hpp"

namespace test_support {
namespace {

boost::json::value text_or_null(std::string_view text) {
    return text.empty() ? boost::json::value(nullptr) : boost::json::value(text);
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
    return host::to_json_text(boost::json::object{{"procedure", "pipeline:updated"},
                                                  {"status", "successful"},
                                                  {"msg", ""},
                                                  {"successful", pipeline}});
}

}  // namespace test_support
