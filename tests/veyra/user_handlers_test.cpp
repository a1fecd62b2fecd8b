// Login, logout and user info through the running server, against a platform on loopback.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <boost/json/parse.hpp>

#include "support/fake_platform.hpp"
#include "support/test_server.hpp"
#include "veyra/client/veyra_settings.hpp"

namespace {

using namespace std::chrono_literals;
using test_support::expect_json_answer;
using test_support::FakePlatform;
using test_support::HttpResponse;
using test_support::TestServer;
using veyra::client::veyra_settings;

constexpr const char* kLogin = "/nuvex-link/veyra/user/login";
constexpr const char* kLogout = "/nuvex-link/veyra/user/logout";
constexpr const char* kInfo = "/nuvex-link/veyra/user/info";
constexpr const char* kNotAuthorized =
    R"({"message": "The account you entered does not have proper authorization to access target Veyra system"})";

std::string login_body(std::string_view veyra_url) {
    return R"({"veyra_url": ")" + std::string(veyra_url) +
           R"(", "email": "ada@example.com", "password": "secret"})";
}

class AccountGate : public testing::Test {
protected:
    boost::json::value settings_on_disk() const {
        return boost::json::parse(test_support::read_file(server_.command_line().veyra_settings));
    }

    FakePlatform platform_;
    TestServer server_;
};

TEST_F(AccountGate, LoginNamesTheFirstMissingKey) {
    expect_json_answer(server_.post(kLogin, "{}"), 400,
                       R"({"message": "veyra_url is required in the body of the request."})");
    expect_json_answer(server_.post(kLogin, R"({"veyra_url": "x", "email": "y"})"), 400,
                       R"({"message": "password is required in the body of the request."})");
    EXPECT_EQ(server_.post(kLogin, "[]").status, 500);
    EXPECT_TRUE(platform_.requests().empty());
}

TEST_F(AccountGate, LoginAdmitsTheFirstWorkspacesAdminsAndMembers) {
    expect_json_answer(server_.post(kLogin, login_body(platform_.url())), 200,
                       R"({"token": "veyra-token", "sdk_token": "veyra-sdk-token", "user_id": 1})");
    boost::json::value on_disk = settings_on_disk();
    EXPECT_EQ(on_disk.at("TOKEN"), "veyra-token");
    EXPECT_EQ(on_disk.at("VEYRA_WORKSPACE_ID"), "5");
    struct stat status {};
    ASSERT_EQ(::stat(server_.command_line().veyra_settings.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600);

    platform_.set_workspaces({{8, "member"}, {5, "viewer"}});
    EXPECT_EQ(server_.post(kLogin, login_body(platform_.url())).status, 200);
    EXPECT_EQ(platform_.calls("POST", "/v1/auth/logout"), 0);
}

TEST_F(AccountGate, LoginRefusesOtherRolesAndEndsLoggedOut) {
    platform_.set_workspaces({{5, "viewer"}, {6, "admin"}});
    expect_json_answer(server_.post(kLogin, login_body(platform_.url())), 403, kNotAuthorized);
    EXPECT_EQ(platform_.calls("POST", "/v1/auth/logout"), 1);
    boost::json::value on_disk = settings_on_disk();
    EXPECT_TRUE(on_disk.at("TOKEN").is_null());
    EXPECT_TRUE(on_disk.at("VEYRA_WORKSPACE_ID").is_null());
    EXPECT_FALSE(veyra_settings().TOKEN.has_value());

    platform_.set_workspaces({{5, std::nullopt}});
    expect_json_answer(server_.post(kLogin, login_body(platform_.url())), 403, kNotAuthorized);
    EXPECT_EQ(platform_.calls("POST", "/v1/auth/logout"), 2);

    // The logout after a refused login leaves nothing to log out of.
    expect_json_answer(server_.post(kLogout, ""), 200, "{}");
    EXPECT_EQ(platform_.calls("POST", "/v1/auth/logout"), 2);
}

TEST(AccountGateLog, ALoginWithoutWorkspaceIsLoggedAtDebugLevel) {
    FakePlatform platform;
    TestServer server([](app::CommandLine& line) { line.log_level = "debug"; });
    platform.set_workspaces({});
    testing::internal::CaptureStderr();
    HttpResponse response = server.post(kLogin, login_body(platform.url()));
    std::string log = testing::internal::GetCapturedStderr();
    expect_json_answer(response, 403, kNotAuthorized);
    EXPECT_NE(log.find("There is no workspace."), std::string::npos) << log;
    EXPECT_EQ(platform.calls("POST", "/v1/auth/logout"), 1);
}

TEST_F(AccountGate, LoginTurnsPlatformRefusalsIntoMessages) {
    static constexpr const char* kNoToken =
        R"({"message": "Veyra's answer to the login holds neither a \"token\" nor an \"sdk_token\"."})";
    struct Case {
        int platform_status;
        const char* platform_body;
        int status;
        const char* body;
    };
    const Case cases[] = {
        {422, R"({"code": "X", "message": "whatever"})", 422,
         R"({"message": "Email or password is invalid."})"},
        {400, R"({"code": "NotFoundError.USER_NOT_FOUND", "message": "no user"})", 400,
         R"({"message": "Email or password is invalid."})"},
        {400, R"({"code": "AuthenticationError.INVALID_USERNAME_OR_PASSWORD"})", 400,
         R"({"message": "Email or password is invalid."})"},
        {400, R"({"code": "ResourceError.API_TOKEN_LIMIT_EXCEEDED", "message": "x"})", 400,
         R"({"message": "Allowed API token limit exceeded."})"},
        {400, R"({"code": "Other", "message": "Caf\u00e9 closed"})", 400,
         R"({"message": "Caf\u00e9 closed"})"},
        {400, R"({"code": "Other"})", 400, R"({"message": null})"},
        {401, R"({"code": "A", "message": "Not allowed here"})", 401,
         R"({"message": "Not allowed here"})"},
        {503, "", 503, R"({"message": "Service Unavailable"})"},
        // Not refusals: a login answer without a usable token is an ordinary failure.
        {200, R"({"token": "", "sdk_token": ""})", 500, kNoToken},
        {200, R"({"token": 5, "sdk_token": null})", 500, kNoToken},
        {200, R"({"user_id": 1})", 500, kNoToken},
    };
    for (const Case& c : cases) {
        platform_.answer("POST", "/v1/auth/login", c.platform_status, c.platform_body);
        SCOPED_TRACE(c.platform_body);
        expect_json_answer(server_.post(kLogin, login_body(platform_.url())), c.status, c.body);
    }
    EXPECT_FALSE(veyra_settings().TOKEN.has_value());

    // A 400 whose body is not an object is not the platform's error format.
    platform_.answer("POST", "/v1/auth/login", 400, "bad");
    HttpResponse response = server_.post(kLogin, login_body(platform_.url()));
    EXPECT_EQ(response.status, 500);
    EXPECT_EQ(response.json().at("message"), "Unhandled error");
}

TEST_F(AccountGate, LoginWithAnEmptyTokenWorksWithTheSdkToken) {
    constexpr const char* kAnswer =
        R"({"token": "", "sdk_token": "veyra-sdk-token", "user_id": 1})";
    platform_.answer("POST", "/v1/auth/login", 200, kAnswer);
    expect_json_answer(server_.post(kLogin, login_body(platform_.url())), 200, kAnswer);
    boost::json::value on_disk = settings_on_disk();
    EXPECT_EQ(on_disk.at("TOKEN"), "");
    EXPECT_EQ(on_disk.at("VEYRA_SDK_TOKEN"), "veyra-sdk-token");
    EXPECT_EQ(platform_.requests().back().authorization, "Bearer veyra-sdk-token");

    // With a project chosen, the user info asks the platform with the SDK token.
    expect_json_answer(
        server_.post("/nuvex-link/veyra/projects", R"({"project_id": 5, "mount_volumes": false})"),
        200, R"({"success": true})");
    const HttpResponse info = server_.get(kInfo);
    EXPECT_EQ(info.status, 200);
    EXPECT_EQ(info.json().at("veyra_token"), "veyra-sdk-token");
    EXPECT_EQ(platform_.requests().back().target, "/v1/users/me");
    EXPECT_EQ(platform_.requests().back().authorization, "Bearer veyra-sdk-token");
}

TEST_F(AccountGate, LoginToAnUnreachableOrHungPlatformIsABadGateway) {
    constexpr const char* kInvalidUrl = R"({"message": "Veyra URL is invalid."})";
    expect_json_answer(server_.post(kLogin, login_body("http://127.0.0.1:1")), 502, kInvalidUrl);
    expect_json_answer(server_.post(kLogin, login_body("")), 502, kInvalidUrl);
    expect_json_answer(
        server_.post(kLogin, R"({"veyra_url": null, "email": null, "password": null})"), 502,
        kInvalidUrl);

    test_support::ScopedPlatformTimeouts short_timeouts(300ms);
    platform_.hang("POST", "/v1/auth/login");
    expect_json_answer(server_.post(kLogin, login_body(platform_.url())), 502, kInvalidUrl);
    // The server is free again for the next request.
    expect_json_answer(server_.get(kInfo), 200, "{}");
}

TEST_F(AccountGate, LogoutAnswers) {
    platform_.log_in_client();
    expect_json_answer(server_.post(kLogout, ""), 200, "{}");
    EXPECT_EQ(platform_.calls("POST", "/v1/auth/logout"), 1);
    EXPECT_TRUE(settings_on_disk().at("TOKEN").is_null());

    struct Case {
        int platform_status;
        const char* platform_body;
        const char* body;
    };
    const Case cases[] = {
        {422, R"({"message": "expired"})", R"({"message": "Veyra token is invalid."})"},
        {400, R"({"code": "T"})", R"({"message": "Veyra token is invalid."})"},
        {404, R"({"message": "No session"})", R"({"message": "No session"})"},
    };
    for (const Case& c : cases) {
        platform_.log_in_client();
        platform_.answer("POST", "/v1/auth/logout", c.platform_status, c.platform_body);
        expect_json_answer(server_.post(kLogout, ""), c.platform_status, c.body);
    }

    platform_.log_in_client();
    veyra_settings().VEYRA_API_SERVER_URL = "127.0.0.1:1";
    expect_json_answer(server_.post(kLogout, ""), 502, R"({"message": "Veyra URL is invalid."})");
}

TEST_F(AccountGate, InfoOnlyAsksThePlatformWithACompleteLogin) {
    expect_json_answer(server_.get(kInfo), 200, "{}");
    platform_.log_in_client();
    veyra_settings().VEYRA_PROJECT_ID = "";
    expect_json_answer(server_.get(kInfo), 200, "{}");
    EXPECT_TRUE(platform_.requests().empty());

    platform_.log_in_client();
    std::string address = platform_.url();
    expect_json_answer(server_.get(kInfo), 200,
                       R"({"id": 1, "email": "ada@example.com", "name": "Ada", "veyra_url": ")" +
                           address +
                           R"(", "veyra_token": "veyra-token", "veyra_workspace_id": "5", )"
                           R"("veyra_project_id": "5"})");

    veyra_settings().TOKEN = "";
    EXPECT_EQ(server_.get(kInfo).json().at("veyra_token"), "veyra-sdk-token");
    EXPECT_EQ(platform_.requests().back().authorization, "Bearer veyra-sdk-token");
}

TEST_F(AccountGate, InfoReportsPlatformFailures) {
    platform_.log_in_client();
    platform_.answer("GET", "/v1/users/me", 422, "{}");
    expect_json_answer(server_.get(kInfo), 422, R"({"message": "Veyra token is invalid."})");
    platform_.answer("GET", "/v1/users/me", 500, R"({"message": "Profile store down"})");
    expect_json_answer(server_.get(kInfo), 500, R"({"message": "Profile store down"})");
    platform_.answer("GET", "/v1/users/me", 200, "[1]");
    expect_json_answer(
        server_.get(kInfo), 500,
        R"({"message": "Veyra's answer for the user profile is not a JSON object."})");
    veyra_settings().VEYRA_API_SERVER_URL = "127.0.0.1:1";
    expect_json_answer(server_.get(kInfo), 502, R"({"message": "Veyra URL is invalid."})");
}

}  // namespace
