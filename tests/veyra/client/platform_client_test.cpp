// The platform client against a real HTTP platform on loopback.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <stop_token>
#include <thread>

#include "support/fake_platform.hpp"
#include "support/temp_dir.hpp"
#include "veyra/client/dataset.hpp"
#include "veyra/client/errors.hpp"
#include "veyra/client/model_registries.hpp"
#include "veyra/client/projects.hpp"
#include "veyra/client/users.hpp"
#include "veyra/client/workspaces.hpp"

namespace veyra::client {
namespace {

using namespace std::chrono_literals;
using test_support::FakePlatform;

class PlatformClient : public testing::Test {
protected:
    std::filesystem::path settings_file() const { return folder_.path() / "config" / "veyra.json"; }
    boost::json::value settings_on_disk() const {
        return boost::json::parse(test_support::read_file(settings_file()));
    }

    test_support::TempDir folder_{"veyra-client"};
    FakePlatform platform_;
    Account account_{settings_file()};
    PlatformSession session_{account_, {}};
    const Settings& settings_ = account_.settings;
};

TEST_F(PlatformClient, LoginKeepsAddressAndTokensInMemoryAndInAPrivateFile) {
    TokenInfo token_info = login(session_, platform_.url() + "/", "ada@example.com", "secret");
    EXPECT_EQ(token_info.fields.at("token"), "veyra-token");
    EXPECT_EQ(token_info.fields.at("user_id"), 1);

    auto login_request = platform_.requests().front();
    EXPECT_EQ(boost::json::parse(login_request.body),
              boost::json::parse(R"({"email": "ada@example.com", "password": "secret"})"));
    EXPECT_EQ(login_request.authorization, "");

    EXPECT_EQ(settings_.api_protocol, "http");
    EXPECT_EQ(settings_.api_server_url, platform_.url().substr(7));
    EXPECT_EQ(settings_.token, "veyra-token");
    EXPECT_EQ(settings_.sdk_token, "veyra-sdk-token");
    EXPECT_EQ(settings_.workspace_id, std::nullopt);

    struct stat status {};
    ASSERT_EQ(::stat(settings_file().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600);
    boost::json::value on_disk = settings_on_disk();
    EXPECT_EQ(on_disk.at("TOKEN"), "veyra-token");
    EXPECT_EQ(on_disk.at("VEYRA_API_PROTOCOL"), "http");
    EXPECT_TRUE(on_disk.at("VEYRA_WORKSPACE_ID").is_null());

    // A restarted server finds the login again.
    Account restarted(settings_file());
    EXPECT_EQ(restarted.settings.token, "veyra-token");
    EXPECT_EQ(restarted.settings.api_server_url, platform_.url().substr(7));
}

TEST_F(PlatformClient, SelectionsFollowTheFirstWorkspaceAndPersist) {
    platform_.set_workspaces({{12, "member"}, {5, "admin"}});
    platform_.answer("GET", "/v1/workspaces/12/projects", 200, R"([{"id": 70}])");
    platform_.answer("GET", "/v1/workspaces/12/model-registries", 200, "[]");
    login(session_, platform_.url(), "ada@example.com", "secret");

    EXPECT_EQ(get_joined_workspaces(session_).size(), 2u);
    EXPECT_EQ(settings_.workspace_id, "12");
    auto projects = get_joined_projects(session_);
    ASSERT_EQ(projects.size(), 1u);
    EXPECT_EQ(projects[0].fields.at("id"), 70);
    EXPECT_TRUE(get_model_registry_list(session_).empty());

    set_joined_project(session_, 70);
    mount_dataset(session_);
    set_model_registry(session_, 3);
    EXPECT_EQ(platform_.calls("GET", "/v1/projects/70"), 1);
    EXPECT_EQ(platform_.calls("POST", "/v1/projects/70/datasets/mount"), 1);
    EXPECT_EQ(platform_.calls("GET", "/v1/model-registries/3"), 1);
    EXPECT_EQ(platform_.requests().back().authorization, "Bearer veyra-token");
    EXPECT_EQ(settings_on_disk().at("VEYRA_PROJECT_ID"), "70");
    EXPECT_EQ(settings_on_disk().at("VEYRA_MODEL_REGISTRY_ID"), "3");

    // A refused selection keeps the earlier one.
    platform_.answer("GET", "/v1/projects/8", 404, R"({"code": "NotFound", "message": "No"})");
    EXPECT_THROW(set_joined_project(session_, 8), RefusedRequest);
    EXPECT_EQ(settings_.project_id, "70");
}

TEST_F(PlatformClient, LogoutForgetsTheLoginEvenWhenThePlatformRefuses) {
    login(session_, platform_.url(), "ada@example.com", "secret");
    get_joined_workspaces(session_);
    set_joined_project(session_, 5);
    platform_.answer("POST", "/v1/auth/logout", 422, R"({"code": "T", "message": "expired"})");

    EXPECT_THROW(logout(session_), RefusedRequest);
    EXPECT_EQ(platform_.calls("POST", "/v1/auth/logout"), 1);
    EXPECT_FALSE(settings_.token || settings_.sdk_token || settings_.workspace_id ||
                 settings_.project_id);
    boost::json::value on_disk = settings_on_disk();
    for (const char* key : {"TOKEN", "VEYRA_SDK_TOKEN", "VEYRA_WORKSPACE_ID", "VEYRA_PROJECT_ID"}) {
        EXPECT_TRUE(on_disk.at(key).is_null()) << key;
    }

    // Nothing left to end: no call, no failure.
    logout(session_);
    EXPECT_EQ(platform_.calls("POST", "/v1/auth/logout"), 1);
}

TEST_F(PlatformClient, FailureKinds) {
    EXPECT_THROW(login(session_, "http://127.0.0.1:1", "a", "b"), ConnectionError);
    EXPECT_THROW(login(session_, std::nullopt, "a", "b"), ConnectionError);
    EXPECT_THROW(login(session_, "ftp://127.0.0.1:1", "a", "b"), ConnectionError);
    // TLS to a server that speaks plain HTTP fails the handshake.
    EXPECT_THROW(login(session_, "https://" + platform_.url().substr(7), "a", "b"),
                 ConnectionError);
    EXPECT_THROW(get_user_profile(session_), std::runtime_error);  // not logged in

    platform_.answer("POST", "/v1/auth/login", 500, R"({"message": "database down"})");
    try {
        login(session_, platform_.url(), "a", "b");
        ADD_FAILURE() << "a refused login succeeded";
    } catch (const RefusedRequest& refused) {
        EXPECT_EQ(refused.status(), 500);
        EXPECT_EQ(refused.body(), R"({"message": "database down"})");
        EXPECT_EQ(refused.message(), "database down");
    }

    platform_.answer("POST", "/v1/auth/login", 200, "<html>");
    try {
        login(session_, platform_.url(), "a", "b");
        ADD_FAILURE() << "a login answered with HTML succeeded";
    } catch (const RefusedRequest&) {
        ADD_FAILURE() << "an answer that is not JSON is no refused request";
    } catch (const std::runtime_error& failure) {
        EXPECT_NE(std::string(failure.what()).find("not JSON"), std::string::npos);
    }
}

TEST_F(PlatformClient, AHungPlatformEndsInAConnectionErrorAtTheTimeout) {
    test_support::ScopedPlatformTimeouts short_timeouts(account_, 300ms);
    platform_.hang("POST", "/v1/auth/login");
    try {
        login(session_, platform_.url(), "a", "b");
        ADD_FAILURE() << "a hung login succeeded";
    } catch (const ConnectionError& failure) {
        EXPECT_NE(std::string(failure.what()).find("timed out"), std::string::npos)
            << failure.what();
    }
}

// The timeouts stay long: only the stop ends the wait.
TEST_F(PlatformClient, TheStopEndsARequestInFlightAndRefusesTheNextOnes) {
    platform_.hang("POST", "/v1/auth/login");
    Account account(folder_.path() / "stopping.json");
    std::stop_source stopping;
    PlatformSession session(account, stopping.get_token());
    std::thread stopper([&] {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (platform_.calls("POST", "/v1/auth/login") == 0 &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        stopping.request_stop();
    });
    try {
        login(session, platform_.url(), "a", "b");
        ADD_FAILURE() << "a hung login succeeded";
    } catch (const ConnectionError& failure) {
        EXPECT_NE(std::string(failure.what()).find("the server is stopping"), std::string::npos)
            << failure.what();
    }
    stopper.join();

    EXPECT_THROW(login(session, platform_.url(), "a", "b"), ConnectionError);
    EXPECT_EQ(platform_.calls("POST", "/v1/auth/login"), 1);
}

TEST_F(PlatformClient, ADamagedSettingsFileMeansLoggedOut) {
    test_support::write_file(settings_file(), R"({"TOKEN": 5})");
    EXPECT_EQ(Account(settings_file()).settings.token, std::nullopt);
}

}  // namespace
}  // namespace veyra::client
