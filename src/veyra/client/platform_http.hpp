#pragma once
// One JSON request to the platform over libcurl. Every request has a connect timeout and a
// total timeout, so a platform that hangs cannot hold a Veyra request for long.

#include <boost/json/fwd.hpp>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace veyra::client {

struct Timeouts {
    std::chrono::milliseconds connect{5000};
    std::chrono::milliseconds total{30000};
};

// The timeouts of every later request (process-wide).
void set_timeouts(Timeouts timeouts);
Timeouts timeouts();

struct PlatformRequest {
    std::string_view method;  // "GET" or "POST", nothing else
    std::string_view url;     // the full address, e.g. http://127.0.0.1:9000/v1/users/me
    std::optional<std::string_view> bearer_token;
    const boost::json::value* body = nullptr;  // sent as JSON when given
};

// Sends the request and gives the answer body parsed as JSON (null for an empty body).
// Fails with ConnectionError when the platform cannot be resolved, reached or does not answer
// in time, with RequestException for a status of 400 or more, and with std::runtime_error
// for an answer that is not JSON.
boost::json::value send_platform_request(const PlatformRequest& request);

// Ends the requests in flight (they fail with ConnectionError) and refuses new ones: a server
// that stops does not wait for a platform that hangs.
void abandon_platform_requests();

}  // namespace veyra::client
