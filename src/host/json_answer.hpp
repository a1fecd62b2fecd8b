#pragma once
// The usual JSON answer of a handler: "Content-Type", then
// "Content-Length" of the JSON text, then the status, then the text.

#include <boost/json/fwd.hpp>
#include <string_view>

#include "host/api_handler.hpp"
#include "host/http_status.hpp"

namespace host {

void finish_with_json(host::APIHandler& handler, HTTPStatus status_code,
                      const boost::json::value& result);
// The same answer for a result already written as JSON text.
void finish_with_json_text(host::APIHandler& handler, HTTPStatus status_code,
                           std::string_view text);
void finish_with_json_text(host::APIHandler& handler, HTTPStatus status_code,
                           std::shared_ptr<const std::string> text);

}  // namespace host
