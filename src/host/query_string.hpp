#pragma once
// The query string of a request target as name/value pairs.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace host {

// Splits "a=1&b=x+y" on '&' and the first '=' of each pair and percent-decodes both sides ('+'
// as a blank), keeping the pairs' order; empty pairs are skipped and a pair without '=' has an
// empty value.
std::vector<std::pair<std::string, std::string>> parse_query(std::string_view query);

}  // namespace host
