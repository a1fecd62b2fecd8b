#include "veyra/body_values.hpp"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <stdexcept>

namespace veyra {
namespace {

std::optional<std::int64_t> integer_of(std::string_view json) {
    return integer_or_null(boost::json::parse(json), "project_id");
}

TEST(IntegerOrNull, NumbersAreCutTowardZeroAndTrueIsOne) {
    EXPECT_EQ(integer_of("5"), 5);
    EXPECT_EQ(integer_of("7.9"), 7);
    EXPECT_EQ(integer_of("-7.9"), -7);
    EXPECT_EQ(integer_of("true"), 1);
    EXPECT_EQ(integer_of("false"), 0);
    EXPECT_EQ(integer_of("null"), std::nullopt);
    EXPECT_EQ(integer_of("9223372036854775807"), INT64_MAX);
}

TEST(IntegerOrNull, NonNumbersAndOutOfRangeFailNamingTheKey) {
    for (const char* json : {R"("5")", "[5]", "{}", "18446744073709551615", "1e300"}) {
        try {
            integer_of(json);
            ADD_FAILURE() << json << " was accepted";
        } catch (const std::runtime_error& failure) {
            EXPECT_NE(std::string(failure.what()).find("project_id"), std::string::npos) << json;
        }
    }
}

}  // namespace
}  // namespace veyra
