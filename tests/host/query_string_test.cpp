#include "host/query_string.hpp"

#include <gtest/gtest.h>

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

TEST(QueryString, SplitsDecodesAndKeepsOrder) {
    EXPECT_EQ(host::parse_query("b=2&a=x+y%26z&b=3"),
              (Fields{{"b", "2"}, {"a", "x y&z"}, {"b", "3"}}));
    // Empty pairs are skipped; a pair without '=' has an empty value; only the first '='
    // splits.
    EXPECT_EQ(host::parse_query("&&flag&=v&k=a=b&"),
              (Fields{{"flag", ""}, {"", "v"}, {"k", "a=b"}}));
    EXPECT_EQ(host::parse_query("dataset_name=&n%00=%2e%2e"),
              (Fields{{"dataset_name", ""}, {std::string("n\0", 2), ".."}}));
    EXPECT_TRUE(host::parse_query("").empty());
}

}  // namespace
