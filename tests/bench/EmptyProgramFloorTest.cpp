// Wine's floor in the benchmark, on the real empty program under Wine: a
// start timed to its line, one round trip a message through the named pipe,
// and its memory and threads read through the Windows calls (Wine reports a
// process's private commit in PagefileUsage only, so reading PrivateUsage
// alone gave 0).

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "EmptyProgramFloor.h"

namespace {

TEST(EmptyProgramFloorTest, TimesStartsAndRoundTripsAndReadsMemoryAndThreads) {
    EmptyProgramFloor floor(BuiltProgramPath("empty_program"),
                            "kestrel-floor-test-" + std::to_string(GetCurrentProcessId()));
    ProbeResults results;
    floor.MeasureStart(results);
    floor.MeasureStart(results);
    floor.MeasureSession(5, 1, results);
    ASSERT_TRUE(results.failure.empty()) << results.failure;
    EXPECT_EQ(results.start.Count(), 2u);
    EXPECT_GT(results.start.Percentile(0), 0.0);
    EXPECT_EQ(results.press.Count(), 5u);
    EXPECT_GT(results.press.Percentile(0), 0.0);
    ASSERT_TRUE(results.memory.has_value());
    EXPECT_GT(results.memory->privateBytes, 0u);
    EXPECT_LT(results.memory->privateBytes, 256u << 20) << "an empty program commits far less than 256 MiB";
    EXPECT_GE(results.memory->threads, 1u);
    EXPECT_LE(results.memory->threads, 4u);
    EXPECT_EQ(results.idleThreads, static_cast<int>(results.memory->threads));
    EXPECT_LT(results.idleSwitches, 0) << "Windows gives no switch counts: not counted, not 0";
    EXPECT_GT(results.idleSeconds, 0.9);
}

}  // namespace
