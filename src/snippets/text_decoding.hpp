#pragma once
// Bytes from the request body and from template files turned into text: strict UTF-8 with
// failure texts worded as Python's decoder words them, and text-mode line ends.

#include <stdexcept>
#include <string>
#include <string_view>

namespace snippets {

// Bytes that are not UTF-8. The text names the offending byte(s) and their offset, e.g.
// "'utf-8' codec can't decode byte 0xff in position 12: invalid start byte".
class UnicodeDecodeError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// Throws UnicodeDecodeError at the first sequence that is not well-formed UTF-8 (overlong
// forms, surrogates and values above U+10FFFF included).
void check_utf8(std::string_view bytes);

// CR LF and a lone CR become LF, as reading a file in text mode does.
std::string with_unix_newlines(std::string_view text);

}  // namespace snippets
