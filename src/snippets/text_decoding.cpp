#include "snippets/text_decoding.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdio>

namespace snippets {
namespace {

bool is_continuation(unsigned char byte) { return byte >= 0x80 && byte <= 0xBF; }

// Where a malformed sequence starts, how many bytes the failure covers and why; the span
// follows Python's decoder so that the texts match what its users know.
struct DecodeFailure {
    std::size_t start;
    std::size_t length;
    const char* reason;
};

[[noreturn]] void fail(std::string_view bytes, const DecodeFailure& failure) {
    char text[160];
    if (failure.length == 1) {
        std::snprintf(
            text, sizeof text, "'utf-8' codec can't decode byte 0x%02x in position %zu: %s",
            static_cast<unsigned char>(bytes[failure.start]), failure.start, failure.reason);
    } else {
        std::snprintf(text, sizeof text, "'utf-8' codec can't decode bytes in position %zu-%zu: %s",
                      failure.start, failure.start + failure.length - 1, failure.reason);
    }
    throw UnicodeDecodeError(text);
}

}  // namespace

void check_utf8(std::string_view bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    std::size_t i = 0;
    while (i < size) {
        const unsigned char lead = data[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        // The second byte's range narrows for the leads that could otherwise encode overlong
        // forms, surrogates or values above U+10FFFF.
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            fail(bytes, {i, 1, "invalid start byte"});
        }
        // Each byte present must fit; the first that does not ends the span before it. A
        // sequence that fits as far as it goes but is cut off by the end is "unexpected end".
        const std::size_t present = std::min(length, size - i);
        for (std::size_t k = 1; k < present; ++k) {
            const unsigned char byte = data[i + k];
            const bool fits = k == 1 ? byte >= low && byte <= high : is_continuation(byte);
            if (!fits) fail(bytes, {i, k, "invalid continuation byte"});
        }
        if (present < length) fail(bytes, {i, size - i, "unexpected end of data"});
        i += length;
    }
}

std::string with_unix_newlines(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            out += text[i];
            continue;
        }
        out += '\n';
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    }
    return out;
}

}  // namespace snippets
