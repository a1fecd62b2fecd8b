#include "cache/cache_export_handler.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <boost/json/parse.hpp>
#include <cstring>
#include <iostream>
#include <random>
#include <string>

#include "support/pipelines.hpp"
#include "support/read_archive.hpp"
#include "support/test_server.hpp"

namespace fs = std::filesystem;
using namespace test_support;
using cache::attachment_disposition;
using cache::notebook_stem;

namespace {

// Points the system's temporary location at a folder of the test, to see what is left in it.
class ScopedTmpdir {
public:
    ScopedTmpdir() : folder_("tmpdir") { ::setenv("TMPDIR", folder_.path().c_str(), 1); }
    ~ScopedTmpdir() { ::unsetenv("TMPDIR"); }
    bool empty() const { return fs::is_empty(folder_.path()); }

private:
    TempDir folder_;
};

std::vector<std::string> drain(WebSocketClient& client) {
    std::vector<std::string> messages;
    while (auto message = client.read(std::chrono::milliseconds(300))) messages.push_back(*message);
    return messages;
}

std::string progress(std::string_view status, int percent) {
    return "{\"procedure\": \"export:cache\", \"msg\": {\"status\": \"" + std::string(status) +
           "\", \"progress\": " + std::to_string(percent) + "}}";
}

std::string export_target(std::string_view kernel_id) {
    return "/nuvex-link/cache/export?kernel_id=" + std::string(kernel_id) +
           "&ipynb_name=work%2FMy%20Notebook.ipynb";
}

}  // namespace

TEST(CacheExportNames, StemAndDisposition) {
    EXPECT_EQ(notebook_stem("work/My Notebook.ipynb"), "My Notebook");
    EXPECT_EQ(notebook_stem("a.b.ipynb"), "a.b");
    EXPECT_EQ(notebook_stem("dir.d/noext"), "noext");
    EXPECT_EQ(notebook_stem(".hidden"), ".hidden");
    EXPECT_EQ(notebook_stem("..x.ipynb"), "..x");
    EXPECT_EQ(notebook_stem("..."), "...");
    EXPECT_EQ(notebook_stem("work/"), "");
    EXPECT_EQ(attachment_disposition("My Notebook-diskcache.tar.gz"),
              "attachment; filename=My%20Notebook-diskcache.tar.gz");
    EXPECT_EQ(attachment_disposition("d/caf\xc3\xa9~_;\"x"),
              "attachment; filename=d/caf%C3%A9~_%3B%22x");
}

TEST(CacheExport, RefusalsSendNoProgress) {
    TestServer server;
    store_pipeline(server, "empty", pipeline_of_shapes({}, {}));
    store_pipeline(
        server, "uncached",
        pipeline_of_shapes(
            {{"a", "/x", "successful", "not_cached"}, {"b", "/x", "failed", "cached"}}, {}));
    WebSocketClient empty_client(server, "empty");
    WebSocketClient uncached_client(server, "uncached");

    struct Case {
        std::string target;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {"/nuvex-link/cache/export?ipynb_name=a.ipynb", 400,
         "kernel_id is required in the parameters of the query."},
        {"/nuvex-link/cache/export?kernel_id=empty", 400,
         "ipynb_name is required in the parameters of the query."},
        {"/nuvex-link/cache/export?kernel_id=nope&ipynb_name=a.ipynb", 500,
         "kernel_id: 'nope' not valid."},
        {"/nuvex-link/cache/export?kernel_id=empty&ipynb_name=a.ipynb", 500,
         "There are no components in this pipeline."},
        {"/nuvex-link/cache/export?kernel_id=uncached&ipynb_name=a.ipynb", 500,
         "There is no cache to export in this pipeline. Please run at least one component."},
    };
    for (const auto& c : cases) {
        auto response = server.get(c.target);
        EXPECT_EQ(response.status, c.status) << c.target;
        const std::string body = "{\"message\": \"" + c.message + "\"}";
        EXPECT_EQ(response.body, body) << c.target;
        EXPECT_EQ(response.header("Content-Length"), std::to_string(body.size()));
        EXPECT_EQ(response.header("Content-Type"), "application/json");
    }
    EXPECT_TRUE(drain(empty_client).empty());
    EXPECT_TRUE(drain(uncached_client).empty());
}

TEST(CacheExport, DownloadsTheCachedComponentsWithProgress) {
    ScopedTmpdir tmpdir;
    TestServer server;
    const fs::path caches = server.scratch() / "caches";
    write_file(caches / "first-a" / "old.bin", "old");
    write_file(caches / "a" / "result.pkl", std::string(5000, 'r'));
    write_file(caches / "a" / "nested" / "caf\xc3\xa9.csv", "1,2\n");
    fs::create_directories(caches / "a" / "empty");
    fs::create_symlink("nested/caf\xc3\xa9.csv", caches / "a" / "latest");
    write_file(caches / "b" / "b.bin", "bee");
    write_file(caches / "skipped" / "s.bin", "no");

    store_pipeline(
        server, "k",
        pipeline_of_shapes({{"a", (caches / "first-a").string()},
                            {"b", (caches / "b").string(), "successful", "cached", {"a"}},
                            {"n", (caches / "skipped").string(), "failed", "cached"},
                            {"c", std::nullopt, "successful", "cached", {"a", "b"}},
                            {"a", (caches / "a").string()}},
                           {}));
    WebSocketClient client(server, "k");

    auto response = server.get(export_target("k"));
    ASSERT_EQ(response.status, 200) << response.body;
    EXPECT_EQ(response.header("Content-Type"), "application/octet-stream");
    EXPECT_EQ(response.header("Content-Disposition"),
              "attachment; filename=My%20Notebook-diskcache.tar.gz");
    EXPECT_EQ(response.header("Content-Length"), std::to_string(response.body.size()));

    auto entries = read_archive(response.body);
    std::vector<std::string> names;
    for (const auto& entry : entries) names.push_back(entry.name);
    EXPECT_EQ(names,
              (std::vector<std::string>{
                  "pipeline.json", "component-a/", "component-a/empty/", "component-a/latest",
                  "component-a/nested/", "component-a/nested/caf\xc3\xa9.csv",
                  "component-a/result.pkl", "component-b/", "component-b/b.bin"}));
    EXPECT_EQ(find_entry(entries, "component-a/result.pkl")->data, std::string(5000, 'r'));
    EXPECT_EQ(find_entry(entries, "component-a/latest")->link_target, "nested/caf\xc3\xa9.csv");
    EXPECT_EQ(find_entry(entries, "component-b/b.bin")->data, "bee");

    // The later "a" replaced the earlier one in its place; "c" is listed without a folder.
    auto record = [](std::string_view id, std::string cache_dir, std::string_view parent_ids) {
        return "\"" + std::string(id) + "\": {\"component_name\": \"cell " + std::string(id) +
               "\", \"component_metadata\": {\"tags\": [\"t-" + std::string(id) +
               "\"]}, \"component_cell_code\": \"x = '" + std::string(id) +
               "'\\n\", \"component_cache_dir\": " + cache_dir +
               ", \"execution_status\": \"successful\", \"parent_ids\": " +
               std::string(parent_ids) + "}";
    };
    EXPECT_EQ(find_entry(entries, "pipeline.json")->data,
              "{" + record("a", "\"" + (caches / "a").string() + "\"", "[]") + ", " +
                  record("b", "\"" + (caches / "b").string() + "\"", "[\"a\"]") + ", " +
                  record("c", "null", "[\"a\", \"b\"]") + "}");

    auto messages = drain(client);
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ(messages.front(), progress("invalid", 0));
    EXPECT_EQ(messages[1], progress("running", 0));
    EXPECT_EQ(messages.back(), progress("successful", 100));
    int last = 0;
    for (std::size_t i = 2; i + 1 < messages.size(); ++i) {
        auto msg = boost::json::parse(messages[i]).at("msg").as_object();
        EXPECT_EQ(msg.at("status").as_string(), "running");
        EXPECT_GT(msg.at("progress").as_int64(), last);
        last = static_cast<int>(msg.at("progress").as_int64());
    }
    EXPECT_TRUE(tmpdir.empty());
}

TEST(CacheExport, FailuresAfterTheFirstPushAnswer500AndLeaveNothing) {
    ScopedTmpdir tmpdir;
    TestServer server;
    write_file(server.scratch() / "file", "x");
    const std::string unreadable = (server.scratch() / "file" / "cache").string();
    const std::string vanished = (server.scratch() / "vanished").string();
    write_file(server.scratch() / "good" / "g.bin", "g");
    const std::string good = (server.scratch() / "good").string();
    store_pipeline(server, "unreadable", pipeline_of_shapes({{"a", good}, {"b", unreadable}}, {}));
    // A folder missing when the archive is written measures 0 but cannot be archived.
    store_pipeline(server, "vanished", pipeline_of_shapes({{"a", good}, {"b", vanished}}, {}));

    for (const auto& [kernel_id, path] :
         {std::pair{"unreadable", unreadable}, std::pair{"vanished", vanished}}) {
        WebSocketClient client(server, kernel_id);
        auto response = server.get(export_target(kernel_id));
        EXPECT_EQ(response.status, 500) << kernel_id;
        EXPECT_FALSE(response.has_header("Content-Disposition"));
        auto message = std::string(response.json().at("message").as_string());
        EXPECT_NE(message.find(path), std::string::npos) << message;
        EXPECT_EQ(response.header("Content-Length"), std::to_string(response.body.size()));

        auto messages = drain(client);
        ASSERT_GE(messages.size(), 2u) << kernel_id;
        EXPECT_EQ(messages.front(), progress("invalid", 0));
        EXPECT_EQ(messages.back(), progress("failed", 0));
        for (const auto& text : messages) {
            EXPECT_EQ(text.find("successful\""), std::string::npos) << text;
        }
        EXPECT_TRUE(tmpdir.empty()) << kernel_id;
    }
}

TEST(CacheExport, FiftyMegabyteCacheArrivesIntact) {
    TestServer server;
    std::mt19937_64 random(11);
    std::string noise(30'000'000, '\0');
    for (std::size_t i = 0; i + 8 <= noise.size(); i += 8) {
        const std::uint64_t word = random();
        std::memcpy(noise.data() + i, &word, 8);
    }
    std::string text;
    while (text.size() < 20'000'000) text += "id," + std::to_string(text.size()) + ",label\n";
    const fs::path cache = server.scratch() / "big";
    write_file(cache / "noise.bin", noise);
    write_file(cache / "table.csv", text);
    store_pipeline(server, "big", pipeline_of_shapes({{"a", cache.string()}}, {}));

    auto response = server.get(export_target("big"));
    ASSERT_EQ(response.status, 200);
    auto entries = read_archive(response.body);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_TRUE(find_entry(entries, "component-a/noise.bin")->data == noise);
    EXPECT_TRUE(find_entry(entries, "component-a/table.csv")->data == text);
}

TEST(CacheExport, ProgressOfAnExportThatTakesSeveralPollsLiesBetweenTheEnds) {
    TestServer server;
    // Incompressible, so the archive grows as the estimate says: random blocks longer than
    // the compressor's 32 KiB window, repeated. A cache that is written before the first
    // poll shows no progress between the ends; a larger one is tried then.
    std::mt19937_64 random(5);
    std::string block(1 << 20, '\0');
    for (std::size_t i = 0; i + 8 <= block.size(); i += 8) {
        const std::uint64_t word = random();
        std::memcpy(block.data() + i, &word, 8);
    }
    const fs::path cache = server.scratch() / "cache";
    for (const int megabytes : {48, 192}) {
        std::string data;
        data.reserve(static_cast<std::size_t>(megabytes) << 20);
        for (int i = 0; i < megabytes; ++i) data += block;
        write_file(cache / "data.bin", data);
        data.clear();
        store_pipeline(server, "k", pipeline_of_shapes({{"a", cache.string()}}, {}));
        WebSocketClient client(server, "k");
        ASSERT_EQ(server.get(export_target("k")).status, 200);

        std::vector<std::int64_t> running;
        for (const auto& message : drain(client)) {
            const auto msg = boost::json::parse(message).at("msg").as_object();
            if (msg.at("status") == "running") running.push_back(msg.at("progress").as_int64());
        }
        ASSERT_FALSE(running.empty());
        EXPECT_EQ(running.front(), 0);
        const bool between = std::any_of(running.begin(), running.end(),
                                         [](std::int64_t p) { return p > 0 && p < 100; });
        if (between) return;
        std::cout << "no progress between 0 and 100 with " << megabytes << " MB\n";
    }
    ADD_FAILURE() << "no \"running\" progress strictly between 0 and 100";
}
