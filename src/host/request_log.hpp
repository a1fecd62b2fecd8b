#pragma once
// One log line per answered request, as notebook servers keep them: status, method, the target
// with its token hidden, the client's address and the time taken. Successful requests log at
// debug level, refused ones (4xx) at warning, failures (5xx) at error with their cause.
// Neither a token nor an Authorization header ever reaches the log.

#include <chrono>
#include <string>
#include <string_view>

#include "host/request.hpp"

namespace host {

void log_request(const Request& request, int status, std::chrono::steady_clock::duration took,
                 std::string_view cause);

// The target with the value of every `token` query argument replaced by "[secret]".
std::string target_without_token(std::string_view target);

}  // namespace host
