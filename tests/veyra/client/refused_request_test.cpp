// What a refused platform request tells the user, from its status and body.

#include <gtest/gtest.h>

#include "veyra/client/errors.hpp"

namespace veyra::client {
namespace {

constexpr const char* kUrl = "http://127.0.0.1:9000/v1/auth/login";

TEST(RefusedRequest, BadRequestGivesTheErrorBodyAsItCame) {
    const std::string body = R"({"code": "NotFoundError.USER_NOT_FOUND", "message": "no user"})";
    EXPECT_EQ(RefusedRequest(400, kUrl, body).message(), body);
    // A body spanning lines comes back whole.
    const std::string pretty = "{\n  \"code\": \"X\"\n}";
    EXPECT_EQ(RefusedRequest(400, kUrl, pretty).message(), pretty);
}

TEST(RefusedRequest, OtherStatusesGiveTheBodysMessageElseBodyElseReason) {
    EXPECT_EQ(RefusedRequest(422, kUrl, R"({"code": "V", "message": "Bad email"})").message(),
              "Bad email");
    EXPECT_EQ(RefusedRequest(409, kUrl, R"({"message": {"field": "name"}})").message(),
              R"({"field": "name"})");
    EXPECT_EQ(RefusedRequest(404, kUrl, R"({"code": "NotFound"})").message(),
              R"({"code": "NotFound"})");
    EXPECT_EQ(RefusedRequest(404, kUrl, R"({"message": null})").message(), R"({"message": null})");
    EXPECT_EQ(RefusedRequest(503, kUrl, "down for repairs").message(), "down for repairs");
    EXPECT_EQ(RefusedRequest(401, kUrl, "").message(), "Unauthorized");
    EXPECT_EQ(RefusedRequest(499, kUrl, "").message(), "Error 499");
}

TEST(RefusedRequest, KeepsStatusAndBodyAndNamesTheAddressForTheLog) {
    const RefusedRequest refused(409, "http://host/a\nb", R"({"message": "taken"})");
    EXPECT_EQ(refused.status(), 409);
    EXPECT_EQ(refused.body(), R"({"message": "taken"})");
    EXPECT_EQ(refused.message(), "taken");
    // One first line: a line break in the address does not start a second.
    const std::string text = refused.what();
    EXPECT_EQ(text.substr(0, text.find('\n')),
              "409 Client Error: Conflict for url: http://host/a b");
}

}  // namespace
}  // namespace veyra::client
