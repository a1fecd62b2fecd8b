#include "datasets/rsync_itemized.hpp"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace datasets {
namespace {

// Bytes that are white space or may begin a multi-byte white-space character; every other
// byte is skipped without a closer look, which keeps the parse fast.
constexpr std::array<bool, 256> kMayStartWhitespace = [] {
    std::array<bool, 256> table{};
    for (unsigned char byte : {' ', '\t', '\n', '\v', '\f', '\r'}) table[byte] = true;
    for (unsigned byte = 0x1c; byte <= 0x1f; ++byte) table[byte] = true;
    for (unsigned byte : {0xC2, 0xE1, 0xE2, 0xE3}) table[byte] = true;
    return table;
}();

// Bytes taken by the white-space character at text[pos], 0 when there is none: ASCII white
// space and the separators of Unicode, as rsync may print them raw inside names.
std::size_t whitespace_length(std::string_view text, std::size_t pos) {
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (!kMayStartWhitespace[byte]) return 0;
    if (byte < 0x80) return 1;
    const auto at = [&](std::size_t k) -> unsigned {
        return pos + k < text.size() ? static_cast<unsigned char>(text[pos + k]) : 0;
    };
    switch (byte) {
        case 0xC2:  // U+0085, U+00A0
            return at(1) == 0x85 || at(1) == 0xA0 ? 2 : 0;
        case 0xE1:  // U+1680
            return at(1) == 0x9A && at(2) == 0x80 ? 3 : 0;
        case 0xE2:  // U+2000..U+200A, U+2028, U+2029, U+202F, U+205F
            if (at(1) == 0x80) {
                const unsigned third = at(2);
                return (third >= 0x80 && third <= 0x8A) || third == 0xA8 || third == 0xA9 ||
                               third == 0xAF
                           ? 3
                           : 0;
            }
            return at(1) == 0x81 && at(2) == 0x9F ? 3 : 0;
        case 0xE3:  // U+3000
            return at(1) == 0x80 && at(2) == 0x80 ? 3 : 0;
        default:
            return 0;
    }
}

std::size_t skip_whitespace(std::string_view line, std::size_t pos) {
    while (pos < line.size()) {
        const std::size_t length = whitespace_length(line, pos);
        if (length == 0) break;
        pos += length;
    }
    return pos;
}

std::size_t token_end(std::string_view line, std::size_t pos) {
    while (pos < line.size()) {
        if (kMayStartWhitespace[static_cast<unsigned char>(line[pos])] &&
            whitespace_length(line, pos) != 0) {
            break;
        }
        ++pos;
    }
    return pos;
}

// The tokens from pos on, joined with single blanks: rsync's name with its runs of white
// space reduced.
std::string joined_tokens(std::string_view line, std::size_t pos) {
    std::string joined;
    joined.reserve(line.size() - pos);
    for (pos = skip_whitespace(line, pos); pos < line.size(); pos = skip_whitespace(line, pos)) {
        const std::size_t end = token_end(line, pos);
        if (!joined.empty()) joined += ' ';
        joined.append(line.substr(pos, end - pos));
        pos = end;
    }
    return joined;
}

// The third character of an itemize code (the checksum column, "+" for a new entry).
std::string_view third_character(std::string_view code, std::string_view line) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < code.size(); ++i) {
        if ((static_cast<unsigned char>(code[i]) & 0xC0) == 0x80) continue;  // continuation
        if (seen++ == 2) {
            std::size_t end = i + 1;
            while (end < code.size() && (static_cast<unsigned char>(code[end]) & 0xC0) == 0x80) {
                ++end;
            }
            return code.substr(i, end - i);
        }
    }
    throw std::runtime_error("Cannot classify the rsync output line \"" + std::string(line) + "\"");
}

void append_change(std::string_view line, std::vector<FileChange>& changes) {
    const std::size_t start = skip_whitespace(line, 0);
    if (start == line.size()) return;
    const std::size_t end = token_end(line, start);
    const std::string_view code = line.substr(start, end - start);
    if (code.front() == '.') return;  // an entry whose content is not transferred
    std::string_view status = "deleted";
    if (!code.starts_with("*del")) {
        status = third_character(code, line) == "+" ? "added" : "edited";
    }
    changes.push_back({joined_tokens(line, end), status});
}

}  // namespace

std::vector<FileChange> parse_itemized_changes(std::string_view file_changes) {
    while (!file_changes.empty() && file_changes.back() == '\n') file_changes.remove_suffix(1);
    std::vector<FileChange> changes;
    changes.reserve(std::count(file_changes.begin(), file_changes.end(), '\n') + 1);
    std::size_t start = 0;
    while (start <= file_changes.size()) {
        std::size_t end = file_changes.find('\n', start);
        if (end == std::string_view::npos) end = file_changes.size();
        append_change(file_changes.substr(start, end - start), changes);
        start = end + 1;
    }
    return changes;
}

}  // namespace datasets
