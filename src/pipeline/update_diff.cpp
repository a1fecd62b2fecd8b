#include "pipeline/update_diff.hpp"

namespace pipeline {

NuvexLinkDagUpdateModel get_dag_update_info(const pipeline::NuvexLinkPipelineModel& old,
                                            const pipeline::NuvexLinkPipelineModel& now) {
    NuvexLinkDagUpdateModel update;
    update.identifier = now.identifier();
    auto& changes = update.updated_components;
    for (const auto& component : now.components()) {
        if (!component.stands_for_identifier()) continue;
        const auto* before = old.find_component(component.identifier_key());
        if (!before) {
            changes.added.push_back(&component);
        } else if (before->fingerprint() != component.fingerprint()) {
            changes.revised.push_back(&component);
        }
    }
    for (const auto& component : old.components()) {
        if (component.stands_for_identifier() && !now.find_component(component.identifier_key())) {
            changes.deleted.emplace_back(component.identifier());
        }
    }
    return update;
}

}  // namespace pipeline
