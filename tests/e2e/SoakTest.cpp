// A long run of the real plug-in under mixed activity: presses on every key,
// settings changes, keys coming and going, property inspectors, and now and
// then a controller server that crashes or sends garbage. The plug-in must
// not grow: its memory, threads and open handles at the end stay within what
// it held once warmed up. Run by scripts/soak (KESTREL_SOAK_SECONDS sets the
// length); not part of the CTest suites.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

#include "e2e/FaultSupport.h"

using json = nlohmann::json;
using namespace std::chrono_literals;
using namespace faults;

namespace {

std::chrono::seconds SoakLength() {
    const char* text = std::getenv("KESTREL_SOAK_SECONDS");
    long seconds = text ? std::atol(text) : 0;
    return std::chrono::seconds(seconds > 0 ? seconds : 1800);
}

// One minute's worth of mixed activity in small steps; |step| counts them.
void Activity(PluginHarness& plugin, std::mt19937& random, int step) {
    const std::string& action = kActions[random() % kActions.size()];
    switch (step % 50) {
        case 10:
            plugin.SendToPlugin({{"event", "didReceiveSettings"},
                                 {"action", "com.vantora.kestrel.media-request-set-volume-level"},
                                 {"context", "ctx-media-request-set-volume-level"},
                                 {"payload", {{"settings", {{"volume_value", random() % 120}}}}}});
            break;
        case 20:
            plugin.SendToPlugin(
                {{"event", "willDisappear"}, {"action", action}, {"context", ContextOf(action)}});
            plugin.Appear(action, ContextOf(action));
            break;
        case 30:
            plugin.SendToPlugin({{"event", "propertyInspectorDidAppear"},
                                 {"action", action},
                                 {"context", ContextOf(action)}});
            break;
        case 40:
            plugin.Appear(action, "ctx-extra");
            plugin.SendToPlugin({{"event", "willDisappear"}, {"action", action}, {"context", "ctx-extra"}});
            break;
        default:
            plugin.KeyDown(action, ContextOf(action));
    }
}

void Print(const char* when, std::chrono::seconds elapsed, const ChildProcess::Usage& usage) {
    std::printf("soak %-8s %5lds: resident %6zu KiB, %2zu threads, %3zu handles\n", when,
                static_cast<long>(elapsed.count()), usage.residentBytes / 1024, usage.threads, usage.handles);
    std::fflush(stdout);
}

TEST(SoakTest, MixedActivityLeavesMemoryThreadsAndHandlesFlat) {
    SmallQuarantine quarantine;
    PluginHarness plugin;
    ShowEveryKey(plugin);
    plugin.StartController(true);
    ASSERT_TRUE(EveryKeyUsable(plugin));

    const auto length = SoakLength();
    const auto warmUp = std::min<std::chrono::seconds>(length / 4, 120s);
    const auto start = std::chrono::steady_clock::now();
    std::mt19937 random(7);
    std::optional<ChildProcess::Usage> baseline, last;
    auto nextSample = start;
    auto nextFault = start + 20s;
    std::optional<std::chrono::steady_clock::time_point> stalledUntil;
    for (int step = 0;; ++step) {
        auto now = std::chrono::steady_clock::now();
        auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - start);
        if (now - start >= length) break;
        if (stalledUntil && now >= *stalledUntil) {
            // The stalled server is replaced by a new instance.
            plugin.KillController();
            plugin.StartController(true);
            stalledUntil.reset();
        }
        if (now >= nextFault && !stalledUntil) {
            // A crashed server that comes back, one that sends garbage, or
            // one that stops reading for a while and is then replaced.
            const auto fault = random() % 3;
            if (fault == 2) {
                plugin.Control("stall on");
                stalledUntil = now + std::chrono::seconds(3 + random() % 5);
            } else if (fault == 1) {
                plugin.KillController();
                std::this_thread::sleep_for(std::chrono::milliseconds(random() % 1500));
                plugin.StartController(true);
            } else {
                plugin.Control("garbage");
                plugin.Control("zero");
            }
            nextFault = now + std::chrono::seconds(15 + random() % 30);
        }
        if (now >= nextSample) {
            // The baseline is taken with the link up, as the final sample is.
            const bool takeBaseline = elapsed >= warmUp && !baseline && !stalledUntil;
            if (takeBaseline) {
                ASSERT_TRUE(EveryKeyUsable(plugin));
            }
            last = plugin.PluginUsage();
            ASSERT_TRUE(last) << "the plug-in has ended\n" << plugin.PluginOutput();
            Print(elapsed < warmUp ? "warm-up" : "", elapsed, *last);
            if (takeBaseline) baseline = last;
            nextSample = now + 10s;
        }
        Activity(plugin, random, step);
        plugin.HostCommands();  // the stand-in host keeps up, as the real one does
        std::this_thread::sleep_for(20ms);
    }

    if (stalledUntil) {
        plugin.KillController();
        plugin.StartController(true);
    }
    ASSERT_TRUE(EveryKeyUsable(plugin));
    last = plugin.PluginUsage();
    ASSERT_TRUE(baseline && last);
    Print("end", SoakLength(), *last);
    ExpectBounded(*baseline, *last, 24);
}

}  // namespace
