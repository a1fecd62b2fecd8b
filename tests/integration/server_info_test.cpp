// The server-info route through the real server, reading the runtime file that server wrote.

#include <gtest/gtest.h>
#include <unistd.h>

#include <boost/json.hpp>
#include <filesystem>
#include <string>

#include "base/json_io/json_text.hpp"
#include "host/jupyter/runtime_dir.hpp"
#include "support/temp_dir.hpp"
#include "support/test_server.hpp"

namespace {

namespace fs = std::filesystem;
namespace json = boost::json;
using test_support::HttpResponse;
using test_support::TestServer;

constexpr std::string_view kInfo = "/nuvex-link/server/info";

fs::path own_runtime_file(const TestServer& server, std::string_view prefix) {
    return server.runtime_dir() / (std::string(prefix) + std::to_string(::getpid()) + ".json");
}

TEST(ServerInfo, AnswersTheServersOwnRuntimeRecordAndTheCookies) {
    TestServer server;
    const HttpResponse answer = server.get(std::string(kInfo));
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(answer.header("Content-Type"), "application/json");
    EXPECT_EQ(answer.header("Content-Length"), std::to_string(answer.body.size()));
    const json::object info = answer.json().as_object();

    std::vector<std::string> keys;
    for (const auto& field : info) keys.emplace_back(field.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"base_url", "hostname", "password", "pid", "port",
                                              "root_dir", "secure", "sock", "token", "url",
                                              "version", "cookie"}));
    EXPECT_EQ(info.at("port"), server.port());
    EXPECT_EQ(info.at("pid"), ::getpid());
    EXPECT_EQ(info.at("token"), json::value(server.token()));
    EXPECT_EQ(info.at("root_dir"), json::value(fs::absolute(server.root_dir()).string()));
    EXPECT_EQ(info.at("version"), json::value(host::server_version()));
    EXPECT_EQ(info.at("password"), false);
    EXPECT_EQ(info.at("cookie"), "");

    const HttpResponse with_cookies =
        server.request("GET", kInfo, "", {{"Cookie", "b=2; a=1;c=x y"}});
    ASSERT_EQ(with_cookies.status, 200) << with_cookies.body;
    EXPECT_EQ(with_cookies.json().at("cookie"), "b=2; a=1; c=x y");
}

TEST(ServerInfo, OlderServersFileAndMissingFile) {
    TestServer server;
    const fs::path current = own_runtime_file(server, "jpserver-");
    fs::remove(current);

    test_support::write_file(own_runtime_file(server, "nbserver-"),
                             R"({"notebook_dir": "/nb", "port": 9, "token": "old"})");
    const HttpResponse older = server.get(std::string(kInfo));
    ASSERT_EQ(older.status, 200) << older.body;
    EXPECT_EQ(older.body,
              R"({"base_url": null, "hostname": null, "password": null, "pid": null, )"
              R"("port": 9, "root_dir": "/nb", "secure": null, "sock": null, "token": "old", )"
              R"("url": null, "version": )" +
                  json_io::to_json_text(json::string(host::server_version())) +
                  R"(, "cookie": ""})");

    fs::remove(own_runtime_file(server, "nbserver-"));
    const HttpResponse missing = server.get(std::string(kInfo));
    EXPECT_EQ(missing.status, 500);
    EXPECT_EQ(missing.body, R"({"message": "Failed to get information."})");
}

}  // namespace
