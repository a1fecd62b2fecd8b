// The body reader must take exactly the texts boost::json::parse takes and build the same
// values; only doubles may differ, where Boost.JSON 1.81 is wrong and the reader right.

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.hpp"
#include "host/json_reader.hpp"
#include "same_json.hpp"

using fuzz_support::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    boost::system::error_code boost_error;
    const boost::json::value expected = boost::json::parse(text, boost_error);
    boost::system::error_code reader_error;
    const boost::json::value read = host::read_json(text, {}, reader_error);
    check(static_cast<bool>(boost_error) == static_cast<bool>(reader_error));
    if (!boost_error) check(fuzz_support::same_json(expected, read));
    return 0;
}
