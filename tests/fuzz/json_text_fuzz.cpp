// Any JSON the server accepts in a body must come back out of the JSON text writer as printable
// ASCII text that parses to the same document; any bytes given as a string must come out as a
// JSON string that parses.

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/json_io/json_reader.hpp"
#include "base/json_io/json_text.hpp"
#include "base/text/utf8.hpp"
#include "fuzz_check.hpp"
#include "same_json.hpp"

namespace {

using fuzz_support::all_finite;
using fuzz_support::check;

// Space..tilde only: everything else is written as an escape.
bool is_printable_ascii(std::string_view text) {
    for (const char c : text) {
        if (c < ' ' || c > '~') return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    std::string quoted;
    json_io::append_json_string(quoted, input);
    check(is_printable_ascii(quoted));
    boost::system::error_code error;
    const auto as_string = boost::json::parse(quoted, error);
    check(!error && as_string.is_string());
    if (base::is_valid_utf8(input)) check(as_string.get_string() == input);

    const auto document = boost::json::parse(input, error, {}, json_io::reader_parse_options());
    if (error) return 0;
    const std::string text = json_io::to_json_text(document);
    check(is_printable_ascii(text));
    if (!all_finite(document)) return 0;
    const auto again = boost::json::parse(text, error, {}, json_io::reader_parse_options());
    check(!error);
    check(fuzz_support::same_json(again, document));
    return 0;
}
