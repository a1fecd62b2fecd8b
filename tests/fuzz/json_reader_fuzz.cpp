// The body reader must take exactly the texts boost::json::parse takes (with the reader's
// nesting limit) and build the same values; only doubles may differ, where Boost.JSON 1.81 is
// wrong and the reader right. An array it defers must give the same document once built, and
// each element's fingerprint parts must add up to the fingerprint of the element's value.

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/json_io/json_body.hpp"
#include "base/json_io/json_fingerprint.hpp"
#include "base/json_io/json_reader.hpp"
#include "fuzz_check.hpp"
#include "same_json.hpp"

using fuzz_support::check;

namespace {

// Short, so that the fuzzer finds bodies that have it.
const std::vector<std::string> kPath = {"a"};

void check_deferral(std::string_view text, const boost::json::value& expected) {
    boost::system::error_code error;
    auto body = json_io::parse_json_body(std::make_shared<const std::string>(text), error, kPath);
    check(!error);
    if (body.deferred.found) {
        for (const auto& element : body.deferred.elements) {
            // Read as the reader reads it: doubles are where it and Boost.JSON may differ.
            boost::system::error_code element_error;
            const auto value = json_io::read_json(element.text, {}, element_error);
            check(!element_error);
            check(json_io::fingerprint::finish(
                      json_io::fingerprint::object_end(element.member_sum, element.member_count)) ==
                  json_io::json_fingerprint(value));
        }
    }
    body.build_deferred();
    check(fuzz_support::same_json(expected, body.document));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    boost::system::error_code boost_error;
    const boost::json::value expected =
        boost::json::parse(text, boost_error, {}, json_io::reader_parse_options());
    boost::system::error_code reader_error;
    const boost::json::value read = json_io::read_json(text, {}, reader_error);
    check(static_cast<bool>(boost_error) == static_cast<bool>(reader_error));
    if (boost_error) return 0;
    check(fuzz_support::same_json(expected, read));
    check_deferral(text, expected);
    return 0;
}
