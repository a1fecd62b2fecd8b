#pragma once
// How the Veyra handlers sort a failed platform call: unreachable platform, refused request
// (status and message read back with parse_veyra_exception), or any other failure.

#include <boost/json/object.hpp>
#include <functional>
#include <optional>
#include <string>

#include "host/http_status.hpp"

namespace veyra {

enum class FailureKind { connection, refused, other };

struct PlatformFailure {
    FailureKind kind;
    host::HTTPStatus status;
    // connection: "Veyra URL is invalid."; refused: the parsed message; other: the failure's
    // text.
    std::string message;
};

// Runs `call`; nullopt when it succeeded.
std::optional<PlatformFailure> run_platform_call(const std::function<void()>& call);

// {"error": message}: the project and model registry handlers report platform failures under
// "error", keeping "message" for a malformed request.
boost::json::object error_answer(const PlatformFailure& failure);

}  // namespace veyra
