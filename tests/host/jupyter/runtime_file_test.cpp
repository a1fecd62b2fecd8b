#include "host/jupyter/runtime_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/temp_dir.hpp"

namespace fs = std::filesystem;
using test_support::read_file;
using test_support::TempDir;
using test_support::write_file;

namespace {

const boost::json::object kRecord{{"token", "secret-token"}};

std::string record_name() { return "jpserver-" + std::to_string(::getpid()) + ".json"; }

}  // namespace

TEST(RuntimeFile, MakesItsFolderForTheUserAlone) {
    TempDir top;
    const auto runtime = top.path() / "jupyter" / "runtime";
    {
        const host::RuntimeFile file(runtime, kRecord);
        EXPECT_EQ(read_file(file.path()), R"({"token": "secret-token"})");
        EXPECT_EQ(fs::status(file.path()).permissions(),
                  fs::perms::owner_read | fs::perms::owner_write);
        for (const auto& folder : {runtime, runtime.parent_path()}) {
            EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all) << folder;
        }
    }
    EXPECT_TRUE(fs::is_empty(runtime));
}

TEST(RuntimeFile, WhatOthersPlantedInASharedFolderIsNeitherFollowedNorWritten) {
    const std::string planted_tmp = record_name() + ".tmp";
    for (const bool tmp_is_link : {false, true}) {
        TempDir top;
        const auto runtime = top.path() / "runtime";
        fs::create_directory(runtime);
        ::chmod(runtime.c_str(), 01777);
        write_file(top.path() / "victim-a", "a");
        write_file(top.path() / "victim-b", "b");
        if (tmp_is_link) {
            fs::create_symlink(top.path() / "victim-a", runtime / planted_tmp);
        } else {
            write_file(runtime / planted_tmp, "");
            ::chmod((runtime / planted_tmp).c_str(), 0666);
        }
        fs::create_symlink(top.path() / "victim-b", runtime / record_name());

        {
            const host::RuntimeFile file(runtime, kRecord);
            EXPECT_FALSE(fs::is_symlink(file.path()));
            EXPECT_EQ(read_file(file.path()), R"({"token": "secret-token"})");
            EXPECT_EQ(fs::status(file.path()).permissions(),
                      fs::perms::owner_read | fs::perms::owner_write);
        }
        EXPECT_EQ(read_file(runtime / planted_tmp), tmp_is_link ? "a" : "") << tmp_is_link;
        EXPECT_EQ(read_file(top.path() / "victim-a"), "a");
        EXPECT_EQ(read_file(top.path() / "victim-b"), "b");
        EXPECT_EQ(fs::symlink_status(runtime / planted_tmp).type(),
                  tmp_is_link ? fs::file_type::symlink : fs::file_type::regular);
    }
}

TEST(RuntimeFile, AFailureSaysItsCause) {
    TempDir top;
    write_file(top.path() / "not-a-folder", "x");
    try {
        const host::RuntimeFile file(top.path() / "not-a-folder", kRecord);
        FAIL() << "written into a file";
    } catch (const std::runtime_error& failure) {
        const std::string text = failure.what();
        EXPECT_NE(text.find("Cannot write the runtime file"), std::string::npos) << text;
        EXPECT_NE(text.find("Not a directory"), std::string::npos) << text;
        EXPECT_EQ(text.find("Success"), std::string::npos) << text;
    }
}
