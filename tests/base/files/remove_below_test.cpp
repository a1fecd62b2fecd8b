#include "base/files/remove_below.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "base/files/file_descriptor.hpp"
#include "support/temp_dir.hpp"

namespace fs = std::filesystem;
using test_support::TempDir;
using test_support::write_file;

namespace {

// A pipelines folder holding the cache p/x/y (with a subfolder and files), and someone else's
// files outside it.
struct PlantedTree {
    TempDir top;
    fs::path pipelines = top.path() / "pipelines";
    fs::path outside = top.path() / "victim";
    base::FileDescriptor root;

    PlantedTree() {
        write_file(pipelines / "p" / "x" / "y" / "cache.db", "cache");
        write_file(pipelines / "p" / "x" / "y" / "sub" / "part.bin", "part");
        write_file(outside / "notes.txt", "keep me");
        write_file(outside / "y" / "notes.txt", "keep me too");
        root = base::FileDescriptor(::open(pipelines.c_str(), O_RDONLY | O_DIRECTORY));
    }

    // Puts a link to the victim's folder where `entry` was.
    void plant_link(const fs::path& entry) {
        fs::remove_all(entry);
        fs::create_directory_symlink(outside, entry);
    }

    void expect_victim_intact(const std::string& label) const {
        EXPECT_EQ(test_support::read_file(outside / "notes.txt"), "keep me") << label;
        EXPECT_EQ(test_support::read_file(outside / "y" / "notes.txt"), "keep me too") << label;
    }
};

}  // namespace

TEST(RemoveBelow, RemovesTheTreeAndNothingAboveIt) {
    PlantedTree tree;
    base::remove_below(tree.root.get(), "p/x/y");
    EXPECT_FALSE(fs::exists(tree.pipelines / "p" / "x" / "y"));
    EXPECT_TRUE(fs::is_directory(tree.pipelines / "p" / "x"));
    base::remove_below(tree.root.get(), "p/x/y");  // gone already: no failure
    base::remove_below(tree.root.get(), "./p");
    EXPECT_FALSE(fs::exists(tree.pipelines / "p"));
    EXPECT_TRUE(fs::is_directory(tree.pipelines));
}

TEST(RemoveBelow, ALinkPlantedAtAnyLevelNeverLeadsOutside) {
    // On the way down and as the entry itself: nothing is removed.
    for (const fs::path level : {"p", "p/x", "p/x/y"}) {
        PlantedTree tree;
        tree.plant_link(tree.pipelines / level);
        base::remove_below(tree.root.get(), "p/x/y");
        tree.expect_victim_intact(level.string());
        EXPECT_TRUE(fs::is_symlink(tree.pipelines / level)) << level;
    }
    // Inside the removed tree: the links go, what they point to stays.
    for (const fs::path level : {"p/x/y/sub", "p/x/y/sub/part.bin", "p/x/y/cache.db"}) {
        PlantedTree tree;
        tree.plant_link(tree.pipelines / level);
        base::remove_below(tree.root.get(), "p/x/y");
        tree.expect_victim_intact(level.string());
        EXPECT_FALSE(fs::exists(fs::symlink_status(tree.pipelines / "p" / "x" / "y"))) << level;
    }
    // A file where a folder is on the way stops the walk too.
    PlantedTree tree;
    fs::remove_all(tree.pipelines / "p" / "x");
    write_file(tree.pipelines / "p" / "x", "a file");
    base::remove_below(tree.root.get(), "p/x/y");
    EXPECT_EQ(test_support::read_file(tree.pipelines / "p" / "x"), "a file");
}

TEST(RemoveBelow, PathsThatLeaveOrNameNothingAreRefused) {
    PlantedTree tree;
    const std::string dots_then_nul = std::string("..") + '\0' + "x/victim";
    for (const fs::path relative :
         {fs::path("../victim"), fs::path("p/../../victim"), fs::path(dots_then_nul),
          fs::path("/tmp"), fs::path(""), fs::path("."), fs::path("./")}) {
        EXPECT_THROW(base::remove_below(tree.root.get(), relative), std::invalid_argument)
            << relative;
    }
    tree.expect_victim_intact("refused paths");
    EXPECT_TRUE(fs::exists(tree.pipelines / "p" / "x" / "y" / "cache.db"));
}
