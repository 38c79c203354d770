// The results the probe saves under Wine and the native probe reads back for
// its Windows columns: a series or figure lost on the way, or a damaged file
// that throws instead of leaving the columns empty, shows here.

#include <gtest/gtest.h>

#include "ProbeResults.h"

namespace {

TEST(ProbeResultsTest, EverySeriesAndFigureSurvivesSavingAndReading) {
    ProbeResults saved;
    Samples ProbeResults::*series[] = {
        &ProbeResults::start,   &ProbeResults::press,         &ProbeResults::turn,  &ProbeResults::multiState,
        &ProbeResults::overlay, &ProbeResults::setImageBytes, &ProbeResults::encode};
    double value = 1;
    for (auto each : series) (saved.*each).Add(value++), (saved.*each).Add(value++);
    saved.idleCpuSeconds = 0.25;
    saved.idleSeconds = 60;
    saved.idleSwitches = -1;  // not counted (Windows)
    saved.idleThreads = 13;
    saved.idleHostMessages = 2;
    saved.failure = "the plug-in did not register";
    ChildProcess::Usage usage;
    usage.privateBytes = 5 << 20, usage.residentBytes = 9 << 20, usage.threads = 13;
    saved.memory = usage;

    ProbeResults read = ProbeResults::FromJson(nlohmann::json::parse(saved.ToJson().dump()));
    for (auto each : series) EXPECT_EQ((read.*each).Values(), (saved.*each).Values());
    EXPECT_DOUBLE_EQ(read.idleCpuSeconds, 0.25);
    EXPECT_DOUBLE_EQ(read.idleSeconds, 60);
    EXPECT_LT(read.idleSwitches, 0) << "an uncounted figure must not read as 0 wake-ups";
    EXPECT_EQ(read.idleThreads, 13);
    EXPECT_EQ(read.idleHostMessages, 2u);
    EXPECT_EQ(read.failure, saved.failure);
    ASSERT_TRUE(read.memory.has_value());
    EXPECT_EQ(read.memory->privateBytes, usage.privateBytes);
    EXPECT_EQ(read.memory->residentBytes, usage.residentBytes);
    EXPECT_EQ(read.memory->threads, 13u);
}

TEST(ProbeResultsTest, DamagedFieldsLeaveTheirFiguresEmpty) {
    for (const char* text : {R"({"press": "fast", "memory": 5, "failure": 3, "idleSeconds": "x"})",
                             R"({"press": [1, "x", null, 2], "start": {}})", R"([1, 2])", "null"}) {
        ProbeResults read = ProbeResults::FromJson(nlohmann::json::parse(text));
        EXPECT_LE(read.press.Count(), 2u) << text;
        EXPECT_EQ(read.start.Count(), 0u) << text;
        EXPECT_FALSE(read.memory.has_value()) << text;
        EXPECT_TRUE(read.failure.empty()) << text;
        EXPECT_EQ(read.idleSeconds, 0) << text;
    }
}

}  // namespace
