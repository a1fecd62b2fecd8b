#include "nuvex_link/server/misc/models.hpp"

#include <boost/json/value.hpp>

namespace nuvex_link::server::misc {

boost::json::object NuvexLinkDagUpdateModel::dict() const {
    const auto copies = [](const std::vector<const boost::json::object*>& components) {
        boost::json::array array;
        array.reserve(components.size());
        for (const auto* component : components) array.emplace_back(*component);
        return array;
    };
    boost::json::array deleted;
    for (const auto& identifier : updated_components.deleted) deleted.emplace_back(identifier);
    return {{"identifier", identifier},
            {"updated_components",
             boost::json::object{{"added", copies(updated_components.added)},
                                 {"revised", copies(updated_components.revised)},
                                 {"deleted", std::move(deleted)}}}};
}

}  // namespace nuvex_link::server::misc
