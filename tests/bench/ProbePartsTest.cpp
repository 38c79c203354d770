// What the benchmark probe reads about a process and the machine's hand-off
// floor, checked on real processes and sockets: a figure read from the wrong
// field or in the wrong unit, or a chain that leaks its sockets, shows here.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "HandOffChain.h"
#include "OpenDescriptors.h"
#include "support/ChildProcess.h"

namespace {

TEST(ProbeChildProcessTest, ReportsPrivateProportionalAndResidentMemoryOfARealProcess) {
    ChildProcess process;
    ASSERT_TRUE(process.Start("sleep", {"60"}));
    // While exec is under way the status and smaps_rollup files may describe
    // different images; figures read right stay consistent once it is done.
    auto consistent = [](const ChildProcess::Usage& usage) {
        return usage.privateBytes > 0 && usage.privateBytes <= usage.proportionalBytes + 1024 &&
               usage.proportionalBytes <= usage.residentBytes + 1024;
    };
    auto usage = process.Sample();
    for (int i = 0; i < 100 && usage && !consistent(*usage); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        usage = process.Sample();
    }
    ASSERT_TRUE(usage.has_value());
    EXPECT_EQ(usage->threads, 1u);
    EXPECT_GT(usage->privateBytes, 0u);
    // Private pages are part of the proportional share, which is part of the resident pages.
    EXPECT_LE(usage->privateBytes, usage->proportionalBytes + 1024);
    EXPECT_LE(usage->proportionalBytes, usage->residentBytes + 1024);
    EXPECT_LT(usage->residentBytes, 1024u * 1024u * 1024u) << "a sleeping program holds far less than a GiB";

    process.Kill();
    EXPECT_FALSE(process.Sample().has_value());
    EXPECT_TRUE(process.Wait(std::chrono::seconds(10)).has_value());
}

TEST(HandOffChainTest, GivesOneSampleAMessageAndClosesItsSockets) {
    const size_t before = OpenDescriptors();
    Samples samples = MeasureHandOffs(3, 5);
    EXPECT_EQ(samples.Count(), 5u);
    EXPECT_GT(samples.Percentile(0), 0.0);
    EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
