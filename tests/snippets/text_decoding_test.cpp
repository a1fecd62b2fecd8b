#include "snippets/text_decoding.hpp"

#include <gtest/gtest.h>

#include <string>

using snippets::check_utf8;
using snippets::UnicodeDecodeError;
using snippets::with_unix_newlines;

namespace {

std::string decode_failure(std::string_view bytes) {
    try {
        check_utf8(bytes);
    } catch (const UnicodeDecodeError& error) {
        return error.what();
    }
    return "";
}

}  // namespace

TEST(CheckUtf8, AcceptsWellFormedTextAndNamesTheFirstBadByte) {
    EXPECT_EQ(decode_failure("plain \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF"), "");
    EXPECT_EQ(decode_failure("abc\xFF"),
              "'utf-8' codec can't decode byte 0xff in position 3: invalid start byte");
    EXPECT_EQ(decode_failure("x\xC0\xAF"),
              "'utf-8' codec can't decode byte 0xc0 in position 1: invalid start byte");
    // A broken continuation: the span covers the bytes that fitted before it.
    EXPECT_EQ(decode_failure("ab\xE2\x82\x28"),
              "'utf-8' codec can't decode bytes in position 2-3: invalid continuation byte");
    // Surrogates and values above U+10FFFF fail at their second byte.
    EXPECT_EQ(decode_failure("\xED\xA0\x80"),
              "'utf-8' codec can't decode byte 0xed in position 0: invalid continuation byte");
    EXPECT_EQ(decode_failure("\xF4\x90\x80\x80"),
              "'utf-8' codec can't decode byte 0xf4 in position 0: invalid continuation byte");
    // Cut off by the end.
    EXPECT_EQ(decode_failure("\xF0\x9F\x98"),
              "'utf-8' codec can't decode bytes in position 0-2: unexpected end of data");
}

TEST(WithUnixNewlines, TurnsEveryCarriageReturnLineEndIntoOneLineFeed) {
    EXPECT_EQ(with_unix_newlines("a\r\nb\rc\nd\r\r\ne\r"), "a\nb\nc\nd\n\ne\n");
}
