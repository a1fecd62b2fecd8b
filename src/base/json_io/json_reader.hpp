#pragma once
// A JSON reader for request bodies, which are mostly long strings: it takes exactly the texts
// that boost::json::parse takes with max_depth kMaxNestingDepth (strict JSON, UTF-8 checked)
// and builds the same values, but finds the end of a string 16 bytes at a time. Numbers with
// a fraction or exponent are read with correct rounding.

#include <boost/json/parse_options.hpp>
#include <boost/json/storage_ptr.hpp>
#include <boost/json/value.hpp>
#include <boost/system/error_code.hpp>
#include <span>
#include <string>
#include <string_view>

#include "base/json_io/deferred_array.hpp"

namespace json_io {

// The deepest nesting of arrays and objects a body may have (the top-level array or object is
// level 1). Walks over a body's values (writing, fingerprints, comparisons, destruction)
// recurse once per level, so this bounds the stack they take. A deeper text sets the error
// boost::json::error::too_deep.
constexpr int kMaxNestingDepth = 500;

// boost::json::parse's options that take the same texts as the reader.
boost::json::parse_options reader_parse_options();

// The document in text, its values allocated from storage. A text that is not one JSON
// document sets error (to a syntax error, or too_deep) and gives null.
boost::json::value read_json(std::string_view text, boost::json::storage_ptr storage,
                             boost::system::error_code& error);

// The same, but the array that `path` (keys from the root object) leads to, if there is one,
// is left empty in the document and its elements go to `deferred` (found) as text: provided
// each is an object with unescaped, distinct keys at every depth. Otherwise the document is
// whole and `deferred` not found.
boost::json::value read_json(std::string_view text, boost::json::storage_ptr storage,
                             boost::system::error_code& error, std::span<const std::string> path,
                             DeferredArray& deferred);

// The deferred elements built into values at the end of `array`, in the array's memory.
void build_deferred_elements(const DeferredArray& deferred, boost::json::array& array);

}  // namespace json_io
