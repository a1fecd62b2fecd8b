#include "base/files/dir_size.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.hpp"

namespace fs = std::filesystem;
using base::get_dir_size;
using test_support::TempDir;
using test_support::write_file;

TEST(GetDirSize, SumsRegularFilesAndIgnoresLinks) {
    TempDir dir;
    write_file(dir.path() / "a.bin", std::string(1000, 'a'));
    write_file(dir.path() / "sub" / "deeper" / "b.bin", std::string(234, 'b'));
    write_file(dir.path() / "sub" / "empty.bin", "");
    fs::create_directories(dir.path() / "empty-folder");
    TempDir outside;
    write_file(outside.path() / "big.bin", std::string(50000, 'x'));
    fs::create_symlink(outside.path() / "big.bin", dir.path() / "link-to-file");
    fs::create_directory_symlink(outside.path(), dir.path() / "link-to-folder");

    EXPECT_EQ(get_dir_size(dir.path()), 1234u);
    EXPECT_EQ(get_dir_size(dir.path() / "a.bin"), 1000u);
    EXPECT_EQ(get_dir_size(dir.path() / "link-to-folder"), 0u);
    EXPECT_EQ(get_dir_size(dir.path() / "missing"), 0u);
}

TEST(GetDirSize, UnreadablePathFailsNamingIt) {
    TempDir dir;
    write_file(dir.path() / "file", "x");
    const fs::path through_file = dir.path() / "file" / "cache";
    try {
        get_dir_size(through_file);
        FAIL() << "expected a failure";
    } catch (const std::runtime_error& failure) {
        EXPECT_NE(std::string(failure.what()).find(through_file.string()), std::string::npos)
            << failure.what();
    }
}
