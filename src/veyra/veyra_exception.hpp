#pragma once
// Reads the status and the message back from the text of a request the platform refused.

#include <string>
#include <string_view>
#include <utility>

#include "host/http_status.hpp"

namespace veyra {

// For 400 the message is the platform's error body as it came (its JSON text, an object with
// "code" and "message"). For any other status it is the body's "message" when the body is an
// object holding one, else the body text, else the status's reason phrase. A text that is not
// one of a refused request gives 500 with the text itself.
std::pair<host::HTTPStatus, std::string> parse_veyra_exception(std::string_view error_str);

}  // namespace veyra
