#pragma once
// JSON objects keep their keys in insertion order, and answers depend on it; the library's own
// erase moves the last key into the gap, so removal goes through here.

#include <boost/json/object.hpp>
#include <string_view>

namespace json_io {

// Removes key (if present) and keeps the order of the other keys.
void erase_key(boost::json::object& object, std::string_view key);

}  // namespace json_io
