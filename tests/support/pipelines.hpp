#pragma once
// Pipelines as the front end posts them.

#include <boost/json/object.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace test_support {

// A component with every field; status and cache folder as given (empty text: null).
boost::json::object make_component(std::string_view identifier, std::string_view code = "x = 1",
                                   std::string_view execution_status = "successful",
                                   std::string_view diskcache_status = "cached",
                                   std::string_view diskcache_dir = "");

boost::json::object make_pipeline(std::string_view identifier,
                                  std::vector<boost::json::object> components,
                                  std::string_view diskcache_dir = "");

// The DAG POST body that announces a new pipeline.
std::string pipeline_updated(const boost::json::object& pipeline);

// A component described by what the cache handlers look at; the rest is filled in (parents,
// metadata and a "captured" value included).
struct ComponentShape {
    std::string identifier;
    std::optional<std::string> diskcache_dir;
    std::optional<std::string> execution_status = "successful";
    std::optional<std::string> diskcache_status = "cached";
    std::vector<std::string> parents = {};
};

boost::json::object component_of_shape(const ComponentShape& shape);
boost::json::object pipeline_of_shapes(const std::vector<ComponentShape>& components,
                                       const std::optional<std::string>& diskcache_dir);

class TestServer;
// Marks the kernel as running and stores the pipeline for it through the DAG route.
void store_pipeline(TestServer& server, std::string_view kernel_id,
                    const boost::json::object& pipeline);

}  // namespace test_support
