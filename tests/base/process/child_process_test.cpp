#include "base/process/child_process.hpp"

#include <gtest/gtest.h>

#include <string>

namespace base {
namespace {

TEST(RunProcess, DrainsLargeOutputsOnBothStreamsWithoutDeadlock) {
    // Each stream gets far more than a pipe holds, standard error first: reading one stream to
    // its end before the other would hang.
    const ProcessOutput output = run_process(
        {"sh", "-c",
         "head -c 3000000 /dev/zero | tr '\\0' e >&2; head -c 2500000 /dev/zero | tr '\\0' o;"
         " exit 3"});
    EXPECT_EQ(output.exit_status, 3);
    EXPECT_EQ(output.standard_error, std::string(3000000, 'e'));
    EXPECT_EQ(output.standard_output, std::string(2500000, 'o'));
}

TEST(RunProcess, ArgumentsSignalsInputAndMissingPrograms) {
    EXPECT_EQ(run_process({"printf", "%s|", "a;b $(id)", "my  data"}).standard_output,
              "a;b $(id)|my  data|");
    EXPECT_EQ(run_process({"cat"}).standard_output, "");  // input is /dev/null, not ours
    EXPECT_EQ(run_process({"sh", "-c", "kill -TERM $$"}).exit_status, -15);
    try {
        run_process({"nuvex-no-such-program", "x"});
        FAIL() << "started a missing program";
    } catch (const ProcessStartError& failure) {
        EXPECT_STREQ(failure.what(),
                     "Could not start nuvex-no-such-program: No such file or directory");
    }
}

}  // namespace
}  // namespace base
