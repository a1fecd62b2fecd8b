// The kernel list read from connection files follows files that come and go, also while the
// runtime folder's listing is kept between calls.

#include "host/jupyter/kernel_manager.hpp"

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"

namespace {

std::vector<std::string> ids(const host::KernelManager& kernels) {
    std::vector<std::string> found;
    for (const auto& kernel : kernels.list_kernels()) {
        found.emplace_back(kernel.at("id").as_string());
    }
    return found;
}

TEST(KernelManager, ConnectionFilesThatComeAndGoAreSeenAtTheNextCall) {
    test_support::TempDir runtime;
    const auto folder = runtime.path() / "runtime";
    std::filesystem::create_directories(folder);
    test_support::write_file(folder / "kernel-b.json", "{}");
    test_support::write_file(folder / "kernel-a.json", "{}");
    test_support::write_file(folder / "jpserver-1.json", "{}");
    test_support::write_file(folder / "kernel-.json", "{}");
    host::KernelManager kernels(folder);
    using Ids = std::vector<std::string>;

    EXPECT_EQ(ids(kernels), (Ids{"a", "b"}));
    EXPECT_EQ(ids(kernels), (Ids{"a", "b"}));
    std::filesystem::remove(folder / "kernel-a.json");
    EXPECT_EQ(ids(kernels), (Ids{"b"}));
    test_support::write_file(folder / "kernel-c.json", "{}");
    EXPECT_EQ(*kernels.running_kernel_ids(), (Ids{"b", "c"}));
    // Written aside and renamed into place, and moved away.
    test_support::write_file(runtime.path() / "kernel-d.json", "{}");
    std::filesystem::rename(runtime.path() / "kernel-d.json", folder / "kernel-d.json");
    std::filesystem::rename(folder / "kernel-b.json", runtime.path() / "kernel-b.json");
    EXPECT_EQ(ids(kernels), (Ids{"c", "d"}));

    // A folder of the same name that replaces the first is the one listed from then on.
    std::filesystem::remove_all(folder);
    EXPECT_EQ(ids(kernels), Ids{});
    std::filesystem::create_directories(folder);
    test_support::write_file(folder / "kernel-e.json", "{}");
    EXPECT_EQ(ids(kernels), (Ids{"e"}));
    std::filesystem::rename(folder, runtime.path() / "moved");
    std::filesystem::create_directories(folder);
    EXPECT_EQ(ids(kernels), Ids{});
    test_support::write_file(folder / "kernel-f.json", "{}");
    EXPECT_EQ(ids(kernels), (Ids{"f"}));
    EXPECT_EQ(ids(kernels), (Ids{"f"}));
}

TEST(KernelManager, AMissingRuntimeFolderListsNoKernels) {
    host::KernelManager kernels("/nonexistent/nuvex-runtime");
    EXPECT_TRUE(kernels.list_kernels().empty());
}

}  // namespace
