#include "nuvex_link/server/misc/functions.hpp"

#include <boost/json/value.hpp>
#include <unordered_map>

namespace nuvex_link::server::misc {
namespace {

bool same_json(const boost::json::value& a, const boost::json::value& b);

// Pipelines posted one after the other keep their keys in the same order, so objects are
// compared side by side; the keyed comparison is the fallback when the orders differ.
bool same_object(const boost::json::object& a, const boost::json::object& b) {
    if (a.size() != b.size()) return false;
    for (auto left = a.begin(), right = b.begin(); left != a.end(); ++left, ++right) {
        if (left->key() != right->key()) return a == b;
        if (!same_json(left->value(), right->value())) return false;
    }
    return true;
}

bool same_json(const boost::json::value& a, const boost::json::value& b) {
    if (a.is_object() && b.is_object()) return same_object(a.get_object(), b.get_object());
    if (a.is_array() && b.is_array()) {
        const auto& left = a.get_array();
        const auto& right = b.get_array();
        if (left.size() != right.size()) return false;
        for (std::size_t i = 0; i < left.size(); ++i) {
            if (!same_json(left[i], right[i])) return false;
        }
        return true;
    }
    return a == b;
}

}  // namespace

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
        } else if (!same_object(*before->second, component.json())) {
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
