#pragma once
// A JSON reader for request bodies, which are mostly long strings: it takes exactly the texts
// that boost::json::parse takes (strict JSON, UTF-8 checked, at most 32 levels of nesting)
// and builds the same values, but finds the end of a string 16 bytes at a time. Numbers with
// a fraction or exponent are read with correct rounding.

#include <boost/json/storage_ptr.hpp>
#include <boost/json/value.hpp>
#include <boost/system/error_code.hpp>
#include <string_view>

namespace host {

// The document in text, its values allocated from storage. A text that is not one JSON
// document sets error (to a syntax error) and gives null.
boost::json::value read_json(std::string_view text, boost::json::storage_ptr storage,
                             boost::system::error_code& error);

}  // namespace host
