#include "pipeline/models.hpp"

#include <boost/json/value.hpp>

#include "base/json_io/json_order.hpp"
#include "base/json_io/json_reader.hpp"
#include "pipeline/component_fields.hpp"
#include "pipeline/deferred_components.hpp"
#include "pipeline/status.hpp"

namespace pipeline {
namespace json = boost::json;

namespace {

using namespace component_fields;

// Where a value sits in the pipeline document, for failure texts.
std::string field_path(std::string_view prefix, std::string_view key) {
    return prefix.empty() ? std::string(key) : std::string(prefix) + "." + std::string(key);
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

// The path of a component, written only for a failure.
std::string component_path(std::size_t index) {
    return "graph.components[" + std::to_string(index) + "]";
}

void check_component(json::object& component, std::size_t index) {
    // One pass over the keys finds every field; pipelines hold hundreds of components.
    const json::value* found[kFieldCount] = {};
    for (const auto& member : component) {
        const int field = field_of(member.key());
        if (field < kFieldCount) found[field] = &member.value();
    }
    const auto name_of = [&](int field) {
        return field_path(component_path(index), kComponentFields[field]);
    };
    for (int field : {kIdentifier, kName, kCode}) {
        if (!found[field]) fail(name_of(field), "field required");
        if (!found[field]->is_string()) fail(name_of(field), "must be a string");
    }
    for (int field : {kDiskcacheDir, kExecutionStatus, kDiskcacheStatus}) {
        if (found[field] && !found[field]->is_string() && !found[field]->is_null()) {
            fail(name_of(field), "must be a string or null");
        }
    }
    if (found[kMetadata] && !found[kMetadata]->is_object())
        fail(name_of(kMetadata), "must be an object");
    if (found[kParents]) {
        if (!found[kParents]->is_array()) fail(name_of(kParents), "must be an array");
        check_parents(found[kParents]->get_array(), [&] { return name_of(kParents); });
    }
    // Absent optional fields read as their defaults.
    for (ComponentField field : kDefaulted) {
        if (found[field]) continue;
        if (field == kMetadata) {
            component.emplace("metadata", json::object());
        } else if (field == kParents) {
            component.emplace("parents", json::array());
        } else {
            component.emplace(kComponentFields[field], nullptr);
        }
    }
}

json::object check_pipeline(json::object pipeline) {
    require_string(pipeline, "", "identifier");
    if (!pipeline.contains("name")) pipeline.emplace("name", "");
    require_string(pipeline, "", "name");
    optional_string(pipeline, "", "diskcache_dir");
    auto* graph = pipeline.if_contains("graph");
    if (!graph)
        graph =
            &pipeline.emplace("graph", json::object{{"components", json::array()}}).first->value();
    if (!graph->is_object()) fail("graph", "must be an object");
    auto* components = graph->get_object().if_contains("components");
    if (!components) fail("graph.components", "field required");
    if (!components->is_array()) fail("graph.components", "must be an array");
    std::size_t index = 0;
    for (auto& component : components->get_array()) {
        if (!component.is_object()) fail(component_path(index), "must be an object");
        check_component(component.get_object(), index++);
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

NuvexLinkComponentModel::NuvexLinkComponentModel(const json::object& json)
    : json_(&json),
      identifier_(text(json, "identifier")),
      diskcache_dir_(text(json, "diskcache_dir")),
      execution_status_(text(json, "execution_status")),
      diskcache_status_(text(json, "diskcache_status")),
      identifier_key_(json_io::json_fingerprint(identifier_)),
      fingerprint_(json_io::json_fingerprint(json)) {}

NuvexLinkComponentModel::NuvexLinkComponentModel(std::string_view text, std::string_view identifier,
                                                 std::string_view diskcache_dir,
                                                 std::string_view execution_status,
                                                 std::string_view diskcache_status,
                                                 json_io::JsonFingerprint fingerprint)
    : text_(text),
      identifier_(identifier),
      diskcache_dir_(diskcache_dir),
      execution_status_(execution_status),
      diskcache_status_(diskcache_status),
      identifier_key_(json_io::json_fingerprint(identifier_)),
      fingerprint_(fingerprint) {}

bool NuvexLinkComponentModel::has_cached_result() const {
    return execution_status() == NuvexLinkComponentStatus::SUCCESSFUL &&
           diskcache_status() == NuvexLinkDiskcacheStatus::CACHED;
}

json::object NuvexLinkComponentModel::object(json::storage_ptr storage) const {
    if (json_) return json::object(*json_, std::move(storage));
    // Read as a usual component once already, so it reads and checks again without fail.
    boost::system::error_code error;
    json::value built = json_io::read_json(text_, std::move(storage), error);
    check_component(built.as_object(), 0);
    return std::move(built.as_object());
}

NuvexLinkPipelineModel::NuvexLinkPipelineModel(std::string_view identifier)
    : NuvexLinkPipelineModel(json::object{{"identifier", identifier},
                                          {"name", ""},
                                          {"diskcache_dir", nullptr},
                                          {"graph", json::object{{"components", json::array()}}}},
                             nullptr) {}

NuvexLinkPipelineModel::NuvexLinkPipelineModel(
    json::object checked, std::shared_ptr<const void> memory,
    std::optional<std::vector<NuvexLinkComponentModel>> components_from_text)
    : content_(std::make_unique<Content>(std::move(checked), std::move(memory),
                                         std::move(components_from_text))) {}

NuvexLinkPipelineModel NuvexLinkPipelineModel::from_json(json::object object,
                                                         std::shared_ptr<const void> memory) {
    return NuvexLinkPipelineModel(check_pipeline(std::move(object)), std::move(memory));
}

NuvexLinkPipelineModel NuvexLinkPipelineModel::from_json(json::object object,
                                                         const json_io::DeferredArray& components,
                                                         std::shared_ptr<const void> memory) {
    if (!components.found) return from_json(std::move(object), std::move(memory));
    // The fields around the components are checked first, as they are for a whole object.
    json::object checked = check_pipeline(std::move(object));
    std::vector<NuvexLinkComponentModel> usual;
    usual.reserve(components.elements.size());
    for (const auto& element : components.elements) {
        if (!add_usual_component(usual, components, element)) break;
    }
    if (usual.size() == components.elements.size()) {
        return NuvexLinkPipelineModel(std::move(checked), std::move(memory), std::move(usual));
    }
    // Built in full, the components give the failure texts in their order.
    auto& list = checked.at("graph").at("components").get_array();
    json_io::build_deferred_elements(components, list);
    for (std::size_t index = 0; index < list.size(); ++index) {
        check_component(list[index].get_object(), index);
    }
    return NuvexLinkPipelineModel(std::move(checked), std::move(memory));
}

NuvexLinkPipelineModel::Content::Content(
    json::object checked, std::shared_ptr<const void> memory,
    std::optional<std::vector<NuvexLinkComponentModel>> components_from_text)
    : memory(std::move(memory)), json(std::move(checked)) {
    if (components_from_text) {
        components = std::move(*components_from_text);
        components_as_text = true;
    } else {
        const auto& list = json.at("graph").at("components").get_array();
        components.reserve(list.size());
        for (const auto& component : list) components.emplace_back(component.get_object());
    }
    std::size_t capacity = 8;
    while (capacity < 2 * components.size()) capacity *= 2;
    slots.assign(capacity, 0);
    for (std::uint32_t index = 0; index < components.size(); ++index) {
        std::uint32_t* slot = slot_of(components[index].identifier_key());
        if (*slot != 0) components[*slot - 1].stands_for_identifier_ = false;
        *slot = index + 1;
    }
}

// The slot that holds the identifier, or the free one where it would go.
std::uint32_t* NuvexLinkPipelineModel::Content::slot_of(
    const json_io::JsonFingerprint& identifier_key) {
    const std::size_t mask = slots.size() - 1;
    for (std::size_t at = identifier_key.first & mask;; at = (at + 1) & mask) {
        const std::uint32_t held = slots[at];
        if (held == 0 || components[held - 1].identifier_key() == identifier_key) return &slots[at];
    }
}

const NuvexLinkComponentModel* NuvexLinkPipelineModel::find_component(
    const json_io::JsonFingerprint& identifier_key) const {
    const std::uint32_t held = *content_->slot_of(identifier_key);
    return held == 0 ? nullptr : &content_->components[held - 1];
}

const NuvexLinkComponentModel* NuvexLinkPipelineModel::find_component(
    std::string_view identifier) const {
    const auto* found = find_component(json_io::json_fingerprint(identifier));
    return found && found->identifier() == identifier ? found : nullptr;
}

std::string_view NuvexLinkPipelineModel::identifier() const {
    return text(content_->json, "identifier");
}

void NuvexLinkPipelineModel::set_identifier(std::string_view identifier) {
    content_->json["identifier"] = identifier;
}

std::string_view NuvexLinkPipelineModel::name() const { return text(content_->json, "name"); }

std::optional<std::string_view> NuvexLinkPipelineModel::diskcache_dir() const {
    return text_or_null(content_->json, "diskcache_dir");
}

json::object NuvexLinkPipelineModel::to_nuvexlink_dict(bool include_captured) const {
    json::object dict(content_->json, json::storage_ptr());
    if (content_->components_as_text) {
        auto& list = dict["graph"].get_object()["components"].get_array();
        list.reserve(content_->components.size());
        for (const auto& component : content_->components) list.push_back(component.object());
    }
    if (!include_captured) {
        for (auto& component : dict["graph"].get_object()["components"].get_array()) {
            json_io::erase_key(component.get_object(), "captured");
        }
    }
    return dict;
}

}  // namespace pipeline
