// What the benchmark probe reads about a process and the machine's hand-off
// floor, checked on real processes and sockets: a figure read from the wrong
// field or in the wrong unit, or a chain that leaks its sockets, shows here.

#include <dirent.h>
#include <gtest/gtest.h>

#include <chrono>

#include "HandOffChain.h"
#include "PluginProcess.h"

namespace {

size_t OpenDescriptors() {
    size_t count = 0;
    if (DIR* folder = opendir("/proc/self/fd")) {
        while (dirent* entry = readdir(folder)) count += entry->d_name[0] != '.';
        closedir(folder);
    }
    return count;
}

TEST(PluginProcessTest, ReportsPrivateProportionalAndResidentMemoryOfARealProcess) {
    PluginProcess process;
    ASSERT_TRUE(process.Start("sleep", {"60"}, {}));
    auto usage = process.Sample();
    for (int i = 0; i < 200 && usage && usage->privateKiB == 0; ++i)
        usage = process.Sample();  // exec under way
    ASSERT_TRUE(usage.has_value());
    EXPECT_EQ(usage->threads, 1);
    EXPECT_GT(usage->privateKiB, 0u);
    // Private pages are part of the proportional share, which is part of the resident pages.
    EXPECT_LE(usage->privateKiB, usage->proportionalKiB + 1);
    EXPECT_LE(usage->proportionalKiB, usage->residentKiB + 1);
    EXPECT_LT(usage->residentKiB, 1024u * 1024u) << "a sleeping program holds far less than a GiB";

    process.Kill();
    EXPECT_FALSE(process.Sample().has_value());
    EXPECT_FALSE(process.Wait(std::chrono::milliseconds(0)).has_value());
}

TEST(HandOffChainTest, GivesOneSampleAMessageAndClosesItsSockets) {
    const size_t before = OpenDescriptors();
    Samples samples = MeasureHandOffs(3, 5);
    EXPECT_EQ(samples.Count(), 5u);
    EXPECT_GT(samples.Percentile(0), 0.0);
    EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
