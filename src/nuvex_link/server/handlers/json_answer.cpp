#include "nuvex_link/server/handlers/json_answer.hpp"

#include <boost/json/value.hpp>

#include "host/json_text.hpp"

namespace nuvex_link::server::handlers {

void finish_with_json(host::APIHandler& handler, HTTPStatus status_code,
                      const boost::json::value& result) {
    const std::string text = host::to_json_text(result);
    handler.set_header("Content-Type", "application/json");
    handler.set_header("Content-Length", std::to_string(text.size()));
    handler.set_status(host::to_int(status_code));
    handler.finish(text);
}

}  // namespace nuvex_link::server::handlers
