#include "page/bounded_child.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using page::ChildLimits;
using page::ChildOutcome;
using page::run_in_child;

TEST(BoundedChild, GivesBackAllTheWorksOutputAndWhatItCost) {
    std::string big(3 << 20, 'x');  // larger than a pipe holds at once
    big += "end";
    const auto outcome = run_in_child([&] { return big; }, ChildLimits{});
    ASSERT_EQ(outcome.end, ChildOutcome::End::finished) << outcome.failure;
    EXPECT_EQ(outcome.output, big);
    EXPECT_GT(outcome.peak_memory_bytes, 0u);
}

TEST(BoundedChild, StopsWorkAtItsBoundsAndSaysWhichInWords) {
    const auto spinning = run_in_child(
        [] {
            for (volatile unsigned long i = 0;; i = i + 1) {
            }
            return std::string();
        },
        ChildLimits{std::chrono::seconds(1), std::size_t{64} << 20});
    EXPECT_EQ(spinning.end, ChildOutcome::End::over_time);
    EXPECT_EQ(spinning.failure, "it took more than 1 s");
    EXPECT_GT(spinning.cpu_time.count(), 0);

    const auto greedy = run_in_child(
        [] {
            std::vector<char> block(std::size_t{128} << 20, 'x');
            return std::string(1, block.back());
        },
        ChildLimits{std::chrono::seconds(5), std::size_t{16} << 20});
    EXPECT_EQ(greedy.end, ChildOutcome::End::failed);
    EXPECT_EQ(greedy.failure, "it needed more than 16 MiB of memory");
    EXPECT_TRUE(greedy.output.empty());

    const auto failing =
        run_in_child([]() -> std::string { throw std::runtime_error("Graphviz could not start"); },
                     ChildLimits{});
    EXPECT_EQ(failing.end, ChildOutcome::End::failed);
    EXPECT_EQ(failing.failure, "Graphviz could not start");
}

TEST(BoundedChild, KillsWorkNobodyWaitsForAnyMore) {
    int asked = 0;
    const auto outcome = run_in_child(
        [] {
            std::this_thread::sleep_for(std::chrono::hours(1));
            return std::string("never");
        },
        ChildLimits{}, [&] { return ++asked == 2; });
    EXPECT_EQ(outcome.end, ChildOutcome::End::abandoned);
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(outcome.output.empty());
}

}  // namespace
