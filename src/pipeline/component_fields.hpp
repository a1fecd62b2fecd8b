#pragma once
// A component's fields as the pipeline model checks them, for its two readings of a
// component: as an object of the pipeline's document (models.cpp) and as the text it was
// posted as (deferred_components.cpp). Internal to the model.

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <string>
#include <string_view>

#include "pipeline/models.hpp"

namespace pipeline::component_fields {

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
inline constexpr std::string_view kComponentFields[kFieldCount] = {
    "identifier",       "name",     "code",   "diskcache_dir", "execution_status",
    "diskcache_status", "metadata", "parents"};

// The field a component's key names, or kFieldCount for a key of its own.
inline int field_of(std::string_view key) {
    for (int field = 0; field < kFieldCount; ++field) {
        if (key == kComponentFields[field]) return field;
    }
    return kFieldCount;
}

// The optional fields absent from a component, in the order they are filled in.
inline constexpr ComponentField kDefaulted[] = {kDiskcacheDir, kExecutionStatus, kDiskcacheStatus,
                                                kMetadata, kParents};

[[noreturn]] inline void fail(const std::string& field, std::string_view problem) {
    throw ModelError(field + ": " + std::string(problem));
}

// Each parent is an object with a string "id"; `path()` names the list in failure texts.
template <class Path>
void check_parents(const boost::json::array& parents, Path path) {
    std::size_t parent_index = 0;
    for (const auto& parent : parents) {
        const auto parent_path = [&] { return path() + "[" + std::to_string(parent_index) + "]"; };
        if (!parent.is_object()) fail(parent_path(), "must be an object");
        const auto* id = parent.get_object().if_contains("id");
        if (!id) fail(parent_path() + ".id", "field required");
        if (!id->is_string()) fail(parent_path() + ".id", "must be a string");
        ++parent_index;
    }
}

}  // namespace pipeline::component_fields
