#include "base/json_io/json_text.hpp"
#include "base/text/utf8.hpp"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <cmath>
#include <limits>

namespace {

using json_io::format_float;
using json_io::to_json_text;

TEST(JsonText, SeparatorsOrderAndNesting) {
    const boost::json::value value = boost::json::parse(R"({"b":1,"a":[true,null,"x"],"c":{}})");
    EXPECT_EQ(to_json_text(value), R"({"b": 1, "a": [true, null, "x"], "c": {}})");
    EXPECT_EQ(to_json_text(boost::json::object{}), "{}");
    EXPECT_EQ(to_json_text(boost::json::array{}), "[]");
}

TEST(JsonText, EscapesEverythingOutsideAscii) {
    // U+00E9, U+20AC and U+1F600 (a surrogate pair), lower-case hex.
    EXPECT_EQ(to_json_text(boost::json::string("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80")),
              R"("caf\u00e9 \u20ac \ud83d\ude00")");
    // DEL is outside space..tilde too, so it is escaped like the control characters.
    EXPECT_EQ(to_json_text(boost::json::string("\"\\/\n\r\t\b\f\x01\x1f\x7f ~")),
              "\"\\\"\\\\/\\n\\r\\t\\b\\f\\u0001\\u001f\\u007f ~\"");
    // Bytes that are not UTF-8 cannot leak raw onto the wire.
    EXPECT_EQ(to_json_text(boost::json::string("a\xFF"
                                               "b\xC3")),
              R"("a\ufffdb\ufffd")");
}

TEST(JsonText, FloatsReadLikeShortestDecimal) {
    EXPECT_EQ(format_float(1.0), "1.0");
    EXPECT_EQ(format_float(-0.0), "-0.0");
    EXPECT_EQ(format_float(0.1), "0.1");
    EXPECT_EQ(format_float(1.5), "1.5");
    EXPECT_EQ(format_float(123456.789), "123456.789");
    EXPECT_EQ(format_float(1e15), "1000000000000000.0");
    EXPECT_EQ(format_float(1e16), "1e+16");
    EXPECT_EQ(format_float(1.25e17), "1.25e+17");
    EXPECT_EQ(format_float(0.0001), "0.0001");
    EXPECT_EQ(format_float(0.00001), "1e-05");
    EXPECT_EQ(format_float(1.5e-7), "1.5e-07");
    EXPECT_EQ(format_float(1e300), "1e+300");
    EXPECT_EQ(format_float(std::numeric_limits<double>::quiet_NaN()), "NaN");
    EXPECT_EQ(format_float(std::numeric_limits<double>::infinity()), "Infinity");
    EXPECT_EQ(format_float(-std::numeric_limits<double>::infinity()), "-Infinity");
    EXPECT_EQ(to_json_text(boost::json::parse("[1, -7, 2.5, 18446744073709551615]")),
              "[1, -7, 2.5, 18446744073709551615]");
}

TEST(JsonText, Utf8Validity) {
    EXPECT_TRUE(
        base::is_valid_utf8("plain caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF"));
    // Cut off, overlong, surrogate, above U+10FFFF, stray continuation, never valid.
    for (const char* bad : {"\xC3", "\xE2\x82", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80",
                            "\xF4\x90\x80\x80", "\x80", "a\xFF", "\xF0\x9F\x98"}) {
        EXPECT_FALSE(base::is_valid_utf8(bad)) << bad;
    }
}

}  // namespace
