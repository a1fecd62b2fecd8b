#include "snippets/text_decoding.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdio>

#include "base/text/utf8.hpp"

namespace snippets {
namespace {

const char* reason_of(base::Utf8Fault fault) {
    switch (fault) {
        case base::Utf8Fault::invalid_start_byte:
            return "invalid start byte";
        case base::Utf8Fault::invalid_continuation_byte:
            return "invalid continuation byte";
        default:
            return "unexpected end of data";
    }
}

// Worded as Python's decoder words it, over the span it names, so that the texts match what
// its users know.
[[noreturn]] void fail(std::string_view bytes, std::size_t start, const base::Utf8Sequence& bad) {
    char text[160];
    if (bad.length == 1) {
        std::snprintf(text, sizeof text,
                      "'utf-8' codec can't decode byte 0x%02x in position %zu: %s",
                      static_cast<unsigned char>(bytes[start]), start, reason_of(bad.fault));
    } else {
        std::snprintf(text, sizeof text, "'utf-8' codec can't decode bytes in position %zu-%zu: %s",
                      start, start + bad.length - 1, reason_of(bad.fault));
    }
    throw UnicodeDecodeError(text);
}

}  // namespace

void check_utf8(std::string_view bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        const base::Utf8Sequence sequence = base::read_utf8(bytes, at);
        if (sequence.fault != base::Utf8Fault::none) fail(bytes, at, sequence);
        at += sequence.length;
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
