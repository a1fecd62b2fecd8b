#include "host/json_answer.hpp"

#include <boost/json/value.hpp>

#include "base/json_io/json_text.hpp"

namespace host {

void finish_with_json(host::APIHandler& handler, HTTPStatus status_code,
                      const boost::json::value& result) {
    finish_with_json_text(handler, status_code, json_io::to_json_text(result));
}

namespace {

void json_head(host::APIHandler& handler, HTTPStatus status_code, std::size_t length) {
    handler.set_header("Content-Type", "application/json");
    handler.set_header("Content-Length", std::to_string(length));
    handler.set_status(host::to_int(status_code));
}

}  // namespace

void finish_with_json_text(host::APIHandler& handler, HTTPStatus status_code,
                           std::string_view text) {
    json_head(handler, status_code, text.size());
    handler.finish(text);
}

void finish_with_json_text(host::APIHandler& handler, HTTPStatus status_code,
                           std::shared_ptr<const std::string> text) {
    json_head(handler, status_code, text->size());
    handler.finish(std::move(text));
}

}  // namespace host
