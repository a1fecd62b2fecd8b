#include "base/json_io/json_text.hpp"

#include <array>
#include <boost/json/value.hpp>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <system_error>

#include "base/text/utf8.hpp"

namespace json_io {
namespace {

constexpr char kHex[] = "0123456789abcdef";

void append_u_escape(std::string& out, std::uint32_t unit) {
    char escape[6] = {'\\',
                      'u',
                      kHex[(unit >> 12) & 0xF],
                      kHex[(unit >> 8) & 0xF],
                      kHex[(unit >> 4) & 0xF],
                      kHex[unit & 0xF]};
    out.append(escape, 6);
}

void append_code_point(std::string& out, std::uint32_t code_point) {
    if (code_point > 0xFFFF) {
        code_point -= 0x10000;
        append_u_escape(out, 0xD800 + (code_point >> 10));
        append_u_escape(out, 0xDC00 + (code_point & 0x3FF));
    } else {
        append_u_escape(out, code_point);
    }
}

// Bytes that are copied as they are: space to tilde other than '"' and '\\'. Everything else,
// DEL (0x7F) included, is escaped, so the text is printable ASCII throughout.
constexpr auto kPlain = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x7F; ++c) plain[c] = c != '"' && c != '\\';
    return plain;
}();

}  // namespace

void append_json_string(std::string& out, std::string_view utf8) {
    out.reserve(out.size() + utf8.size() + 2);
    out.push_back('"');
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t size = utf8.size();
    for (std::size_t i = 0; i < size;) {
        // Copy the longest run of plain bytes at once.
        std::size_t run = i;
        while (run < size && kPlain[bytes[run]]) ++run;
        out.append(utf8.data() + i, run - i);
        i = run;
        if (i == size) break;
        const unsigned char c = bytes[i];
        if (c < 0x80) {
            switch (c) {
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                case '\b':
                    out += "\\b";
                    break;
                case '\f':
                    out += "\\f";
                    break;
                default:
                    append_u_escape(out, c);
            }
            ++i;
        } else {
            const base::Utf8Sequence sequence = base::read_utf8(utf8, i);
            // A byte that is not UTF-8 is written as the replacement character, as a lenient
            // decoder would read it.
            const bool valid = sequence.fault == base::Utf8Fault::none;
            append_code_point(out, valid ? sequence.code_point : 0xFFFD);
            i += valid ? sequence.length : 1;
        }
    }
    out.push_back('"');
}

std::string format_float(double number) {
    if (std::isnan(number)) return "NaN";
    if (std::isinf(number)) return number > 0 ? "Infinity" : "-Infinity";

    // Shortest digits that read back, then laid out as a fixed or exponent form: fixed while
    // the decimal point sits within 16 digits of the first digit and no more than 4 zeros
    // follow it; integral values keep a ".0".
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::scientific);
    std::string_view scientific(buffer, static_cast<std::size_t>(result.ptr - buffer));
    const std::size_t e_at = scientific.find('e');
    std::string_view mantissa = scientific.substr(0, e_at);
    int exponent = 0;
    std::from_chars(scientific.data() + e_at + 1 + (scientific[e_at + 1] == '+'),
                    scientific.data() + scientific.size(), exponent);

    std::string sign;
    if (mantissa.front() == '-') {
        sign = "-";
        mantissa.remove_prefix(1);
    }
    std::string digits;
    for (char c : mantissa) {
        if (c != '.') digits.push_back(c);
    }
    const int point = exponent + 1;  // digits before the decimal point
    std::string text = sign;
    if (point > -4 && point <= 16) {
        if (point <= 0) {
            text += "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
        } else if (static_cast<std::size_t>(point) >= digits.size()) {
            text +=
                digits + std::string(static_cast<std::size_t>(point) - digits.size(), '0') + ".0";
        } else {
            text += digits.substr(0, static_cast<std::size_t>(point)) + "." +
                    digits.substr(static_cast<std::size_t>(point));
        }
    } else {
        text += digits.substr(0, 1);
        if (digits.size() > 1) text += "." + digits.substr(1);
        const int magnitude = std::abs(exponent);
        text += exponent < 0 ? "e-" : "e+";
        if (magnitude < 10) text += '0';
        text += std::to_string(magnitude);
    }
    return text;
}

namespace {

template <class Integer>
void append_integer(std::string& out, Integer number) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    out.append(digits, static_cast<std::size_t>(end - digits));
}

}  // namespace

void append_json_text(std::string& out, const boost::json::value& value) {
    switch (value.kind()) {
        case boost::json::kind::null:
            out += "null";
            break;
        case boost::json::kind::bool_:
            out += value.get_bool() ? "true" : "false";
            break;
        case boost::json::kind::int64:
            append_integer(out, value.get_int64());
            break;
        case boost::json::kind::uint64:
            append_integer(out, value.get_uint64());
            break;
        case boost::json::kind::double_:
            out += format_float(value.get_double());
            break;
        case boost::json::kind::string:
            append_json_string(out, value.get_string());
            break;
        case boost::json::kind::array: {
            out.push_back('[');
            bool first = true;
            for (const auto& item : value.get_array()) {
                if (!first) out += ", ";
                first = false;
                append_json_text(out, item);
            }
            out.push_back(']');
            break;
        }
        case boost::json::kind::object: {
            out.push_back('{');
            bool first = true;
            for (const auto& member : value.get_object()) {
                if (!first) out += ", ";
                first = false;
                append_json_string(out, member.key());
                out += ": ";
                append_json_text(out, member.value());
            }
            out.push_back('}');
            break;
        }
    }
}

std::string to_json_text(const boost::json::value& value) {
    std::string out;
    append_json_text(out, value);
    return out;
}

}  // namespace json_io
