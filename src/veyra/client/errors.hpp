#pragma once
// The failures of the platform client beyond ordinary ones (std::runtime_error): the platform
// could not be reached, or it refused the request.

#include <stdexcept>
#include <string>
#include <string_view>

namespace veyra::client {

// The platform could not be resolved or reached, did not answer in time, or the server is
// stopping.
class ConnectionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The platform answered with a status of 400 or more. Its text, for the log, is
// "<status> <Client|Server> Error: <reason> for url: <url>", a line break, then the body.
class RefusedRequest : public std::runtime_error {
public:
    RefusedRequest(int status, std::string_view url, std::string body);

    int status() const { return status_; }
    // The platform's answer body, unchanged.
    const std::string& body() const { return body_; }

    // What the user is told. For 400 it is the body as it came (the platform's error object,
    // {"code": ..., "message": ...}, as JSON text). For any other status it is the body's
    // "message" when the body is an object holding one, else the body text, else the
    // status's reason phrase ("Error <status>" for a status without one).
    std::string message() const;

private:
    int status_;
    std::string body_;
};

// The standard reason phrase of an HTTP status ("Unprocessable Entity"), "" when unknown.
std::string_view reason_phrase(int status);

}  // namespace veyra::client
