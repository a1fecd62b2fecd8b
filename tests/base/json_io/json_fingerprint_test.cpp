// Equal JSON values share a fingerprint, whatever the order of their keys; values that differ
// in kind, content, order of elements or pairing of keys and values do not.

#include "base/json_io/json_fingerprint.hpp"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <set>

namespace {

json_io::JsonFingerprint of(std::string_view text) {
    return json_io::json_fingerprint(boost::json::parse(text));
}

TEST(JsonFingerprint, EqualValuesShareOne) {
    EXPECT_EQ(of(R"({"a": 1, "b": {"x": [1, "two", null], "y": true}})"),
              of(R"({"b": {"y": true, "x": [1, "two", null]}, "a": 1})"));
    EXPECT_EQ(of("-0.0"), of("0.0"));
    EXPECT_EQ(json_io::json_fingerprint(boost::json::value(std::uint64_t{5})), of("5"));
    EXPECT_EQ(json_io::json_fingerprint(std::string_view("caf\xc3\xa9")), of(R"("caf\u00e9")"));
    const auto object = boost::json::parse(R"({"k": "v"})");
    EXPECT_EQ(json_io::json_fingerprint(object.as_object()), json_io::json_fingerprint(object));
}

TEST(JsonFingerprint, DifferentValuesDiffer) {
    const char* values[] = {"null",
                            "false",
                            "true",
                            "0",
                            "1",
                            "1.0",
                            "-1",
                            "18446744073709551615",
                            "\"1\"",
                            "\"\"",
                            "[]",
                            "{}",
                            "[1, 2]",
                            "[2, 1]",
                            "[[1], 2]",
                            "[1, [2]]",
                            R"({"a": 1, "b": 2})",
                            R"({"a": 2, "b": 1})",
                            R"({"a": []})",
                            R"({"a": {}})",
                            R"({"a": null})",
                            R"({"b": null})",
                            R"({"a": 1})",
                            R"({"a": 1, "c": 1})",
                            R"(["a", "b"])",
                            R"(["ab"])"};
    std::set<std::pair<std::uint64_t, std::uint64_t>> seen;
    for (const char* value : values) {
        const auto fingerprint = of(value);
        EXPECT_TRUE(seen.emplace(fingerprint.first, fingerprint.second).second) << value;
    }
}

TEST(JsonFingerprint, TextsDifferingInAnyOneCharacterDiffer) {
    // Every length around the 4, 8 and 16 byte steps, with one character changed at each place.
    std::set<std::pair<std::uint64_t, std::uint64_t>> seen;
    for (std::size_t length = 0; length <= 40; ++length) {
        const std::string base(length, 'a');
        const auto fingerprint = json_io::json_fingerprint(std::string_view(base));
        EXPECT_TRUE(seen.emplace(fingerprint.first, fingerprint.second).second) << length;
        for (std::size_t at = 0; at < length; ++at) {
            std::string changed = base;
            changed[at] = 'b';
            const auto other = json_io::json_fingerprint(std::string_view(changed));
            EXPECT_TRUE(seen.emplace(other.first, other.second).second) << length << " " << at;
        }
    }
}

}  // namespace
