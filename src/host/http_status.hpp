#pragma once
// The HTTP status codes the handlers answer with, under their standard names.

namespace host {

enum class HTTPStatus : int {
    OK = 200,
    BAD_REQUEST = 400,
    FORBIDDEN = 403,
    NOT_FOUND = 404,
    METHOD_NOT_ALLOWED = 405,
    PAYLOAD_TOO_LARGE = 413,
    UNPROCESSABLE_ENTITY = 422,
    INTERNAL_SERVER_ERROR = 500,
    BAD_GATEWAY = 502,
};

constexpr int to_int(HTTPStatus status) { return static_cast<int>(status); }

}  // namespace host
