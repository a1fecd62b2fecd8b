// The body reader takes the texts boost::json::parse takes, with the same values.

#include "base/json_io/json_reader.hpp"

#include <gtest/gtest.h>
#include <pthread.h>

#include <boost/json/parse.hpp>
#include <functional>
#include <string>
#include <vector>

#include "base/json_io/json_body.hpp"
#include "base/json_io/json_fingerprint.hpp"
#include "base/json_io/json_text.hpp"
#include "support/nested_json.hpp"

namespace {

// boost::json::parse with the reader's nesting limit.
boost::json::value parse(std::string_view text, boost::system::error_code& error) {
    return boost::json::parse(text, error, {}, json_io::reader_parse_options());
}

boost::json::value parse(std::string_view text) {
    boost::system::error_code error;
    auto value = parse(text, error);
    if (error) throw boost::system::system_error(error);
    return value;
}

// `levels` arrays, one in the other.
std::string nested_arrays(int levels) {
    return std::string(static_cast<std::size_t>(levels), '[') +
           std::string(static_cast<std::size_t>(levels), ']');
}

boost::json::value read(std::string_view text, bool& failed) {
    boost::system::error_code error;
    auto value = json_io::read_json(text, {}, error);
    failed = static_cast<bool>(error);
    return value;
}

TEST(JsonReader, ReadsWhatTheParserReads) {
    const std::string nested = nested_arrays(json_io::kMaxNestingDepth);
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
        EXPECT_EQ(value, parse(text)) << text;
    }
}

TEST(JsonReader, RefusesWhatTheParserRefuses) {
    const std::string too_deep = nested_arrays(json_io::kMaxNestingDepth + 1);
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
        parse(text, parser_error);
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
    const auto body = json_io::parse_json_body(std::make_shared<const std::string>(text), error);
    ASSERT_FALSE(error);
    EXPECT_EQ(body.document, boost::json::parse(text));
}

}  // namespace

namespace {

const std::vector<std::string> kPath = {"s", "g", "c"};

struct Deferred {
    boost::json::value document;
    json_io::DeferredArray array;
    bool failed = true;
};

Deferred read_deferring(std::string_view text) {
    Deferred read;
    boost::system::error_code error;
    read.document = json_io::read_json(text, {}, error, kPath, read.array);
    read.failed = static_cast<bool>(error);
    return read;
}

TEST(JsonReader, DefersTheArrayAtThePathWithWhatEachElementHolds) {
    const std::string text = R"({"s": {"x": [1], "g": {"c": [
        {"k": "plain", "e": "a\nb\u00e9\ud83d\ude00", "n": [1, -0, -0.0, 2.5e3,
         18446744073709551615, -9223372036854775808, 1e400], "o": {"t": true, "f": false},
         "z": null},
        {}, {"k": {"deep": [[{"x": "y"}]]}}]}}, "after": "kept"})";
    const auto read = read_deferring(text);
    ASSERT_FALSE(read.failed);
    ASSERT_TRUE(read.array.found);
    auto expected = boost::json::parse(text);
    const auto elements = expected.at("s").at("g").at("c").as_array();
    expected.at("s").at("g").at("c").as_array().clear();
    EXPECT_EQ(read.document, expected);

    ASSERT_EQ(read.array.elements.size(), elements.size());
    for (std::size_t index = 0; index < elements.size(); ++index) {
        const auto& element = read.array.elements[index];
        EXPECT_EQ(boost::json::parse(element.text), elements[index]) << index;
        // The parts add up to the fingerprint of the value itself.
        EXPECT_EQ(json_io::fingerprint::finish(
                      json_io::fingerprint::object_end(element.member_sum, element.member_count)),
                  json_io::json_fingerprint(elements[index]))
            << index;
    }
    const auto members = read.array.members_of(read.array.elements[0]);
    ASSERT_EQ(members.size(), 5u);
    EXPECT_EQ(members[0].key, "k");
    EXPECT_EQ(members[0].text, "plain");
    EXPECT_FALSE(members[0].escaped);
    EXPECT_EQ(members[1].kind, boost::json::kind::string);
    EXPECT_TRUE(members[1].escaped);
    EXPECT_EQ(members[2].kind, boost::json::kind::array);
    EXPECT_EQ(members[3].text, R"({"t": true, "f": false})");
    EXPECT_EQ(members[4].kind, boost::json::kind::null);

    // Built back into the document, the body is what the parser makes of the text.
    boost::system::error_code error;
    auto body = json_io::parse_json_body(std::make_shared<const std::string>(text), error, kPath);
    ASSERT_TRUE(body.deferred.found);
    body.build_deferred();
    EXPECT_EQ(body.document, boost::json::parse(text));
}

TEST(JsonReader, BuildsTheArrayWhenAnElementCannotBeDeferred) {
    for (const char* text :
         {R"({"s": {"g": {"c": [{"a": 1}, 2]}}})",                        // not an object
          R"({"s": {"g": {"c": [{"a": {"x": 1, "x": 2}}]}}})",            // repeated key
          R"({"s": {"g": {"c": [{"\u0061": 1}]}}})",                      // escaped key
          R"({"s": {"g": {"c": [{"a": 1e1000000000}]}}})",                // number left to Boost
          R"({"s": {"g": {"c": [{"a": 1}]}}, "s": {"g": {"c": [{}]}}})",  // path twice
          R"({"s": {"g": {"c": [{}]}, "g": 1}})",                         // ... or its parent
          R"({"s": {"g": {"c": 5}}})", R"({"s": [{"g": {"c": [{}]}}]})"}) {
        const auto read = read_deferring(text);
        EXPECT_FALSE(read.failed) << text;
        EXPECT_FALSE(read.array.found) << text;
        EXPECT_EQ(read.document, boost::json::parse(text)) << text;
    }
    // Deferred or not, a text that is not JSON is refused.
    for (const char* text :
         {R"({"s": {"g": {"c": [{"a": tru}]}}})", R"({"s": {"g": {"c": [{"a": "\x01"}]}}})",
          R"({"s": {"g": {"c": [{"a": 1},]}}})"}) {
        EXPECT_TRUE(read_deferring(text).failed) << text;
    }
}

TEST(JsonReader, RefusesTextsNestedDeeperThanTheLimitOnEveryPath) {
    constexpr int kLimit = json_io::kMaxNestingDepth;
    const auto too_deep = [](std::string_view text) {
        boost::system::error_code error;
        json_io::DeferredArray deferred;
        json_io::read_json(text, {}, error, kPath, deferred);
        return error == boost::json::error::too_deep;
    };
    // Elements are as deep as they lie in the whole text (5 levels above "a"'s value), whether
    // they are deferred, built after all (a repeated key) or read without a path.
    const auto element = [](int levels, std::string_view extra = {}) {
        return R"({"s": {"g": {"c": [{"a": )" + nested_arrays(levels) + std::string(extra) +
               "}]}}}";
    };
    EXPECT_TRUE(read_deferring(element(kLimit - 5)).array.found);
    EXPECT_TRUE(too_deep(element(kLimit - 4)));
    EXPECT_FALSE(read_deferring(element(kLimit - 5, R"(, "a": 1)")).failed);
    EXPECT_TRUE(too_deep(element(kLimit - 4, R"(, "a": 1)")));
    boost::system::error_code error;
    json_io::read_json(element(kLimit - 4), {}, error);
    EXPECT_EQ(error, boost::json::error::too_deep);

    // A number the reader leaves to Boost.JSON: the same limit there.
    const auto with_huge_exponent = [](int levels) {
        return std::string(static_cast<std::size_t>(levels), '[') + "1e1000000000" +
               std::string(static_cast<std::size_t>(levels), ']');
    };
    EXPECT_FALSE(read_deferring(with_huge_exponent(kLimit)).failed);
    EXPECT_TRUE(too_deep(with_huge_exponent(kLimit + 1)));

    // Objects count as arrays do; far deeper texts are refused without reading them whole.
    std::string objects;
    for (int level = 0; level < kLimit; ++level) objects += R"({"k": )";
    objects += "0" + std::string(kLimit, '}');
    EXPECT_FALSE(read_deferring(objects).failed);
    EXPECT_TRUE(too_deep("[" + objects + "]"));
    EXPECT_TRUE(too_deep(std::string(1'000'000, '[')));
}

// Runs `work` on a thread with a stack of `bytes`; a walk that needs more crashes the test.
void run_on_small_stack(std::size_t bytes, std::function<void()> work) {
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, bytes), 0);
    pthread_t thread;
    const auto run = [](void* work) -> void* {
        (*static_cast<std::function<void()>*>(work))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, run, &work), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

TEST(JsonReader, WalksOverABodyAtTheLimitFitInAnEighthOfAThreadsStack) {
    // A thread's stack is 8 MiB; at the limit the reader and the walks over a body's values
    // fit in 128 KiB, so 1 MiB leaves room for sanitizer builds' larger frames.
    const std::string text = R"({"s": {"g": {"c": [{"a": )" +
                             test_support::nested_json(json_io::kMaxNestingDepth - 5) + "}]}}}";
    bool done = false;
    run_on_small_stack(1 << 20, [&] {
        const auto deferred = read_deferring(text);
        boost::system::error_code error;
        const auto value = json_io::read_json(text, {}, error);
        const boost::json::value copy = value;
        done = !deferred.failed && deferred.array.found && !error && copy == value &&
               json_io::to_json_text(value) == text &&
               json_io::json_fingerprint(copy) == json_io::json_fingerprint(value);
    });
    EXPECT_TRUE(done);
}

}  // namespace
