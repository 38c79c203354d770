// The process-wide telemetry service at exit, in a process of its own (the
// shut-down is for good): the queued events get 2 s and their count of
// dropped events is logged when ShutDown returns, so that the exit's stop
// record can follow it as the last line; the last event is posted after
// that, by 3 s after the shut-down began.

#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "support/LogCapture.h"
#include "support/ScopedEnvironment.h"
#include "support/TestHttpServer.h"
#include "telemetry/TelemetryService.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

TEST(TelemetryExitTest, QueuedEventsAreCountedBeforeShutDownReturnsAndTheLastEventFollowsInTime) {
    LogCapture log;
    TestHttpServer collector;
    collector.SetNeverAnswer(true);
    ScopedEnvironment url("KESTREL_TELEMETRY_URL", collector.Url("/science"));
    ScopedEnvironment on("KESTREL_TELEMETRY", std::nullopt);
    ScopedEnvironment track("DO_NOT_TRACK", std::nullopt);
    auto service = TelemetryService::Instance();
    for (int i = 0; i < 100; ++i) service->SendEvent("queued", false, nlohmann::json::object());
    ASSERT_TRUE(collector.WaitForRequests(4, 10s));

    Clock::time_point began = Clock::now();
    TelemetryService::ShutDown();
    Clock::duration drained = Clock::now() - began;
    EXPECT_GE(drained, 1900ms);
    EXPECT_LT(drained, 2s + 3s);
    std::vector<std::string> counted = log.LinesContaining("TelemetryService::Stop: ");
    ASSERT_EQ(counted.size(), 1u);
    // Four are under way; how many of the rest were pushed out depends on when the workers took theirs.
    EXPECT_NE(counted[0].find("96 events dropped: "), std::string::npos) << counted[0];
    EXPECT_NE(counted[0].find("not posted within the 2 s given at exit"), std::string::npos) << counted[0];

    TelemetryService::SendLastEvent("streamdeck_kestrel_plugin_shutdown");
    EXPECT_LT(Clock::now() - began, 3s + 3s);
    ASSERT_TRUE(collector.WaitForRequests(5, 5s)) << "the last event was not posted";
    EXPECT_NE(collector.Requests().back().body.find("streamdeck_kestrel_plugin_shutdown"), std::string::npos);
    EXPECT_EQ(log.LinesContaining("TelemetryService::Stop: ").size(), 1u) << "nothing is logged after it";

    // Once the time is over, a last event is not posted at all.
    while (Clock::now() - began < 3s + 100ms) std::this_thread::sleep_for(50ms);
    TelemetryService::SendLastEvent("late");
    EXPECT_FALSE(collector.WaitForRequests(6, 500ms));
}

}  // namespace
