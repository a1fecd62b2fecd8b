#include <gtest/gtest.h>

#include <boost/json/serialize.hpp>
#include <string>

#include "support/pipelines.hpp"
#include "support/test_server.hpp"

namespace fs = std::filesystem;
using namespace test_support;

TEST(CacheInfo, AllPipelinesReportTheWholePipelinesFolder) {
    TestServer server;
    write_file(server.temp_dir() / "pipelines" / "k1" / "a.bin", std::string(300, 'a'));
    write_file(server.temp_dir() / "pipelines" / "k2" / "sub" / "b.bin", std::string(45, 'b'));

    for (const char* target : {"/nuvex-link/cache/info", "/nuvex-link/cache/info?kernel_id="}) {
        auto response = server.get(target);
        EXPECT_EQ(response.status, 200) << target;
        EXPECT_EQ(response.body, "{\"cache_size\": \"345B\"}") << target;
        EXPECT_EQ(response.header("Content-Type"), "application/json");
    }
}

TEST(CacheInfo, AllPipelinesUnreadableIs500) {
    TestServer server;
    // The temporary folder replaced by a file: its "pipelines" cannot be walked.
    fs::remove_all(server.temp_dir());
    write_file(server.temp_dir(), "not a folder");

    auto response = server.get("/nuvex-link/cache/info");
    EXPECT_EQ(response.status, 500);
    EXPECT_EQ(response.body, "{\"message\": \"Fail to estimate cache size\"}");
}

TEST(CacheInfo, OneKernelCountsOnlySuccessfulCachedComponents) {
    TestServer server;
    const fs::path caches = server.scratch() / "caches";
    write_file(caches / "ok" / "data.bin", std::string(1000, 'x'));
    write_file(caches / "ok" / "nested" / "more.bin", std::string(24, 'y'));
    write_file(caches / "other" / "data.bin", std::string(7000, 'z'));
    const std::string ok = (caches / "ok").string();
    const std::string other = (caches / "other").string();

    store_pipeline(server, "k-1",
                   pipeline_of_shapes({{"a", ok},
                                       {"no-dir", std::nullopt},
                                       {"failed", other, "failed", "cached"},
                                       {"not-cached", other, "successful", "not_cached"},
                                       {"null-status", other, std::nullopt, "cached"},
                                       {"again", ok}},
                                      "/tmp/pipelines/k-1"));
    auto response = server.get("/nuvex-link/cache/info?kernel_id=k-1");
    EXPECT_EQ(response.status, 200);
    // The same folder listed twice counts twice.
    EXPECT_EQ(response.body, "{\"cache_dir\": \"/tmp/pipelines/k-1\", \"cache_size\": \"2048B\"}");

    store_pipeline(server, "k-empty", pipeline_of_shapes({{"x", other, "running", "cached"}}, {}));
    response = server.get("/nuvex-link/cache/info?kernel_id=k-empty");
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, "{\"cache_dir\": null, \"cache_size\": \"0B\"}");
}

TEST(CacheInfo, UnknownKernelAndUnreadableComponent) {
    TestServer server;
    auto response = server.get("/nuvex-link/cache/info?kernel_id=nope%20x");
    EXPECT_EQ(response.status, 400);
    EXPECT_EQ(response.body, "{\"message\": \"kernel_id nope x is not valid.\"}");

    write_file(server.scratch() / "file", "x");
    const std::string through_file = (server.scratch() / "file" / "cache").string();
    store_pipeline(server, "k-bad", pipeline_of_shapes({{"a", through_file}}, {}));
    response = server.get("/nuvex-link/cache/info?kernel_id=k-bad");
    EXPECT_EQ(response.status, 500);
    auto message = std::string(response.json().at("message").as_string());
    EXPECT_NE(message.find(through_file), std::string::npos) << message;
}
