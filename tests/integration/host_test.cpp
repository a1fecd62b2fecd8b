// The host's own behaviour through a real server: token checks, its error answers, framing.

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <filesystem>

#include "support/test_server.hpp"

namespace {

using test_support::TestServer;

TEST(Host, TokenIsRequiredOnEveryRouteAndUpgrade) {
    TestServer server;
    const std::string forbidden = R"({"message": "Forbidden", "reason": null})";
    auto answer = server.get("/nuvex-link/kernels/k1", false);
    EXPECT_EQ(answer.status, 403);
    EXPECT_EQ(answer.body, forbidden);
    EXPECT_EQ(server.get("/nuvex-link/kernels/k1?token=wrong", false).status, 403);
    EXPECT_EQ(server.get("/nuvex-link/kernels/k1?token=" + server.token() + "x", false).status,
              403);
    EXPECT_EQ(server.post("/nuvex-link/kernels/k1", "{}", false).status, 403);

    for (const char* scheme : {"token ", "Bearer "}) {
        answer = server.request("GET", "/nuvex-link/kernels/k1", "",
                                {{"Authorization", std::string(scheme) + server.token()}}, false);
        EXPECT_EQ(answer.status, 400) << scheme;  // let in; no pipeline stored
    }
    EXPECT_ANY_THROW(test_support::WebSocketClient(server, "k1", false));
    test_support::WebSocketClient allowed(server, "k1");
}

TEST(Host, OwnAnswersForBadRequests) {
    TestServer server;
    auto answer = server.get("/nuvex-link/nowhere");
    EXPECT_EQ(answer.status, 404);
    EXPECT_EQ(answer.body, R"({"message": "Not Found", "reason": null})");
    EXPECT_EQ(server.get("/elsewhere/kernels/k1").status, 404);

    answer = server.request("DELETE", "/nuvex-link/kernels/k1", "");
    EXPECT_EQ(answer.status, 405);
    EXPECT_EQ(answer.body, R"({"message": "Method Not Allowed", "reason": null})");

    answer = server.post("/nuvex-link/kernels/k1", "{not json");
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(answer.body, R"({"message": "Invalid JSON in body of request", "reason": null})");
    EXPECT_EQ(answer.header("Content-Type"), "application/json");

    answer = server.post("/nuvex-link/kernels/k1", std::string((64u << 20) + 1, ' '));
    EXPECT_EQ(answer.status, 413);

    // Valid JSON of the wrong shape is a fault no handler foresees: the generic answer.
    answer = server.post("/nuvex-link/kernels/k1", "[1, 2]");
    EXPECT_EQ(answer.status, 500);
    EXPECT_EQ(answer.json().at("message"), "Unhandled error");
    EXPECT_FALSE(answer.json().at("reason").as_string().empty());

    // The server keeps serving after all of that.
    EXPECT_EQ(server.get("/nuvex-link/kernels/k1").status, 400);
}

TEST(Host, RuntimeFileLivesWithTheServer) {
    std::filesystem::path runtime_file;
    {
        TestServer server;
        for (const auto& entry : std::filesystem::directory_iterator(server.runtime_dir())) {
            if (entry.path().filename().string().starts_with("jpserver-")) runtime_file = entry;
        }
        ASSERT_FALSE(runtime_file.empty());
        const auto info = boost::json::parse(test_support::read_file(runtime_file)).as_object();
        EXPECT_EQ(info.at("port").to_number<int>(), server.port());
        EXPECT_EQ(info.at("token").as_string(), server.token());
        EXPECT_EQ(info.at("base_url"), "/");
        EXPECT_EQ(std::filesystem::status(runtime_file).permissions() & std::filesystem::perms::all,
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
    EXPECT_FALSE(std::filesystem::exists(runtime_file));
}

TEST(Host, BaseUrlPrefixesEveryRoute) {
    TestServer server([](app::CommandLine& line) { line.base_url = "/lab/"; });
    EXPECT_EQ(server.get("/nuvex-link/kernels/k1").status, 404);
    EXPECT_EQ(server.get("/lab/nuvex-link/kernels/k1").status, 400);
}

}  // namespace
