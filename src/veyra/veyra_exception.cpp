#include "veyra/veyra_exception.hpp"

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <charconv>

#include "base/json_io/json_text.hpp"
#include "veyra/client/errors.hpp"

namespace veyra {

std::pair<host::HTTPStatus, std::string> parse_veyra_exception(std::string_view error_str) {
    // The text is "<status> ... Error: ...", a line break, then the body (see
    // refused_request_text).
    int status = 0;
    auto [end, error] =
        std::from_chars(error_str.data(), error_str.data() + error_str.size(), status);
    if (error != std::errc() || status < 400 || status > 599 ||
        end == error_str.data() + error_str.size() || *end != ' ') {
        return {host::HTTPStatus::INTERNAL_SERVER_ERROR, std::string(error_str)};
    }
    size_t line_break = error_str.find('\n');
    std::string_view body = line_break == std::string_view::npos ? std::string_view()
                                                                 : error_str.substr(line_break + 1);
    auto http_status = static_cast<host::HTTPStatus>(status);
    if (status == 400) return {http_status, std::string(body)};

    boost::system::error_code parse_error;
    boost::json::value document = boost::json::parse(body, parse_error);
    if (!parse_error && document.is_object()) {
        if (const boost::json::value* message = document.as_object().if_contains("message")) {
            if (message->is_string()) return {http_status, std::string(message->as_string())};
            if (!message->is_null()) return {http_status, json_io::to_json_text(*message)};
        }
    }
    if (!body.empty()) return {http_status, std::string(body)};
    std::string_view reason = client::reason_phrase(status);
    return {http_status, reason.empty() ? "Error " + std::to_string(status) : std::string(reason)};
}

}  // namespace veyra
