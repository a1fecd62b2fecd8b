#include "veyra/body_values.hpp"

#include <boost/json/value.hpp>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace veyra {

const boost::json::object& body_object(const boost::json::value& body) {
    if (!body.is_object())
        throw std::runtime_error("The body of the request is not a JSON object.");
    return body.as_object();
}

std::string required_in_body(std::string_view key) {
    return std::string(key) + " is required in the body of the request.";
}

std::optional<std::string> text_or_null(const boost::json::value& value, std::string_view key) {
    if (value.is_null()) return std::nullopt;
    if (!value.is_string()) throw std::runtime_error(std::string(key) + " must be a text.");
    return std::string(value.as_string());
}

std::optional<std::int64_t> integer_or_null(const boost::json::value& value, std::string_view key) {
    switch (value.kind()) {
        case boost::json::kind::null:
            return std::nullopt;
        case boost::json::kind::bool_:
            return value.get_bool() ? 1 : 0;
        case boost::json::kind::int64:
            return value.get_int64();
        case boost::json::kind::uint64:
            if (value.get_uint64() <= std::numeric_limits<std::int64_t>::max()) {
                return static_cast<std::int64_t>(value.get_uint64());
            }
            break;
        case boost::json::kind::double_: {
            double truncated = std::trunc(value.get_double());
            // 2^63 is exactly representable; every double below it converts without overflow.
            if (truncated >= -9223372036854775808.0 && truncated < 9223372036854775808.0) {
                return static_cast<std::int64_t>(truncated);
            }
            break;
        }
        default:
            throw std::runtime_error(std::string(key) + " must be a number.");
    }
    throw std::runtime_error(std::string(key) + " is out of range.");
}

bool is_truthy(const boost::json::value& value) {
    switch (value.kind()) {
        case boost::json::kind::null:
            return false;
        case boost::json::kind::bool_:
            return value.get_bool();
        case boost::json::kind::int64:
            return value.get_int64() != 0;
        case boost::json::kind::uint64:
            return value.get_uint64() != 0;
        case boost::json::kind::double_:
            return value.get_double() != 0.0;
        case boost::json::kind::string:
            return !value.get_string().empty();
        case boost::json::kind::array:
            return !value.get_array().empty();
        case boost::json::kind::object:
            return !value.get_object().empty();
    }
    return true;
}

}  // namespace veyra
