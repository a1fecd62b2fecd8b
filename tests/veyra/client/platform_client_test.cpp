// The platform client against a real HTTP platform on loopback.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

#include "support/fake_platform.hpp"
#include "support/temp_dir.hpp"
#include "veyra/client/dataset.hpp"
#include "veyra/client/errors.hpp"
#include "veyra/client/model_registries.hpp"
#include "veyra/client/projects.hpp"
#include "veyra/client/users.hpp"
#include "veyra/client/veyra_settings.hpp"
#include "veyra/client/workspaces.hpp"
#include "veyra/veyra_exception.hpp"

namespace veyra::client {
namespace {

using namespace std::chrono_literals;
using test_support::FakePlatform;

class PlatformClient : public testing::Test {
protected:
    void SetUp() override { load_settings(settings_file()); }
    std::filesystem::path settings_file() const { return folder_.path() / "config" / "veyra.json"; }
    boost::json::value settings_on_disk() const {
        return boost::json::parse(test_support::read_file(settings_file()));
    }

    test_support::TempDir folder_{"veyra-client"};
    FakePlatform platform_;
};

TEST_F(PlatformClient, LoginKeepsAddressAndTokensInMemoryAndInAPrivateFile) {
    TokenInfo token_info = login(platform_.url() + "/", "ada@example.com", "secret");
    EXPECT_EQ(token_info.to_dict().at("token"), "veyra-token");
    EXPECT_EQ(token_info.kwargs.at("user_id"), 1);

    auto login_request = platform_.requests().front();
    EXPECT_EQ(boost::json::parse(login_request.body),
              boost::json::parse(R"({"email": "ada@example.com", "password": "secret"})"));
    EXPECT_EQ(login_request.authorization, "");

    const Settings& settings = veyra_settings();
    EXPECT_EQ(settings.VEYRA_API_PROTOCOL, "http");
    EXPECT_EQ(settings.VEYRA_API_SERVER_URL, platform_.url().substr(7));
    EXPECT_EQ(settings.TOKEN, "veyra-token");
    EXPECT_EQ(settings.VEYRA_SDK_TOKEN, "veyra-sdk-token");
    EXPECT_EQ(settings.VEYRA_WORKSPACE_ID, std::nullopt);

    struct stat status {};
    ASSERT_EQ(::stat(settings_file().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600);
    boost::json::value on_disk = settings_on_disk();
    EXPECT_EQ(on_disk.at("TOKEN"), "veyra-token");
    EXPECT_EQ(on_disk.at("VEYRA_API_PROTOCOL"), "http");
    EXPECT_TRUE(on_disk.at("VEYRA_WORKSPACE_ID").is_null());

    // A restarted server finds the login again.
    veyra_settings() = Settings{};
    load_settings(settings_file());
    EXPECT_EQ(veyra_settings().TOKEN, "veyra-token");
}

TEST_F(PlatformClient, SelectionsFollowTheFirstWorkspaceAndPersist) {
    platform_.set_workspaces({{12, "member"}, {5, "admin"}});
    platform_.answer("GET", "/v1/workspaces/12/projects", 200, R"([{"id": 70}])");
    platform_.answer("GET", "/v1/workspaces/12/model-registries", 200, "[]");
    login(platform_.url(), "ada@example.com", "secret");

    EXPECT_EQ(get_joined_workspaces().size(), 2u);
    EXPECT_EQ(veyra_settings().VEYRA_WORKSPACE_ID, "12");
    auto projects = get_joined_projects();
    ASSERT_EQ(projects.size(), 1u);
    EXPECT_EQ(projects[0].to_dict().at("id"), 70);
    EXPECT_TRUE(get_model_registry_list().empty());

    set_joined_project(70);
    mount_dataset();
    set_model_registry(3);
    EXPECT_EQ(platform_.calls("GET", "/v1/projects/70"), 1);
    EXPECT_EQ(platform_.calls("POST", "/v1/projects/70/datasets/mount"), 1);
    EXPECT_EQ(platform_.calls("GET", "/v1/model-registries/3"), 1);
    EXPECT_EQ(platform_.requests().back().authorization, "Bearer veyra-token");
    EXPECT_EQ(settings_on_disk().at("VEYRA_PROJECT_ID"), "70");
    EXPECT_EQ(settings_on_disk().at("VEYRA_MODEL_REGISTRY_ID"), "3");

    // A refused selection keeps the earlier one.
    platform_.answer("GET", "/v1/projects/8", 404, R"({"code": "NotFound", "message": "No"})");
    EXPECT_THROW(set_joined_project(8), RequestException);
    EXPECT_EQ(veyra_settings().VEYRA_PROJECT_ID, "70");
}

TEST_F(PlatformClient, LogoutForgetsTheLoginEvenWhenThePlatformRefuses) {
    login(platform_.url(), "ada@example.com", "secret");
    get_joined_workspaces();
    set_joined_project(5);
    platform_.answer("POST", "/v1/auth/logout", 422, R"({"code": "T", "message": "expired"})");

    EXPECT_THROW(logout(), RequestException);
    EXPECT_EQ(platform_.calls("POST", "/v1/auth/logout"), 1);
    const Settings& settings = veyra_settings();
    EXPECT_FALSE(settings.TOKEN || settings.VEYRA_SDK_TOKEN || settings.VEYRA_WORKSPACE_ID ||
                 settings.VEYRA_PROJECT_ID);
    boost::json::value on_disk = settings_on_disk();
    for (const char* key : {"TOKEN", "VEYRA_SDK_TOKEN", "VEYRA_WORKSPACE_ID", "VEYRA_PROJECT_ID"}) {
        EXPECT_TRUE(on_disk.at(key).is_null()) << key;
    }

    // Nothing left to end: no call, no failure.
    logout();
    EXPECT_EQ(platform_.calls("POST", "/v1/auth/logout"), 1);
}

TEST_F(PlatformClient, FailureKinds) {
    EXPECT_THROW(login("http://127.0.0.1:1", "a", "b"), ConnectionError);
    EXPECT_THROW(login(std::nullopt, "a", "b"), ConnectionError);
    EXPECT_THROW(login("ftp://127.0.0.1:1", "a", "b"), ConnectionError);
    // TLS to a server that speaks plain HTTP fails the handshake.
    EXPECT_THROW(login("https://" + platform_.url().substr(7), "a", "b"), ConnectionError);
    EXPECT_THROW(get_user_profile(), std::runtime_error);  // not logged in

    platform_.answer("POST", "/v1/auth/login", 500, R"({"message": "database down"})");
    try {
        login(platform_.url(), "a", "b");
        ADD_FAILURE() << "a refused login succeeded";
    } catch (const ConnectionError&) {
        ADD_FAILURE() << "a refused login is no connection failure";
    } catch (const RequestException& refused) {
        auto [status, message] = veyra::parse_veyra_exception(refused.what());
        EXPECT_EQ(static_cast<int>(status), 500);
        EXPECT_EQ(message, "database down");
    }

    platform_.answer("POST", "/v1/auth/login", 200, "<html>");
    try {
        login(platform_.url(), "a", "b");
        ADD_FAILURE() << "a login answered with HTML succeeded";
    } catch (const RequestException&) {
        ADD_FAILURE() << "an answer that is not JSON is no refused request";
    } catch (const std::runtime_error& failure) {
        EXPECT_NE(std::string(failure.what()).find("not JSON"), std::string::npos);
    }
}

TEST_F(PlatformClient, AHungPlatformEndsInAConnectionErrorAtTheTimeout) {
    test_support::ScopedPlatformTimeouts short_timeouts(300ms);
    platform_.hang("POST", "/v1/auth/login");
    try {
        login(platform_.url(), "a", "b");
        ADD_FAILURE() << "a hung login succeeded";
    } catch (const ConnectionError& failure) {
        EXPECT_NE(std::string(failure.what()).find("timed out"), std::string::npos)
            << failure.what();
    }
}

TEST_F(PlatformClient, ADamagedSettingsFileMeansLoggedOut) {
    test_support::write_file(settings_file(), R"({"TOKEN": 5})");
    veyra_settings().TOKEN = "stale";
    load_settings(settings_file());
    EXPECT_EQ(veyra_settings().TOKEN, std::nullopt);
}

}  // namespace
}  // namespace veyra::client
