#pragma once
// Pipelines as the front end posts them.

#include <boost/json/object.hpp>
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

}  // namespace test_support
