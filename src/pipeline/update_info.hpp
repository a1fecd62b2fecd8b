#pragma once
// The change from one pipeline to the next, as the front end applies it.

#include <boost/json/object.hpp>
#include <boost/json/storage_ptr.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/models.hpp"

namespace pipeline {

struct NuvexLinkDagUpdateComponentModel {
    // Components of the new pipeline (valid while it lives) and identifiers of the old one.
    std::vector<const pipeline::NuvexLinkComponentModel*> added;
    std::vector<const pipeline::NuvexLinkComponentModel*> revised;
    std::vector<std::string> deleted;

    bool empty() const { return added.empty() && revised.empty() && deleted.empty(); }
};

struct NuvexLinkDagUpdateModel {
    std::string identifier;
    NuvexLinkDagUpdateComponentModel updated_components;

    // {"identifier": ..., "updated_components": {"added": [...], "revised": [...],
    // "deleted": [...]}}
    boost::json::object dict(boost::json::storage_ptr storage = {}) const;
};

}  // namespace pipeline
