#pragma once
// Reading and writing UTF-8: the one decoder the JSON writer, the picture's labels and the
// snippet's strict decoding share.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace base {

// Why a sequence is not well-formed UTF-8 (overlong forms, surrogates and values above
// U+10FFFF included), as a strict decoder reports it.
enum class Utf8Fault { none, invalid_start_byte, invalid_continuation_byte, unexpected_end };

struct Utf8Sequence {
    std::uint32_t code_point = 0;  // valid only without a fault
    // The bytes read: the whole sequence, or for a fault the bytes that fit before it (at least
    // one), which is the span a strict decoder names in its error.
    std::size_t length = 1;
    Utf8Fault fault = Utf8Fault::none;
};

// The sequence starting at text[at] (at < text.size()).
Utf8Sequence read_utf8(std::string_view text, std::size_t at);

bool is_valid_utf8(std::string_view text);

void append_utf8(std::string& out, std::uint32_t code_point);

}  // namespace base
