// Listing and selecting model registries through the running server, against a platform on
// loopback.

#include <gtest/gtest.h>

#include "support/fake_platform.hpp"
#include "support/test_server.hpp"
#include "veyra/client/veyra_settings.hpp"

namespace {

using test_support::expect_json_answer;
using test_support::FakePlatform;
using test_support::HttpResponse;
using test_support::TestServer;
using veyra::client::veyra_settings;

constexpr const char* kRegistries = "/nuvex-link/veyra/model-registries";

class RegistryPick : public testing::Test {
protected:
    void SetUp() override { platform_.log_in_client(); }

    FakePlatform platform_;
    TestServer server_;
};

TEST_F(RegistryPick, ListsTheRegistries) {
    expect_json_answer(server_.get(kRegistries), 200, R"([{"id": 3, "name": "Main"}])");
    platform_.answer("GET", "/v1/workspaces/5/model-registries", 200, "[]");
    expect_json_answer(server_.get(kRegistries), 200, "[]");
    platform_.answer("GET", "/v1/workspaces/5/model-registries", 401, "");
    expect_json_answer(server_.get(kRegistries), 401, R"({"error": "Unauthorized"})");
    veyra_settings().VEYRA_API_SERVER_URL = "127.0.0.1:1";
    expect_json_answer(server_.get(kRegistries), 502, R"({"error": "Veyra URL is invalid."})");
}

TEST_F(RegistryPick, SelectsOneRegistry) {
    expect_json_answer(
        server_.post(kRegistries, R"({"mount_volumes": true})"), 400,
        R"({"message": "model_registry_id is required in the body of the request."})");
    expect_json_answer(
        server_.post(kRegistries, R"({"model_registry_id": 3, "mount_volumes": true})"), 200,
        R"({"success": true})");
    EXPECT_EQ(platform_.calls("GET", "/v1/model-registries/3"), 1);
    EXPECT_EQ(veyra_settings().VEYRA_MODEL_REGISTRY_ID, "3");
    EXPECT_EQ(platform_.calls("POST", "/v1/projects/5/datasets/mount"), 0);

    expect_json_answer(server_.post(kRegistries, R"({"model_registry_id": 4.5})"), 200,
                       R"({"success": true})");
    EXPECT_EQ(platform_.calls("GET", "/v1/model-registries/4"), 1);

    platform_.answer("GET", "/v1/model-registries/6", 404, R"({"message": "No registry 6"})");
    expect_json_answer(server_.post(kRegistries, R"({"model_registry_id": 6})"), 404,
                       R"({"error": "No registry 6"})");
    EXPECT_EQ(veyra_settings().VEYRA_MODEL_REGISTRY_ID, "4");

    veyra_settings().VEYRA_API_SERVER_URL = "127.0.0.1:1";
    expect_json_answer(server_.post(kRegistries, R"({"model_registry_id": 3})"), 502,
                       R"({"error": "Veyra URL is invalid."})");
    EXPECT_EQ(server_.post(kRegistries, R"({"model_registry_id": [3]})").status, 500);
}

}  // namespace
