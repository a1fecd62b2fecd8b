// The dataset diff route through the real server, with real rsync runs over real folders.

#include <gtest/gtest.h>

#include <algorithm>
#include <boost/json.hpp>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/json_io/json_text.hpp"
#include "support/slow_rsync.hpp"
#include "support/temp_dir.hpp"
#include "support/test_server.hpp"

namespace {

namespace fs = std::filesystem;
namespace json = boost::json;
using test_support::expect_json_answer;
using test_support::HttpResponse;
using test_support::TestServer;

const std::string kDiff = "/nuvex-link/veyra/dataset/diff";

// A file with a fixed modification time, so that equal files compare equal.
void put(const fs::path& path, std::string_view text) {
    static const auto when = fs::file_time_type::clock::now() - std::chrono::hours(24);
    test_support::write_file(path, text);
    fs::last_write_time(path, when);
}

// Dataset `name` stored as `version` and "latest", staged with one file added, one edited and
// one dropped.
void make_dataset(const fs::path& root, const std::string& name, const std::string& version) {
    for (const std::string& stored : {version, std::string("latest")}) {
        const fs::path store = root / "dataset" / name / stored;
        put(store / "same.csv", "1,2");
        put(store / "edit.csv", "3");
        put(store / "gone.csv", "4");
    }
    const fs::path staged = root / "dataset-staged" / name;
    put(staged / "same.csv", "1,2");
    put(staged / "edit.csv", "3,4,5");
    put(staged / "new.csv", "6");
}

std::string entry_text(std::string_view name, int version) {
    return R"({"dataset_name": )" + json_io::to_json_text(json::string(name)) +
           R"(, "current_version": )" + std::to_string(version) +
           R"(, "changes": [{"path": "gone.csv", "status": "deleted"}, )"
           R"({"path": "edit.csv", "status": "edited"}, {"path": "new.csv", "status": "added"}]})";
}

std::string message_text(const std::string& message) {
    return R"({"message": )" + json_io::to_json_text(json::string(message)) + "}";
}

// rsync after a delay chosen by the dataset's name ("slow1", "slow2"); "not-utf8" prints a
// name that is not UTF-8 instead.
test_support::SlowRsync slow_rsync_path() {
    return test_support::SlowRsync(
        "case \"$7\" in *slow2*) sleep 2;; *slow1*) sleep 1;; *) sleep 0.2;; esac\n"
        "case \"$7\" in *not-utf8*) printf '>f+++++++++ \\377\\n'; exit 0;; esac");
}

TEST(DatasetDiff, AllDatasetsInFinishingOrderAtMostEightAtOnce) {
    const auto slow_rsync = slow_rsync_path();
    TestServer server;
    const fs::path root = fs::absolute(server.root_dir());
    expect_json_answer(server.get(kDiff), 200,
                       message_text((root / "dataset").string() + " does not exist."));
    // Files and folders whose names begin with "." are not datasets.
    fs::create_directories(root / "dataset" / ".hidden");
    put(root / "dataset" / "notes.txt", "x");
    expect_json_answer(server.get(kDiff), 200, R"({"datasets": []})");

    make_dataset(root, "a-slow1", "v3");
    for (int i = 0; i < 10; ++i) make_dataset(root, "my  data " + std::to_string(i), "v10");
    const HttpResponse answer = server.get(kDiff);
    ASSERT_EQ(answer.status, 200) << answer.body;
    const json::array datasets = answer.json().at("datasets").as_array();
    ASSERT_EQ(datasets.size(), 11u) << answer.body;
    EXPECT_EQ(json_io::to_json_text(datasets.back()), entry_text("a-slow1", 3));  // finished last
    EXPECT_EQ(json_io::to_json_text(datasets.front()),
              entry_text(datasets.front().at("dataset_name").as_string(), 10));
    EXPECT_LE(slow_rsync.most_at_once(), 8);
    EXPECT_GE(slow_rsync.most_at_once(), 2);
}

TEST(DatasetDiff, FailedRunAnswers500WithTheEntriesFinishedBeforeIt) {
    const auto slow_rsync = slow_rsync_path();
    TestServer server;
    const fs::path root = fs::absolute(server.root_dir());
    make_dataset(root, "quick", "v1");
    make_dataset(root, "z-slow2", "v1");  // succeeds, but after the failure: not reported
    fs::create_directories(root / "dataset" / "no-staging-slow1" / "v1");

    const HttpResponse answer = server.get(kDiff);
    EXPECT_EQ(answer.status, 500);
    const json::object body = answer.json().as_object();
    ASSERT_EQ(body.size(), 2u) << answer.body;
    EXPECT_EQ(body.begin()->key(), "message");
    EXPECT_NE(body.at("message").as_string().find("dataset-staged/no-staging-slow1"),
              json::string::npos);
    EXPECT_EQ(json_io::to_json_text(body.at("datasets")), "[" + entry_text("quick", 1) + "]");
}

TEST(DatasetDiff, OutputThatIsNotUtf8FailsTheRequestInsteadOfDroppingTheDataset) {
    const auto slow_rsync = slow_rsync_path();
    TestServer server;
    make_dataset(fs::absolute(server.root_dir()), "quick", "v1");
    make_dataset(fs::absolute(server.root_dir()), "not-utf8", "v1");
    const HttpResponse answer = server.get(kDiff);
    EXPECT_EQ(answer.status, 500);
    EXPECT_NE(answer.body.find("is not valid UTF-8"), std::string::npos) << answer.body;
}

TEST(DatasetDiff, SingleDatasetAnswersAndUnsafeNames) {
    TestServer server;
    const fs::path root = fs::absolute(server.root_dir());
    make_dataset(root, "my  data", "v2");
    make_dataset(root, "a;touch x", "v007");
    fs::create_directories(root / "dataset" / "no-staging" / "v1");

    const auto single = [&](std::string_view name) {
        return server.get(kDiff + "?dataset_name=" + std::string(name));
    };
    expect_json_answer(single("my%20%20data"), 200, entry_text("my  data", 2));
    expect_json_answer(single("a%3Btouch%20x"), 200, entry_text("a;touch x", 7));
    EXPECT_FALSE(fs::exists(root / "x") || fs::exists("x"));  // nothing ran through a shell
    expect_json_answer(single("dogs"), 200,
                       message_text((root / "dataset" / "dogs").string() + " does not exist."));
    const HttpResponse failed = single("no-staging");
    EXPECT_EQ(failed.status, 500);
    EXPECT_NE(failed.json().at("message").as_string().find("dataset-staged/no-staging"),
              json::string::npos)
        << failed.body;
    // An empty name is the store itself.
    EXPECT_EQ(single("").json().at("dataset_name"), "");

    for (const char* name : {"..", "my%20%20data%2F..", "%2Fetc", "a/b", "cats%00"}) {
        expect_json_answer(single(name), 400, R"({"message": "Invalid dataset name."})");
    }
}

}  // namespace
