#include "base/files/private_folder.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/temp_dir.hpp"

namespace fs = std::filesystem;
using test_support::TempDir;

namespace {

// The reason open_private_folder refuses the folder, or "" when it takes it.
std::string refusal(const fs::path& folder) {
    try {
        base::open_private_folder(AT_FDCWD, folder);
        return "";
    } catch (const base::FolderRefused& refused) {
        return refused.what();
    }
}

}  // namespace

TEST(PrivateFolder, MakesAMissingFolderForItsUserAlone) {
    TempDir top;
    const auto folder = top.path() / "nuvex-link";
    const base::FileDescriptor opened = base::open_private_folder(AT_FDCWD, folder);
    EXPECT_TRUE(opened);
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
    // Its own folder is taken again as it is, also with a mode that lets others read it.
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_exec);
    EXPECT_EQ(refusal(folder), "");

    base::create_private_folders(top.path() / "a" / "b" / "c");
    for (const fs::path made : {"a", "a/b", "a/b/c"}) {
        EXPECT_EQ(fs::status(top.path() / made).permissions(), fs::perms::owner_all) << made;
    }
}

TEST(PrivateFolder, RefusesWhatOthersCouldChange) {
    TempDir top;
    const auto link = top.path() / "link";
    fs::create_directory_symlink(top.path(), link);
    EXPECT_EQ(refusal(link), "it is a symbolic link");
    EXPECT_EQ(refusal(link.string() + "/"), "it is a symbolic link");

    const auto file = top.path() / "file";
    test_support::write_file(file, "x");
    EXPECT_EQ(refusal(file), "it is not a folder");

    const auto shared = top.path() / "shared";
    fs::create_directory(shared);
    ::chmod(shared.c_str(), 01777);
    EXPECT_EQ(refusal(shared), "other users can write to it (mode 1777)");
    ::chmod(shared.c_str(), 0770);
    EXPECT_EQ(refusal(shared), "other users can write to it (mode 0770)");

    if (::geteuid() == 0) {
        const auto foreign = top.path() / "foreign";
        fs::create_directory(foreign);
        ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
        ::chmod(foreign.c_str(), 0700);
        EXPECT_EQ(refusal(foreign), "it belongs to user 65534, not to this server's user 0");
    }
}
