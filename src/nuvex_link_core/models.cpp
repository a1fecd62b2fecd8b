#include "nuvex_link_core/models.hpp"

#include <boost/json/value.hpp>

#include "host/json_order.hpp"

namespace nuvex_link_core {
namespace json = boost::json;

namespace {

// Where a value sits in the pipeline document, for failure texts.
std::string field_path(std::string_view prefix, std::string_view key) {
    return prefix.empty() ? std::string(key) : std::string(prefix) + "." + std::string(key);
}

[[noreturn]] void fail(const std::string& field, std::string_view problem) {
    throw ModelError(field + ": " + std::string(problem));
}

void require_string(json::object& object, std::string_view prefix, std::string_view key) {
    const auto* value = object.if_contains(key);
    if (!value) fail(field_path(prefix, key), "field required");
    if (!value->is_string()) fail(field_path(prefix, key), "must be a string");
}

void optional_string(json::object& object, std::string_view prefix, std::string_view key) {
    const auto* value = object.if_contains(key);
    if (!value) {
        object.emplace(key, nullptr);
    } else if (!value->is_string() && !value->is_null()) {
        fail(field_path(prefix, key), "must be a string or null");
    }
}

// A component's fields in the order their failures are reported.
enum ComponentField { kIdentifier, kName, kCode, kDiskcacheDir, kExecutionStatus,
                      kDiskcacheStatus, kMetadata, kParents, kFieldCount };
constexpr std::string_view kComponentFields[kFieldCount] = {
    "identifier", "name", "code", "diskcache_dir", "execution_status", "diskcache_status",
    "metadata", "parents"};

void check_component(json::object& component, const std::string& prefix) {
    // One pass over the keys finds every field; pipelines hold hundreds of components.
    const json::value* found[kFieldCount] = {};
    for (const auto& member : component) {
        for (int field = 0; field < kFieldCount; ++field) {
            if (member.key() == kComponentFields[field]) {
                found[field] = &member.value();
                break;
            }
        }
    }
    const auto name_of = [&](int field) { return field_path(prefix, kComponentFields[field]); };
    for (int field : {kIdentifier, kName, kCode}) {
        if (!found[field]) fail(name_of(field), "field required");
        if (!found[field]->is_string()) fail(name_of(field), "must be a string");
    }
    for (int field : {kDiskcacheDir, kExecutionStatus, kDiskcacheStatus}) {
        if (found[field] && !found[field]->is_string() && !found[field]->is_null()) {
            fail(name_of(field), "must be a string or null");
        }
    }
    if (found[kMetadata] && !found[kMetadata]->is_object()) fail(name_of(kMetadata), "must be an object");
    if (found[kParents]) {
        if (!found[kParents]->is_array()) fail(name_of(kParents), "must be an array");
        std::size_t index = 0;
        for (const auto& parent : found[kParents]->get_array()) {
            const std::string parent_path = name_of(kParents) + "[" + std::to_string(index++) + "]";
            if (!parent.is_object()) fail(parent_path, "must be an object");
            const auto* id = parent.get_object().if_contains("id");
            if (!id) fail(parent_path + ".id", "field required");
            if (!id->is_string()) fail(parent_path + ".id", "must be a string");
        }
    }
    // Absent optional fields read as their defaults.
    for (int field : {kDiskcacheDir, kExecutionStatus, kDiskcacheStatus}) {
        if (!found[field]) component.emplace(kComponentFields[field], nullptr);
    }
    if (!found[kMetadata]) component.emplace("metadata", json::object());
    if (!found[kParents]) component.emplace("parents", json::array());
}

json::object check_pipeline(json::object pipeline) {
    require_string(pipeline, "", "identifier");
    if (!pipeline.contains("name")) pipeline.emplace("name", "");
    require_string(pipeline, "", "name");
    optional_string(pipeline, "", "diskcache_dir");
    auto* graph = pipeline.if_contains("graph");
    if (!graph) graph = &pipeline.emplace("graph", json::object{{"components", json::array()}}).first->value();
    if (!graph->is_object()) fail("graph", "must be an object");
    auto* components = graph->get_object().if_contains("components");
    if (!components) fail("graph.components", "field required");
    if (!components->is_array()) fail("graph.components", "must be an array");
    std::size_t index = 0;
    for (auto& component : components->get_array()) {
        const std::string prefix = "graph.components[" + std::to_string(index++) + "]";
        if (!component.is_object()) fail(prefix, "must be an object");
        check_component(component.get_object(), prefix);
    }
    return pipeline;
}

std::optional<std::string_view> text_or_null(const json::object& object, std::string_view key) {
    const auto* value = object.if_contains(key);
    if (!value || !value->is_string()) return std::nullopt;
    return std::string_view(value->get_string());
}

std::string_view text(const json::object& object, std::string_view key) {
    return text_or_null(object, key).value_or(std::string_view());
}

}  // namespace

std::string_view NuvexLinkComponentModel::identifier() const { return text(*json_, "identifier"); }
std::string_view NuvexLinkComponentModel::name() const { return text(*json_, "name"); }
std::string_view NuvexLinkComponentModel::code() const { return text(*json_, "code"); }
std::optional<std::string_view> NuvexLinkComponentModel::diskcache_dir() const {
    return text_or_null(*json_, "diskcache_dir");
}
std::optional<std::string_view> NuvexLinkComponentModel::execution_status() const {
    return text_or_null(*json_, "execution_status");
}
std::optional<std::string_view> NuvexLinkComponentModel::diskcache_status() const {
    return text_or_null(*json_, "diskcache_status");
}
const json::object& NuvexLinkComponentModel::metadata() const {
    return json_->at("metadata").get_object();
}
const json::array& NuvexLinkComponentModel::parents() const {
    return json_->at("parents").get_array();
}

NuvexLinkPipelineModel::NuvexLinkPipelineModel(std::string_view identifier)
    : NuvexLinkPipelineModel(json::object{{"identifier", identifier},
                                          {"name", ""},
                                          {"diskcache_dir", nullptr},
                                          {"graph", json::object{{"components", json::array()}}}}) {}

NuvexLinkPipelineModel::NuvexLinkPipelineModel(json::object checked) : json_(std::move(checked)) {
    index_components();
}

NuvexLinkPipelineModel NuvexLinkPipelineModel::from_json(json::object object) {
    return NuvexLinkPipelineModel(check_pipeline(std::move(object)));
}

NuvexLinkPipelineModel::NuvexLinkPipelineModel(NuvexLinkPipelineModel&& other) noexcept
    : json_(std::move(other.json_)) {
    index_components();
}

NuvexLinkPipelineModel& NuvexLinkPipelineModel::operator=(NuvexLinkPipelineModel&& other) noexcept {
    json_ = std::move(other.json_);
    index_components();
    return *this;
}

void NuvexLinkPipelineModel::index_components() {
    components_.clear();
    const auto* graph = json_.if_contains("graph");
    if (!graph) return;
    const auto* components = graph->get_object().if_contains("components");
    if (!components) return;
    components_.reserve(components->get_array().size());
    for (const auto& component : components->get_array()) {
        components_.emplace_back(component.get_object());
    }
}

std::string_view NuvexLinkPipelineModel::identifier() const { return text(json_, "identifier"); }

void NuvexLinkPipelineModel::set_identifier(std::string_view identifier) {
    json_["identifier"] = identifier;
}

std::string_view NuvexLinkPipelineModel::name() const { return text(json_, "name"); }

std::optional<std::string_view> NuvexLinkPipelineModel::diskcache_dir() const {
    return text_or_null(json_, "diskcache_dir");
}

json::object NuvexLinkPipelineModel::to_nuvexlink_dict(bool include_captured) const {
    json::object dict(json_, json::storage_ptr());
    if (!include_captured) {
        for (auto& component : dict["graph"].get_object()["components"].get_array()) {
            host::erase_key(component.get_object(), "captured");
        }
    }
    return dict;
}

}  // namespace nuvex_link_core
