#include "nuvex_link/server/misc/functions.hpp"

#include <boost/json/value.hpp>
#include <unordered_map>

namespace nuvex_link::server::misc {

NuvexLinkDagUpdateModel get_dag_update_info(const nuvex_link_core::NuvexLinkPipelineModel& old,
                                            const nuvex_link_core::NuvexLinkPipelineModel& now) {
    // A later component with the same identifier stands for that identifier.
    std::unordered_map<std::string_view, const boost::json::object*> old_by_id;
    old_by_id.reserve(old.components().size());
    for (const auto& component : old.components()) {
        old_by_id.insert_or_assign(component.identifier(), &component.json());
    }
    std::unordered_map<std::string_view, const boost::json::object*> new_by_id;
    new_by_id.reserve(now.components().size());
    for (const auto& component : now.components()) {
        new_by_id.insert_or_assign(component.identifier(), &component.json());
    }

    NuvexLinkDagUpdateModel update;
    update.identifier = now.identifier();
    auto& changes = update.updated_components;
    for (const auto& component : now.components()) {
        const auto latest = new_by_id.find(component.identifier());
        if (latest->second != &component.json()) continue;  // superseded by a later duplicate
        const auto before = old_by_id.find(component.identifier());
        if (before == old_by_id.end()) {
            changes.added.push_back(&component.json());
        } else if (*before->second != component.json()) {
            changes.revised.push_back(&component.json());
        }
    }
    for (const auto& component : old.components()) {
        const auto latest = old_by_id.find(component.identifier());
        if (latest->second != &component.json()) continue;
        if (!new_by_id.contains(component.identifier())) {
            changes.deleted.emplace_back(component.identifier());
        }
    }
    return update;
}

}  // namespace nuvex_link::server::misc
