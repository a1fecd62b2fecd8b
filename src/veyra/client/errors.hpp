#pragma once
// The failure kinds of the platform client. Callers tell them apart in this order:
// ConnectionError (the platform could not be reached or did not answer in time), then any
// other RequestException (the platform refused the request), then any other failure.

#include <stdexcept>
#include <string>
#include <string_view>

namespace veyra::client {

class RequestException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ConnectionError : public RequestException {
public:
    using RequestException::RequestException;
};

// The text of a refused request: "<status> <Client|Server> Error: <reason> for url: <url>",
// a line break, then the platform's answer body unchanged. parse_veyra_exception reads the
// status and the body back from it.
std::string refused_request_text(int status, std::string_view url, std::string_view body);

// The standard reason phrase of an HTTP status ("Unprocessable Entity"), "" when unknown.
std::string_view reason_phrase(int status);

}  // namespace veyra::client
