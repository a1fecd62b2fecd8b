#include "base/json_io/json_order.hpp"

#include <boost/json/value.hpp>

namespace json_io {

void erase_key(boost::json::object& object, std::string_view key) {
    if (!object.contains(key)) return;
    boost::json::object kept(object.storage());
    kept.reserve(object.size());
    for (auto& member : object) {
        if (member.key() != key) kept.emplace(member.key(), std::move(member.value()));
    }
    object = std::move(kept);
}

}  // namespace json_io
