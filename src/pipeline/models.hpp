#pragma once
// The pipeline the front end edits: a JSON document checked against the pipeline's shape,
// with typed read access to the fields the handlers use. Unknown keys are kept.

#include <boost/json/object.hpp>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/json_io/deferred_array.hpp"
#include "base/json_io/json_fingerprint.hpp"

namespace pipeline {

// A JSON value that does not fit the pipeline's shape; the text names the field,
// e.g. "graph.components[2].identifier: field required".
class ModelError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// Read access to one component of a pipeline; valid while the pipeline lives. A component is
// either an object of the pipeline's document or, in the usual case of a posted pipeline, the
// text it was posted as, built into an object only when something reads all of it.
class NuvexLinkComponentModel {
public:
    std::string_view identifier() const { return identifier_; }
    std::optional<std::string_view> diskcache_dir() const { return or_null(diskcache_dir_); }
    std::optional<std::string_view> execution_status() const { return or_null(execution_status_); }
    std::optional<std::string_view> diskcache_status() const { return or_null(diskcache_status_); }
    // Ran successfully and its result is cached: the components whose caches are counted,
    // shown and exported.
    bool has_cached_result() const;
    // The component's JSON form, with the optional fields that were absent filled in.
    boost::json::object object(boost::json::storage_ptr storage = {}) const;

    // Comparing two pipelines reads these, kept side by side, rather than the components,
    // which lie far apart in memory: equal components have equal fingerprints, and so do
    // equal identifiers (two different ones share a fingerprint with a chance of 2^-128).
    const json_io::JsonFingerprint& fingerprint() const { return fingerprint_; }
    const json_io::JsonFingerprint& identifier_key() const { return identifier_key_; }
    // False when a later component of the pipeline carries the same identifier.
    bool stands_for_identifier() const { return stands_for_identifier_; }

    // Made by the pipeline: from a checked object of its document, or from the text of a
    // usual component (optional texts with a null data() for null).
    explicit NuvexLinkComponentModel(const boost::json::object& json);
    NuvexLinkComponentModel(std::string_view text, std::string_view identifier,
                            std::string_view diskcache_dir, std::string_view execution_status,
                            std::string_view diskcache_status,
                            json_io::JsonFingerprint fingerprint);

private:
    friend class NuvexLinkPipelineModel;

    // Optional texts are held with a null data() for null.
    static std::optional<std::string_view> or_null(std::string_view text) {
        return text.data() ? std::optional(text) : std::nullopt;
    }

    const boost::json::object* json_ = nullptr;
    std::string_view text_;  // when json_ is null
    std::string_view identifier_;
    std::string_view diskcache_dir_;
    std::string_view execution_status_;
    std::string_view diskcache_status_;
    json_io::JsonFingerprint identifier_key_;
    json_io::JsonFingerprint fingerprint_;
    bool stands_for_identifier_ = true;
};

class NuvexLinkPipelineModel {
public:
    // An empty pipeline of a kernel: no name, no cache folder, no components.
    explicit NuvexLinkPipelineModel(std::string_view identifier);
    // Checks the object (throws ModelError) and fills the optional fields that are absent.
    // When the object's values borrow memory they do not own, `memory` is kept with them.
    static NuvexLinkPipelineModel from_json(boost::json::object object,
                                            std::shared_ptr<const void> memory = {});
    // The same for an object whose graph.components was left empty as the body was read, its
    // elements kept as text in `components` (borrowing `memory` as well), when they were found.
    static NuvexLinkPipelineModel from_json(boost::json::object object,
                                            const json_io::DeferredArray& components,
                                            std::shared_ptr<const void> memory);

    NuvexLinkPipelineModel(NuvexLinkPipelineModel&&) noexcept = default;
    NuvexLinkPipelineModel& operator=(NuvexLinkPipelineModel&&) noexcept = default;
    NuvexLinkPipelineModel(const NuvexLinkPipelineModel&) = delete;
    NuvexLinkPipelineModel& operator=(const NuvexLinkPipelineModel&) = delete;

    std::string_view identifier() const;
    void set_identifier(std::string_view identifier);
    std::string_view name() const;
    std::optional<std::string_view> diskcache_dir() const;
    // graph.components, in order.
    const std::vector<NuvexLinkComponentModel>& components() const { return content_->components; }
    // The component that stands for an identifier: the last one that carries it.
    const NuvexLinkComponentModel* find_component(std::string_view identifier) const;
    const NuvexLinkComponentModel* find_component(
        const json_io::JsonFingerprint& identifier_key) const;

    // The pipeline's JSON form; without the components' "captured" unless asked for.
    boost::json::object to_nuvexlink_dict(bool include_captured = false) const;

private:
    NuvexLinkPipelineModel(
        boost::json::object checked, std::shared_ptr<const void> memory,
        std::optional<std::vector<NuvexLinkComponentModel>> components_from_text = {});

    // Kept on the heap and never moved, so the component views stay valid when the pipeline
    // moves (moving a JSON object between two memory resources would copy it).
    struct Content {
        Content(boost::json::object checked, std::shared_ptr<const void> memory,
                std::optional<std::vector<NuvexLinkComponentModel>> components_from_text);

        std::shared_ptr<const void> memory;
        // Its graph.components is empty when the components are kept as text.
        boost::json::object json;  // after memory, so destroyed before it
        std::vector<NuvexLinkComponentModel> components;
        bool components_as_text = false;
        // Open addressing over the identifier keys: 1 + the index of the component that stands
        // for an identifier, 0 for a free slot. One block, not a node per component.
        std::vector<std::uint32_t> slots;

        std::uint32_t* slot_of(const json_io::JsonFingerprint& identifier_key);
    };
    std::unique_ptr<Content> content_;
};

}  // namespace pipeline
