// Listing and selecting projects through the running server, against a platform on loopback.

#include <gtest/gtest.h>

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

constexpr const char* kProjects = "/nuvex-link/veyra/projects";

class ProjectPick : public testing::Test {
protected:
    void SetUp() override { platform_.log_in_client(); }
    int mounts(std::string_view project) const {
        return platform_.calls("POST", "/v1/projects/" + std::string(project) + "/datasets/mount");
    }

    FakePlatform platform_;
    TestServer server_;
};

TEST_F(ProjectPick, ListsTheJoinedProjectsAsThePlatformGivesThem) {
    expect_json_answer(server_.get(kProjects), 200,
                       R"([{"id": 5, "name": "Vision"}, {"id": 7, "name": "Speech"}])");
    platform_.answer("GET", "/v1/workspaces/5/projects", 200, "[]");
    expect_json_answer(server_.get(kProjects), 200, "[]");
}

TEST_F(ProjectPick, ListFailuresGoUnderError) {
    platform_.answer("GET", "/v1/workspaces/5/projects", 403, R"({"message": "Not a member"})");
    expect_json_answer(server_.get(kProjects), 403, R"({"error": "Not a member"})");
    // A 400 passes the platform's error body through unchanged.
    platform_.answer("GET", "/v1/workspaces/5/projects", 400, R"({"code": "C", "message": "m"})");
    expect_json_answer(server_.get(kProjects), 400,
                       R"({"error": "{\"code\": \"C\", \"message\": \"m\"}"})");
    platform_.answer("GET", "/v1/workspaces/5/projects", 200, R"({"id": 5})");
    expect_json_answer(server_.get(kProjects), 500,
                       R"({"error": "Veyra's answer for the joined projects is not a list."})");
    veyra_settings().VEYRA_API_SERVER_URL = "127.0.0.1:1";
    expect_json_answer(server_.get(kProjects), 502, R"({"error": "Veyra URL is invalid."})");
    veyra_settings() = {};
    expect_json_answer(server_.get(kProjects), 500,
                       R"({"error": "Not logged in to Veyra; log in first."})");
}

TEST_F(ProjectPick, SelectingMountsUnlessTold) {
    expect_json_answer(server_.post(kProjects, "{}"), 400,
                       R"({"message": "project_id is required in the body of the request."})");
    expect_json_answer(server_.post(kProjects, R"({"mount_volumes": false})"), 400,
                       R"({"message": "project_id is required in the body of the request."})");

    expect_json_answer(server_.post(kProjects, R"({"project_id": 5})"), 200,
                       R"({"success": true})");
    EXPECT_EQ(platform_.calls("GET", "/v1/projects/5"), 1);
    EXPECT_EQ(mounts("5"), 1);
    EXPECT_EQ(veyra_settings().VEYRA_PROJECT_ID, "5");

    for (const char* no : {"false", "null", "0", R"("")", "[]", "{}"}) {
        std::string body = R"({"project_id": 7.9, "mount_volumes": )" + std::string(no) + "}";
        expect_json_answer(server_.post(kProjects, body), 200, R"({"success": true})");
    }
    EXPECT_EQ(platform_.calls("GET", "/v1/projects/7"), 6);
    EXPECT_EQ(mounts("7"), 0);
    EXPECT_EQ(veyra_settings().VEYRA_PROJECT_ID, "7");

    expect_json_answer(server_.post(kProjects, R"({"project_id": true, "mount_volumes": "yes"})"),
                       200, R"({"success": true})");
    EXPECT_EQ(mounts("1"), 1);

    EXPECT_EQ(server_.post(kProjects, R"({"project_id": "5"})").status, 500);
    EXPECT_EQ(server_.post(kProjects, "").status, 500);
}

TEST_F(ProjectPick, AFailedMountKeepsTheSelection) {
    platform_.answer("POST", "/v1/projects/5/datasets/mount", 409,
                     R"({"message": "Volumes busy"})");
    expect_json_answer(server_.post(kProjects, R"({"project_id": 5})"), 409,
                       R"({"error": "Volumes busy"})");
    EXPECT_EQ(veyra_settings().VEYRA_PROJECT_ID, "5");

    veyra_settings().VEYRA_PROJECT_ID.reset();
    test_support::ScopedPlatformTimeouts short_timeouts(300ms);
    platform_.hang("POST", "/v1/projects/5/datasets/mount");
    expect_json_answer(server_.post(kProjects, R"({"project_id": 5})"), 502,
                       R"({"error": "Veyra URL is invalid."})");
    EXPECT_EQ(veyra_settings().VEYRA_PROJECT_ID, "5");
}

TEST_F(ProjectPick, ARefusedSelectionIsReportedUnderError) {
    platform_.answer("GET", "/v1/projects/9", 404,
                     R"({"code": "NotFound", "message": "No project 9"})");
    expect_json_answer(server_.post(kProjects, R"({"project_id": 9})"), 404,
                       R"({"error": "No project 9"})");
    EXPECT_EQ(mounts("9"), 0);
    expect_json_answer(server_.post(kProjects, R"({"project_id": null})"), 500,
                       R"({"error": "No Veyra project id was given."})");
}

}  // namespace
