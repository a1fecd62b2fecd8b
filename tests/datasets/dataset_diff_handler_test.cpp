#include "datasets/dataset_diff_handler.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/temp_dir.hpp"

namespace datasets {
namespace {

namespace fs = std::filesystem;
using Handler = DataSetDiffBaseHandler;
using Changes = std::vector<FileChange>;

const std::string kPrefix =
    "rsync -aui --dry-run --delete --exclude=.nuvex-link-logs --exclude=.ipynb_checkpoints ";

TEST(ParseFileChanges, ClassifiesItemizedLinesInOutputOrder) {
    const std::string output =
        ">f+++++++++ samples/0001.jpeg\n"
        "*deleting   samples/0002.jpeg\n"
        ">f.st...... samples/0003.jpeg\n"
        "cd+++++++++ samples/\n"
        ".d..t...... ./\n"
        ".f...p..... a.txt\n"
        "\n"
        "   \t \n"
        ">f+++++++++ my  file.txt\n"
        "cL+++++++++ link -> target\n"
        ">f.st...... samples/0003.jpeg\n";
    EXPECT_EQ(Handler::parse_file_changes(output), (Changes{{"samples/0001.jpeg", "added"},
                                                            {"samples/0002.jpeg", "deleted"},
                                                            {"samples/0003.jpeg", "edited"},
                                                            {"samples/", "added"},
                                                            {"my file.txt", "added"},
                                                            {"link -> target", "added"},
                                                            {"samples/0003.jpeg", "edited"}}));
}

TEST(ParseFileChanges, BlankOutputsAndWhiteSpaceRuns) {
    EXPECT_TRUE(Handler::parse_file_changes("").empty());
    EXPECT_TRUE(Handler::parse_file_changes("\n\n\n").empty());
    EXPECT_TRUE(Handler::parse_file_changes(" \t\r\n\v\f \n").empty());
    // No trailing line feed, tabs and a carriage return inside, a no-break space (U+00A0) and
    // an ideographic space (U+3000) between words: each run becomes one blank.
    EXPECT_EQ(Handler::parse_file_changes("  >f+++++++++\tmy \t file\xC2\xA0"
                                          "x\xE3\x80\x80y.txt \r"),
              (Changes{{"my file x y.txt", "added"}}));
    // A non-blank Unicode character is kept as it is.
    EXPECT_EQ(Handler::parse_file_changes(">f.s....... caf\xC3\xA9.txt\n"),
              (Changes{{"caf\xC3\xA9.txt", "edited"}}));
    EXPECT_EQ(Handler::parse_file_changes(">f+++++++++\n"), (Changes{{"", "added"}}));
}

TEST(ParseFileChanges, FailsOnALineItCannotClassify) {
    EXPECT_EQ(Handler::parse_file_changes(".x a\n*del b\n*deleting c\n"),
              (Changes{{"b", "deleted"}, {"c", "deleted"}}));
    try {
        Handler::parse_file_changes(">f+++++++++ a\nab name\n");
        FAIL() << "classified a two-character code";
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "Cannot classify the rsync output line \"ab name\"");
    }
    EXPECT_THROW(Handler::parse_file_changes("*d x"), std::runtime_error);
}

class DatasetFolders : public ::testing::Test {
protected:
    void put(const fs::path& relative) { test_support::write_file(base() / relative, ""); }
    void make_dir(const fs::path& relative) { fs::create_directories(base() / relative); }
    const fs::path& base() const { return folder_.path(); }

    test_support::TempDir folder_;
};

TEST_F(DatasetFolders, CurrentVersionCountsOnlyVFollowedByDigits) {
    for (const char* name : {"v1", "v2", "v10", "latest", "v", "v1a", "version", ".v30"}) {
        make_dir(fs::path("dataset/cats") / name);
    }
    put("dataset/cats/v007");  // a file counts as well
    put("dataset/dogs/latest/x");
    make_dir("dataset/empty");
    const std::string store = (base() / "dataset").string();
    EXPECT_EQ(Handler::current_version(store, "cats"), 10);
    EXPECT_EQ(Handler::current_version(store, "dogs"), 0);
    EXPECT_EQ(Handler::current_version(store, "empty"), 0);
    put("dataset/small/v007");
    EXPECT_EQ(Handler::current_version(store, "small"), 7);
    EXPECT_THROW(Handler::current_version(store, "missing"), fs::filesystem_error);
}

TEST_F(DatasetFolders, RsyncCommandPrefersLatestThenV1ThenTheStoreItself) {
    const std::string b = base().string();
    make_dir("dataset/cats/latest");
    make_dir("dataset/cats/v1");
    make_dir("dataset/dogs/v1");
    make_dir("dataset/birds/v2");
    EXPECT_EQ(Handler::rsync_cmd(b, "cats").text(),
              kPrefix + b + "/dataset-staged/cats/ " + b + "/dataset/cats//latest/");
    EXPECT_EQ(Handler::rsync_cmd(b, "dogs").text(),
              kPrefix + b + "/dataset-staged/dogs/ " + b + "/dataset/dogs//v1/");
    EXPECT_EQ(Handler::rsync_cmd(b, "birds").text(),
              kPrefix + b + "/dataset-staged/birds/ " + b + "/dataset/birds/");
    EXPECT_EQ(Handler::rsync_cmd(b + "/", "").text(),
              kPrefix + b + "/dataset-staged// " + b + "/dataset//");

    // Blanks and shell characters stay inside their one operand.
    const RsyncCommand odd = Handler::rsync_cmd(b, "a;touch x $(id)");
    ASSERT_EQ(odd.argv.size(), 8u);
    EXPECT_EQ(odd.argv[6], b + "/dataset-staged/a;touch x $(id)/");
    EXPECT_EQ(odd.argv[7], b + "/dataset/a;touch x $(id)/");
}

TEST_F(DatasetFolders, AMissingRsyncIsAFailedRunWithAClearText) {
    const std::string path = std::getenv("PATH");
    ::setenv("PATH", (base() / "no-programs-here").c_str(), 1);
    RsyncResults results;
    Handler::run_rsync(Handler::rsync_cmd(base().string(), "cats"), results, "cats");
    ::setenv("PATH", path.c_str(), 1);
    ASSERT_EQ(results.entries().size(), 1u);
    EXPECT_EQ(results.entries()[0].first, "cats");
    EXPECT_FALSE(results.entries()[0].second.success);
    EXPECT_EQ(results.entries()[0].second.text, "Could not start rsync: No such file or directory");
}

}  // namespace
}  // namespace datasets
