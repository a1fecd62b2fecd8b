#pragma once
// Deeply nested JSON text for the nesting limit's tests.

#include <string>
#include <string_view>

namespace test_support {

// `levels` containers one in the other, objects {"k": ...} and arrays [...] in turn, around
// `innermost`; written as the server's JSON text writer writes it.
std::string nested_json(int levels, std::string_view innermost = "0");

}  // namespace test_support
