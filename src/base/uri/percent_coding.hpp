#pragma once
// Percent-coding of URL paths and query strings.

#include <string>
#include <string_view>

namespace uri {

// Decodes %XX escapes (and '+' as a blank when asked, as query strings write it). A '%' that
// is not followed by two hexadecimal digits stays as it is.
std::string percent_decode(std::string_view text, bool plus_as_space = false);

// Escapes every byte outside the unreserved set A-Z a-z 0-9 - . _ ~ and the given safe ones.
std::string percent_encode(std::string_view text, std::string_view safe = "");

}  // namespace uri
