// The body reader takes the texts boost::json::parse takes, with the same values.

#include "host/json_body.hpp"
#include "host/json_reader.hpp"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <string>
#include <vector>

namespace {

boost::json::value read(std::string_view text, bool& failed) {
    boost::system::error_code error;
    auto value = host::read_json(text, {}, error);
    failed = static_cast<bool>(error);
    return value;
}

TEST(JsonReader, ReadsWhatTheParserReads) {
    const std::string nested = std::string(32, '[') + std::string(32, ']');
    for (const std::string& text : std::vector<std::string>{
             R"( {"a": [1, -0, -0.0, 1.5e-7, 1E5, 18446744073709551615, -9223372036854775808,
              -9223372036854775809, 123456789012345678901234567890, true, false, null],
              "b": {"": "", "x": {}}, "a": "duplicate keys: the last one counts"} )",
             R"("\ud83d\ude00 caf\u00e9 \n\t\"\\\/ \u0000 plain run longer than sixteen bytes")",
             "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\"", "1e400", "-1e400", "1e-400",
             "\t7\r\n", nested}) {
        bool failed = true;
        const auto value = read(text, failed);
        EXPECT_FALSE(failed) << text;
        EXPECT_EQ(value, boost::json::parse(text)) << text;
    }
}

TEST(JsonReader, RefusesWhatTheParserRefuses) {
    const std::string too_deep = std::string(33, '[') + std::string(33, ']');
    for (const std::string& text : std::vector<std::string>{"",
                                                            " ",
                                                            "01",
                                                            "1.",
                                                            ".5",
                                                            "-",
                                                            "1e",
                                                            "+1",
                                                            "[1,]",
                                                            "{\"a\":1,}",
                                                            "{\"a\" 1}",
                                                            "{1: 2}",
                                                            "[1 2]",
                                                            "1 2",
                                                            "tru",
                                                            "nulll",
                                                            "NaN",
                                                            "Infinity",
                                                            "\"\\ud800\"",
                                                            "\"\\udc00\"",
                                                            "\"\\ud800\\u0041\"",
                                                            "\"\\u12\"",
                                                            "\"\\x\"",
                                                            "\"unterminated",
                                                            "\"\x1f\"",
                                                            "\"\xc0\x80\"",
                                                            "\"\xed\xa0\x80\"",
                                                            "\"\xf4\x90\x80\x80\"",
                                                            "\"\x80\"",
                                                            "\"\xe2\x82\"",
                                                            "\xef\xbb\xbf"
                                                            "1",
                                                            too_deep}) {
        bool failed = false;
        read(text, failed);
        boost::system::error_code parser_error;
        boost::json::parse(text, parser_error);
        EXPECT_TRUE(failed) << text;
        EXPECT_TRUE(parser_error) << text;
    }
}

TEST(JsonReader, ReadsZeroWithAHugeExponentAsZero) {
    // boost::json::parse makes NaN of these.
    bool failed = true;
    EXPECT_EQ(read("[0e309, -0.0e400]", failed), boost::json::parse("[0.0, -0.0]"));
    EXPECT_FALSE(failed);
}

TEST(JsonBody, DocumentsManyTimesTheirTextsSizeFitInTheirBlocks) {
    // Small numbers take 16 bytes each in memory for 2 of text: the body's memory outgrows its
    // first block several times over.
    std::string text = "[";
    for (int i = 0; i < 100000; ++i) text += std::to_string(i % 10) + ",";
    text += R"({"k": "v"}])";
    boost::system::error_code error;
    const auto body = host::parse_json_body(text, error);
    ASSERT_FALSE(error);
    EXPECT_EQ(body.document, boost::json::parse(text));
}

}  // namespace
