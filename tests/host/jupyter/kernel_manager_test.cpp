// The kernel list read from connection files follows files that come and go, also once the
// runtime folder's listing is reused between calls.

#include "host/jupyter/kernel_manager.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>

#include "support/temp_dir.hpp"

namespace {

std::vector<std::string> ids(const host::KernelManager& kernels) {
    std::vector<std::string> found;
    for (const auto& kernel : kernels.list_kernels()) {
        found.emplace_back(kernel.at("id").as_string());
    }
    return found;
}

// Moves the folder's modification time into the past, as for a folder untouched for a while.
void age(const std::filesystem::path& folder) {
    const timespec long_ago[2] = {{::time(nullptr) - 60, 0}, {::time(nullptr) - 60, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, folder.c_str(), long_ago, 0), 0);
}

TEST(KernelManager, ConnectionFilesThatComeAndGoAreSeenAtTheNextCall) {
    test_support::TempDir runtime;
    test_support::write_file(runtime.path() / "kernel-b.json", "{}");
    test_support::write_file(runtime.path() / "kernel-a.json", "{}");
    test_support::write_file(runtime.path() / "jpserver-1.json", "{}");
    test_support::write_file(runtime.path() / "kernel-.json", "{}");
    host::KernelManager kernels(runtime.path());

    age(runtime.path());
    EXPECT_EQ(ids(kernels), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(ids(kernels), (std::vector<std::string>{"a", "b"}));

    std::filesystem::remove(runtime.path() / "kernel-a.json");
    EXPECT_EQ(ids(kernels), (std::vector<std::string>{"b"}));

    age(runtime.path());
    EXPECT_EQ(ids(kernels), (std::vector<std::string>{"b"}));
    test_support::write_file(runtime.path() / "kernel-c.json", "{}");
    EXPECT_EQ(*kernels.running_kernel_ids(), (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(ids(kernels), (std::vector<std::string>{"b", "c"}));
}

TEST(KernelManager, AMissingRuntimeFolderListsNoKernels) {
    host::KernelManager kernels("/nonexistent/nuvex-runtime");
    EXPECT_TRUE(kernels.list_kernels().empty());
}

}  // namespace
