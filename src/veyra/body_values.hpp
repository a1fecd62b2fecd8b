#pragma once
// Reading the values of the Veyra handlers' JSON bodies the way the front end means them.

#include <boost/json/fwd.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace veyra {

// The body as an object; fails (reaching the host's error answer) for anything else.
const boost::json::object& body_object(const boost::json::value& body);

// The message for a required key missing from the body.
std::string required_in_body(std::string_view key);

// A text, or nullopt for null; fails with a text naming the key for any other value.
std::optional<std::string> text_or_null(const boost::json::value& value, std::string_view key);

// A number taken as an integer: a fraction is cut toward zero, true counts as 1, null gives
// nullopt. Anything else, and a number outside the 64-bit range, fails naming the key.
std::optional<std::int64_t> integer_or_null(const boost::json::value& value, std::string_view key);

// The value's truth: false, null, 0, "", [] and {} are false, everything else true.
bool is_truthy(const boost::json::value& value);

}  // namespace veyra
