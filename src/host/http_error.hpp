#pragma once
// A failure that carries the status and message of the host's own answer
// ({"message": ..., "reason": null}); raised by the host's request operations.

#include <stdexcept>
#include <string>

#include "base/json_io/json_reader.hpp"

namespace host {

class HTTPError : public std::runtime_error {
public:
    HTTPError(int status, std::string message)
        : std::runtime_error(message), status_(status), message_(std::move(message)) {}
    int status() const { return status_; }
    const std::string& message() const { return message_; }

private:
    int status_;
    std::string message_;
};

// The answer to a body that is JSON but nested deeper than the body reader takes.
inline HTTPError too_deeply_nested_body() {
    return HTTPError(400, "JSON in body of request is nested deeper than " +
                              std::to_string(json_io::kMaxNestingDepth) + " levels");
}

// The answer stream is gone (the client closed it); nothing more can be sent.
class StreamClosed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace host
