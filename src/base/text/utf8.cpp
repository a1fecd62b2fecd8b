#include "base/text/utf8.hpp"

#include <algorithm>

namespace base {

Utf8Sequence read_utf8(std::string_view text, std::size_t at) {
    const auto* data = reinterpret_cast<const unsigned char*>(text.data()) + at;
    const std::size_t available = text.size() - at;
    const unsigned char lead = data[0];
    if (lead < 0x80) return {lead, 1, Utf8Fault::none};
    std::size_t length = 0;
    std::uint32_t code_point = 0;
    // The second byte's range narrows for the leads that could otherwise encode overlong
    // forms, surrogates or values above U+10FFFF.
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code_point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code_point = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code_point = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {0, 1, Utf8Fault::invalid_start_byte};
    }
    // Each byte present must fit; the first that does not ends the span before it. A sequence
    // that fits as far as it goes but is cut off by the end is "unexpected end".
    const std::size_t present = std::min(length, available);
    for (std::size_t k = 1; k < present; ++k) {
        const unsigned char byte = data[k];
        const bool fits = k == 1 ? byte >= low && byte <= high : byte >= 0x80 && byte <= 0xBF;
        if (!fits) return {0, k, Utf8Fault::invalid_continuation_byte};
        code_point = (code_point << 6) | (byte & 0x3F);
    }
    if (present < length) return {0, available, Utf8Fault::unexpected_end};
    return {code_point, length, Utf8Fault::none};
}

bool is_valid_utf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        if (static_cast<unsigned char>(text[at]) < 0x80) {
            ++at;
            continue;
        }
        const Utf8Sequence sequence = read_utf8(text, at);
        if (sequence.fault != Utf8Fault::none) return false;
        at += sequence.length;
    }
    return true;
}

void append_utf8(std::string& out, std::uint32_t code_point) {
    if (code_point < 0x80) {
        out += static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        out += static_cast<char>(0xC0 | (code_point >> 6));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        out += static_cast<char>(0xE0 | (code_point >> 12));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code_point >> 18));
        out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    }
}

}  // namespace base
