// Any JSON the server accepts in a body must come back out of the JSON text writer as ASCII
// text that parses to the same document; any bytes given as a string must come out as a JSON
// string that parses.

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "host/json_text.hpp"

namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

// The writer spells non-finite numbers as Python does (NaN, Infinity), which strict JSON
// cannot read back; the round trip is only promised for documents without them.
bool all_finite(const boost::json::value& value) {
    if (value.is_double()) return std::isfinite(value.get_double());
    if (value.is_array()) {
        for (const auto& item : value.get_array()) {
            if (!all_finite(item)) return false;
        }
    }
    if (value.is_object()) {
        for (const auto& member : value.get_object()) {
            if (!all_finite(member.value())) return false;
        }
    }
    return true;
}

// Boost.JSON 1.81 reads some long decimals one or two units in the last place off the nearest
// double, so a float that the writer spelled exactly may read back a hair away.
bool same(const boost::json::value& a, const boost::json::value& b) {
    if (a.is_double() && b.is_double()) {
        const double x = a.get_double();
        const double y = b.get_double();
        return x == y || std::abs(x - y) <= 4 * std::abs(std::nextafter(x, y) - x);
    }
    if (a.is_array() && b.is_array()) {
        const auto& left = a.get_array();
        const auto& right = b.get_array();
        if (left.size() != right.size()) return false;
        for (std::size_t i = 0; i < left.size(); ++i) {
            if (!same(left[i], right[i])) return false;
        }
        return true;
    }
    if (a.is_object() && b.is_object()) {
        const auto& left = a.get_object();
        const auto& right = b.get_object();
        if (left.size() != right.size()) return false;
        for (auto l = left.begin(), r = right.begin(); l != left.end(); ++l, ++r) {
            if (l->key() != r->key() || !same(l->value(), r->value())) return false;
        }
        return true;
    }
    return a == b;
}

bool is_ascii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    std::string quoted;
    host::append_json_string(quoted, input);
    check(is_ascii(quoted));
    boost::system::error_code error;
    const auto as_string = boost::json::parse(quoted, error);
    check(!error && as_string.is_string());
    if (host::is_valid_utf8(input)) check(as_string.get_string() == input);

    const auto document = boost::json::parse(input, error);
    if (error) return 0;
    const std::string text = host::to_json_text(document);
    check(is_ascii(text));
    if (!all_finite(document)) return 0;
    const auto again = boost::json::parse(text, error);
    check(!error);
    check(same(again, document));
    return 0;
}
