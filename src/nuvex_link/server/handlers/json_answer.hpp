#pragma once
// The standard JSON answer every module's _finish_with_result writes: "Content-Type", then
// "Content-Length" of the JSON text, then the status, then the text.

#include <boost/json/fwd.hpp>

#include "host/api_handler.hpp"
#include "host/http_status.hpp"

namespace nuvex_link::server::handlers {

using host::HTTPStatus;

void finish_with_json(host::APIHandler& handler, HTTPStatus status_code,
                      const boost::json::value& result);

}  // namespace nuvex_link::server::handlers
