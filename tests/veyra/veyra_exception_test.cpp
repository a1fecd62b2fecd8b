#include "veyra/veyra_exception.hpp"

#include <gtest/gtest.h>

#include "veyra/client/errors.hpp"

namespace veyra {
namespace {

using client::refused_request_text;
using host::HTTPStatus;

constexpr const char* kUrl = "http://127.0.0.1:9000/v1/auth/login";

TEST(ParseVeyraException, BadRequestGivesTheErrorBodyAsItCame) {
    std::string body = R"({"code": "NotFoundError.USER_NOT_FOUND", "message": "no user"})";
    auto [status, message] = parse_veyra_exception(refused_request_text(400, kUrl, body));
    EXPECT_EQ(status, HTTPStatus::BAD_REQUEST);
    EXPECT_EQ(message, body);

    // A body spanning lines comes back whole.
    std::string pretty = "{\n  \"code\": \"X\"\n}";
    EXPECT_EQ(parse_veyra_exception(refused_request_text(400, kUrl, pretty)).second, pretty);
}

TEST(ParseVeyraException, OtherStatusesGiveTheBodysMessageElseBodyElseReason) {
    auto with_message = parse_veyra_exception(
        refused_request_text(422, kUrl, R"({"code": "V", "message": "Bad email"})"));
    EXPECT_EQ(with_message.first, HTTPStatus::UNPROCESSABLE_ENTITY);
    EXPECT_EQ(with_message.second, "Bad email");

    auto without_message =
        parse_veyra_exception(refused_request_text(404, kUrl, R"({"code": "NotFound"})"));
    EXPECT_EQ(without_message.first, HTTPStatus::NOT_FOUND);
    EXPECT_EQ(without_message.second, R"({"code": "NotFound"})");

    auto plain = parse_veyra_exception(refused_request_text(503, kUrl, "down for repairs"));
    EXPECT_EQ(static_cast<int>(plain.first), 503);
    EXPECT_EQ(plain.second, "down for repairs");

    auto empty = parse_veyra_exception(refused_request_text(401, kUrl, ""));
    EXPECT_EQ(static_cast<int>(empty.first), 401);
    EXPECT_EQ(empty.second, "Unauthorized");

    auto unknown = parse_veyra_exception(refused_request_text(499, kUrl, ""));
    EXPECT_EQ(static_cast<int>(unknown.first), 499);
    EXPECT_EQ(unknown.second, "Error 499");
}

TEST(ParseVeyraException, LineBreaksInTheAddressDoNotMoveTheBody) {
    std::string text = refused_request_text(409, "http://host/a\nb", R"({"message": "taken"})");
    EXPECT_EQ(parse_veyra_exception(text).second, "taken");
}

TEST(ParseVeyraException, TextOfAnotherFailureIsAServerErrorWithThatText) {
    auto [status, message] = parse_veyra_exception("Not logged in to Veyra; log in first.");
    EXPECT_EQ(status, HTTPStatus::INTERNAL_SERVER_ERROR);
    EXPECT_EQ(message, "Not logged in to Veyra; log in first.");
    EXPECT_EQ(parse_veyra_exception("200 OK\n{}").first, HTTPStatus::INTERNAL_SERVER_ERROR);
}

}  // namespace
}  // namespace veyra
