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
enum ComponentField {
    kIdentifier,
    kName,
    kCode,
    kDiskcacheDir,
    kExecutionStatus,
    kDiskcacheStatus,
    kMetadata,
    kParents,
    kFieldCount
};
constexpr std::string_view kComponentFields[kFieldCount] = {
    "identifier",       "name",     "code",   "diskcache_dir", "execution_status",
    "diskcache_status", "metadata", "parents"};

// The path of a component, written only for a failure.
std::string component_path(std::size_t index) {
    return "graph.components[" + std::to_string(index) + "]";
}

void check_component(json::object& component, std::size_t index) {
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
        std::size_t parent_index = 0;
        for (const auto& parent : found[kParents]->get_array()) {
            const auto parent_path = [&] {
                return name_of(kParents) + "[" + std::to_string(parent_index) + "]";
            };
            if (!parent.is_object()) fail(parent_path(), "must be an object");
            const auto* id = parent.get_object().if_contains("id");
            if (!id) fail(parent_path() + ".id", "field required");
            if (!id->is_string()) fail(parent_path() + ".id", "must be a string");
            ++parent_index;
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
      identifier_key_(host::json_fingerprint(identifier_)),
      fingerprint_(host::json_fingerprint(json)) {}

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
                                          {"graph", json::object{{"components", json::array()}}}},
                             nullptr) {}

NuvexLinkPipelineModel::NuvexLinkPipelineModel(json::object checked,
                                               std::shared_ptr<const void> memory)
    : content_(std::make_unique<Content>(std::move(checked), std::move(memory))) {}

NuvexLinkPipelineModel NuvexLinkPipelineModel::from_json(json::object object,
                                                         std::shared_ptr<const void> memory) {
    return NuvexLinkPipelineModel(check_pipeline(std::move(object)), std::move(memory));
}

NuvexLinkPipelineModel::Content::Content(json::object checked, std::shared_ptr<const void> memory)
    : memory(std::move(memory)), json(std::move(checked)) {
    const auto& list = json.at("graph").at("components").get_array();
    components.reserve(list.size());
    std::size_t capacity = 8;
    while (capacity < 2 * list.size()) capacity *= 2;
    slots.assign(capacity, 0);
    for (const auto& component : list) {
        components.emplace_back(component.get_object());
        std::uint32_t* slot = slot_of(components.back().identifier_key());
        if (*slot != 0) components[*slot - 1].stands_for_identifier_ = false;
        *slot = static_cast<std::uint32_t>(components.size());
    }
}

// The slot that holds the identifier, or the free one where it would go.
std::uint32_t* NuvexLinkPipelineModel::Content::slot_of(
    const host::JsonFingerprint& identifier_key) {
    const std::size_t mask = slots.size() - 1;
    for (std::size_t at = identifier_key.first & mask;; at = (at + 1) & mask) {
        const std::uint32_t held = slots[at];
        if (held == 0 || components[held - 1].identifier_key() == identifier_key) return &slots[at];
    }
}

const NuvexLinkComponentModel* NuvexLinkPipelineModel::find_component(
    const host::JsonFingerprint& identifier_key) const {
    const std::uint32_t held = *content_->slot_of(identifier_key);
    return held == 0 ? nullptr : &content_->components[held - 1];
}

const NuvexLinkComponentModel* NuvexLinkPipelineModel::find_component(
    std::string_view identifier) const {
    const auto* found = find_component(host::json_fingerprint(identifier));
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
    if (!include_captured) {
        for (auto& component : dict["graph"].get_object()["components"].get_array()) {
            host::erase_key(component.get_object(), "captured");
        }
    }
    return dict;
}

}  // namespace nuvex_link_core
