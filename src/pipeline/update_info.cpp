#include "pipeline/update_info.hpp"

#include <boost/json/value.hpp>

namespace pipeline {

boost::json::object NuvexLinkDagUpdateModel::dict(boost::json::storage_ptr storage) const {
    const auto copies = [&](const auto& components) {
        boost::json::array array(storage);
        array.reserve(components.size());
        for (const auto* component : components) array.emplace_back(component->object(storage));
        return array;
    };
    boost::json::array deleted(storage);
    for (const auto& identifier : updated_components.deleted) deleted.emplace_back(identifier);
    boost::json::object changes(storage);
    changes.emplace("added", copies(updated_components.added));
    changes.emplace("revised", copies(updated_components.revised));
    changes.emplace("deleted", std::move(deleted));
    boost::json::object update(storage);
    update.emplace("identifier", identifier);
    update.emplace("updated_components", std::move(changes));
    return update;
}

}  // namespace pipeline
