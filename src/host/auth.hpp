#pragma once
// The token check every route and the websocket upgrade go through.

#include <string>
#include <string_view>

#include "host/exchange.hpp"

namespace host {

// A random token of 48 hexadecimal digits.
std::string make_token();

// True when the query argument "token" or the header "Authorization: token|Bearer <t>"
// carries the server's token (compared in constant time).
bool is_authenticated(const Fields& query, const Fields& headers, std::string_view token);

}  // namespace host
