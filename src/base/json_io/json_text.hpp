#pragma once
// The one JSON text writer of the server. Every answer body and websocket message goes
// through it so that the declared lengths and the bytes on the wire always agree.
//
// Format: ", " between items, ": " between key and value, no indentation, keys in insertion
// order, every character outside space..tilde escaped: \n, \r, \t, \b, \f and otherwise a
// lower-case \uXXXX (DEL is \u007f; surrogate pairs above U+FFFF), floats written the shortest
// way that reads back.

#include <boost/json/fwd.hpp>
#include <string>
#include <string_view>

namespace json_io {

std::string to_json_text(const boost::json::value& value);
void append_json_text(std::string& out, const boost::json::value& value);
void append_json_string(std::string& out, std::string_view utf8);
std::string format_float(double number);

}  // namespace json_io
