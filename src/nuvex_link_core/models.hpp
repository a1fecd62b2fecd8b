#pragma once
// The pipeline the front end edits: a JSON document checked against the pipeline's shape,
// with typed read access to the fields the handlers use. Unknown keys are kept.

#include <boost/json/object.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace nuvex_link_core {

// A JSON value that does not fit the pipeline's shape; the text names the field,
// e.g. "graph.components[2].identifier: field required".
class ModelError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// Read access to one component object of a pipeline; valid while the pipeline lives.
class NuvexLinkComponentModel {
public:
    explicit NuvexLinkComponentModel(const boost::json::object& json) : json_(&json) {}

    std::string_view identifier() const;
    std::string_view name() const;
    std::string_view code() const;
    std::optional<std::string_view> diskcache_dir() const;
    std::optional<std::string_view> execution_status() const;
    std::optional<std::string_view> diskcache_status() const;
    const boost::json::object& metadata() const;
    // Each parent is an object with "id".
    const boost::json::array& parents() const;
    const boost::json::object& json() const { return *json_; }

private:
    const boost::json::object* json_;
};

class NuvexLinkPipelineModel {
public:
    // An empty pipeline of a kernel: no name, no cache folder, no components.
    explicit NuvexLinkPipelineModel(std::string_view identifier);
    // Checks the object (throws ModelError) and fills the optional fields that are absent.
    static NuvexLinkPipelineModel from_json(boost::json::object object);

    NuvexLinkPipelineModel(NuvexLinkPipelineModel&& other) noexcept;
    NuvexLinkPipelineModel& operator=(NuvexLinkPipelineModel&& other) noexcept;
    NuvexLinkPipelineModel(const NuvexLinkPipelineModel&) = delete;
    NuvexLinkPipelineModel& operator=(const NuvexLinkPipelineModel&) = delete;

    std::string_view identifier() const;
    void set_identifier(std::string_view identifier);
    std::string_view name() const;
    std::optional<std::string_view> diskcache_dir() const;
    // graph.components, in order.
    const std::vector<NuvexLinkComponentModel>& components() const { return components_; }

    // The pipeline's JSON form; without the components' "captured" unless asked for.
    boost::json::object to_nuvexlink_dict(bool include_captured = false) const;
    const boost::json::object& json() const { return json_; }

private:
    explicit NuvexLinkPipelineModel(boost::json::object checked);
    void index_components();

    boost::json::object json_;
    std::vector<NuvexLinkComponentModel> components_;
};

}  // namespace nuvex_link_core
