// The manager and its timer: ticks start at once and stop promptly, key
// presses reach only active elements, events reach every element in
// identifier order, and completions on the controller's write thread stay
// serialised with a stream of key presses without deadlock.

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>

#include "elements/CallbackTimer.h"
#include "elements/CatalogueElements.h"
#include "elements/ControlElementsManager.h"
#include "elements/ElementTestRig.h"
#include "elements/SimpleMultipleStateButton.h"
#include "elements/SimpleSingleStateButton.h"

namespace {

using Clock = std::chrono::steady_clock;

// An element that records what reaches it.
class RecordingElement : public ControlElementBase {
public:
    RecordingElement(const std::string& name, std::vector<std::string>* events)
        : ControlElementBase(name, json::object()), m_events(events) {}
    void HandleEventMessage(const EventMessage& event) override {
        ControlElementBase::HandleEventMessage(event);
        if (failing) throw std::runtime_error("failing element");
        m_events->push_back(GetName());
    }
    void HandleTimerTick() override { ++ticks; }
    std::atomic<int> ticks{0};
    bool failing = false;

private:
    std::vector<std::string>* m_events;
};

TEST(CallbackTimerTest, FirstCallIsImmediateAndStopDoesNotWaitForTheInterval) {
    std::mutex mutex;
    std::condition_variable called;
    int calls = 0;
    CallbackTimer timer;
    const auto start = Clock::now();
    timer.Start(60000, [&] {
        std::lock_guard<std::mutex> lock(mutex);
        ++calls;
        called.notify_all();
    });
    EXPECT_TRUE(WaitUntil(mutex, called, 10s, [&] { return calls == 1; }));
    timer.Stop();
    EXPECT_LT(Clock::now() - start, 30s);  // far below the one-minute interval
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(calls, 1);
}

TEST(CallbackTimerTest, RestartingReplacesTheThreadAndDestructionEndsIt) {
    std::atomic<int> first{0}, second{0};
    {
        CallbackTimer timer;
        timer.Start(1, [&] { ++first; });
        timer.Start(1, [&] { ++second; });
        const int frozen = first;
        while (second < 5) std::this_thread::yield();
        EXPECT_EQ(first, frozen);
    }
    const int after = second;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(second, after);
}

TEST(CallbackTimerTest, OnDemandTimerSleepsAfterACallWithoutWorkUntilWoken) {
    std::atomic<int> calls{0};
    std::atomic<bool> more{false};
    CallbackTimer timer;
    timer.StartOnDemand(1, [&] {
        // The first call wakes its own timer: a wake made during a call is not lost.
        if (++calls == 1) timer.Wake();
        return more.load();
    });
    const auto start = Clock::now();
    while (calls < 2 && Clock::now() - start < 10s) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(calls, 2);  // no work: no further call, although the interval is 1 ms

    more = true;
    timer.Wake();
    while (calls < 10 && Clock::now() - start < 10s) std::this_thread::sleep_for(1ms);
    EXPECT_GE(calls, 10);  // with work it keeps its interval again
    more = false;
}

// A bounded wait for Wake: a Wake ends it at once (unlike a paced interval,
// which only WakeNow cuts short), and without one the call still comes.
TEST(CallbackTimerTest, AWaitBoundedInTimeEndsAtAWakeOrAfterItsBound) {
    std::atomic<int> calls{0};
    CallbackTimer timer;
    timer.StartPaced([&] {
        ++calls;
        return CallbackTimer::UntilWokenOrAfter(calls == 1 ? 60000 : 200);
    });
    const auto start = Clock::now();
    while (calls < 1) std::this_thread::yield();
    std::this_thread::sleep_for(50ms);
    timer.Wake();
    while (calls < 2 && Clock::now() - start < 10s) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(calls, 2) << "the wake did not end the wait";
    const auto woken = Clock::now();
    while (calls < 3 && Clock::now() - start < 20s) std::this_thread::sleep_for(1ms);
    EXPECT_GE(Clock::now() - woken, 150ms) << "the bounded wait ended early";
    EXPECT_EQ(calls, 3) << "no call after the bound";
}

TEST(CallbackTimerTest, WakeNowCutsARunningIntervalShortAtMostEveryOtherCall) {
    std::mutex mutex;
    std::condition_variable called;
    std::vector<Clock::time_point> calls;
    CallbackTimer timer;
    timer.StartOnDemand(60000, [&] {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(Clock::now());
        called.notify_all();
        return true;  // always work: the timer counts its minute
    });
    ASSERT_TRUE(WaitUntil(mutex, called, 10s, [&] { return calls.size() == 1; }));
    timer.Wake();  // keeps the pace
    std::this_thread::sleep_for(200ms);
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(calls.size(), 1u);
    }
    timer.WakeNow();
    EXPECT_TRUE(WaitUntil(mutex, called, 10s, [&] { return calls.size() == 2; }));
    // A flood of WakeNow right after: the next interval is not cut short.
    for (int i = 0; i < 50; ++i) {
        timer.WakeNow();
        std::this_thread::sleep_for(2ms);
    }
    std::this_thread::sleep_for(200ms);
    timer.Stop();
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(calls.size(), 2u);
}

// An element whose tick work is switched by the test.
class QuietElement : public ControlElementBase {
public:
    explicit QuietElement(const std::string& name) : ControlElementBase(name, json::object()) {}
    void HandleTimerTick() override { ++ticks; }
    bool HasTimerWork() const override { return work; }
    std::atomic<int> ticks{0};
    std::atomic<bool> work{false};
};

TEST(ControlElementsManagerTest, TimerSleepsWithoutWorkAndPressesEventsAndSettingsWakeIt) {
    auto element = std::make_shared<QuietElement>("com.vantora.kestrel.a");
    ControlElementsManager manager;
    manager.AddControlElement(element);
    auto settle = [&] {
        int seen = -1;
        while (seen != element->ticks) {
            seen = element->ticks;
            std::this_thread::sleep_for(400ms);  // longer than a tick interval
        }
        return seen;
    };
    auto wokenOnce = [&](int before) {
        const auto start = Clock::now();
        while (element->ticks == before && Clock::now() - start < 10s) std::this_thread::sleep_for(1ms);
        return element->ticks > before;
    };

    int quiet = settle();
    EXPECT_GE(quiet, 1);
    manager.SignalEventMessage(Event(SystemMessages::kConnected));
    EXPECT_TRUE(wokenOnce(quiet));
    quiet = settle();
    manager.SignalReceivedSettings("com.vantora.kestrel.a", "K1", {{"settings", {{"x", 1}}}});
    EXPECT_TRUE(wokenOnce(quiet));
    quiet = settle();
    element->work = true;  // work that the element itself reports keeps the ticks going
    manager.SignalKeyDown("com.vantora.kestrel.a", "K1", json::object());
    EXPECT_TRUE(wokenOnce(quiet));
    std::this_thread::sleep_for(800ms);
    EXPECT_GE(element->ticks - quiet, 3);
    element->work = false;
    quiet = settle();
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(element->ticks, quiet);
}

TEST(ControlElementsManagerTest, TicksEveryElementUntilDestroyed) {
    std::vector<std::string> events;
    auto element = std::make_shared<RecordingElement>("com.vantora.kestrel.a", &events);
    auto manager = std::make_unique<ControlElementsManager>();
    manager->AddControlElement(element);
    const auto start = Clock::now();
    while (element->ticks < 3 && Clock::now() - start < 10s) std::this_thread::sleep_for(10ms);
    EXPECT_GE(element->ticks, 3);
    manager.reset();
    const int after = element->ticks;
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(element->ticks, after);
}

TEST(ControlElementsManagerTest, EventsReachEveryElementInIdentifierOrderAndNamesAreUnique) {
    std::vector<std::string> events;
    ControlElementsManager manager;
    for (const char* name : {"com.vantora.kestrel.b", "com.vantora.kestrel.c", "com.vantora.kestrel.a"})
        manager.AddControlElement(std::make_shared<RecordingElement>(name, &events));
    auto replacement = std::make_shared<RecordingElement>("com.vantora.kestrel.b", &events);
    manager.AddControlElement(replacement);
    EXPECT_EQ(manager.FindControlElement("com.vantora.kestrel.b"), replacement);
    EXPECT_EQ(manager.FindControlElement("com.vantora.kestrel.none"), nullptr);

    manager.SignalEventMessage(Event("anything"));
    EXPECT_EQ(events, (std::vector<std::string>{"com.vantora.kestrel.a", "com.vantora.kestrel.b",
                                                "com.vantora.kestrel.c"}));
    // An element that fails costs only its own key the event.
    replacement->failing = true;
    events.clear();
    EXPECT_NO_THROW(manager.SignalEventMessage(Event("anything")));
    EXPECT_EQ(events, (std::vector<std::string>{"com.vantora.kestrel.a", "com.vantora.kestrel.c"}));
    // Unknown actions are ignored and leave no entry behind.
    manager.SignalKeyDown("com.vantora.kestrel.none", "K", nullptr);
    manager.SignalReceivedSettings("com.vantora.kestrel.none", "K", {{"settings", json::object()}});
    manager.SignalRequestPropertyInspectorDataFromPlugin("com.vantora.kestrel.none", "K");
    manager.SignalPropertyInspectorClosed("com.vantora.kestrel.none", "K");
    EXPECT_EQ(manager.FindControlElement("com.vantora.kestrel.none"), nullptr);
}

class ManagerWithControllerTest : public ::testing::Test {
protected:
    void TearDown() override {
        m_rig.client->Stop();
        m_manager.reset();
    }
    void Show(const std::string& action, const std::string& context) {
        m_manager->AddSdContext(action, &m_host.connection, context, json::object());
    }
    void Activate(const std::string& action) {
        m_manager->SignalEventMessage(Event(SystemMessages::kConnected));
        m_manager->SignalEventMessage(SignedIn(true));
        m_manager->SignalEventMessage(Supported(action, true));
    }

    FakeHost m_host;
    ControllerRig m_rig;
    std::unique_ptr<ControlElementsManager> m_manager = std::make_unique<ControlElementsManager>();
};

TEST_F(ManagerWithControllerTest, InactiveKeysAndKeyReleasesSendNothing) {
    const std::string name = "com.vantora.kestrel.overlays-reload";
    m_manager->AddControlElement(std::make_shared<SimpleSingleStateButton>(
        name, m_rig.client, "overlays_reload.png", MakeCommand("overlays-reload"), json::object()));
    Show(name, "K1");
    m_manager->SignalKeyDown(name, "K1", json::object());  // offline
    m_manager->SignalEventMessage(Event(SystemMessages::kConnected));
    m_manager->SignalEventMessage(SignedIn(true));
    m_manager->SignalKeyDown(name, "K1", json::object());  // not supported yet
    Activate(name);
    m_manager->SignalKeyUp(name, "K1", json::object());
    m_manager->SignalKeyDown(name, "K1", {{"settings", {{"x", 1}}}});
    // Commands are written in order: only the last press is there.
    ASSERT_TRUE(m_rig.transport->WaitForWritten(1));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(m_rig.transport->Written().size(), 1u);
    // No alert was drawn for the ignored presses.
    for (const json& image : m_host.Sent("setImage"))
        EXPECT_FALSE(SameImage(DecodeSetImage(image), Composed({"overlays_reload.png", "state_alert.png"})));
}

TEST_F(ManagerWithControllerTest, PropertyInspectorIsAnsweredWhileOffline) {
    const std::string name = "com.vantora.kestrel.cup-empty";
    m_manager->AddControlElement(std::make_shared<SimpleSingleStateButton>(
        name, m_rig.client, "cup_empty.png", MakeCommand("cup-empty"), json::object()));
    Show(name, "K1");
    m_manager->SignalRequestPropertyInspectorDataFromPlugin(name, "K1");
    auto sent = m_host.Sent("sendToPropertyInspector", "K1");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["payload"], json::parse(R"({"settings":{},"state":{"id":"offline"}})"));
}

// A sign-out redraws every key at one tick, with the one overlay decoded for
// all of them: each key shows its own image under it, and again after a
// sign-in, when the composites are sent from what was kept. Reports that
// come while the keys are redrawn reach the keys not drawn yet at once and
// the others at the next tick: no key is left with an overlay it no longer has.
TEST_F(ManagerWithControllerTest, EveryKeyShowsItsOwnImageUnderTheStatusOverlay) {
    const std::vector<std::pair<std::string, std::string>> keys = {
        {"alerts-skip", "alerts_skip.png"}, {"cup-empty", "cup_empty.png"}, {"emberfall", "emberfall.png"}};
    auto signIn = [&] {
        m_manager->SignalEventMessage(SignedIn(true));
        for (const auto& key : keys)
            m_manager->SignalEventMessage(Supported("com.vantora.kestrel." + key.first, true));
    };
    // Every key's latest image comes to be its own file (under |overlay|).
    auto everyKeyShows = [&](const char* overlay) {
        const auto end = Clock::now() + 20s;
        for (const auto& [action, file] : keys) {
            const RgbaImage expected = overlay ? Composed({file.c_str(), overlay}) : Composed({file.c_str()});
            while (!SameImage(m_host.LastImage(action), expected) && Clock::now() < end)
                std::this_thread::sleep_for(10ms);
            EXPECT_TRUE(SameImage(m_host.LastImage(action), expected))
                << action << " under " << (overlay ? overlay : "nothing") << " after "
                << m_host.Sent("setImage", action).size() << " images";
        }
    };
    for (const auto& [action, file] : keys) {
        const std::string name = "com.vantora.kestrel." + action;
        m_manager->AddControlElement(std::make_shared<SimpleSingleStateButton>(
            name, m_rig.client, file, MakeCommand(action.c_str()), json::object()));
        Show(name, action);
        Activate(name);
    }
    everyKeyShows(nullptr);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        m_manager->SignalEventMessage(SignedIn(false));
        everyKeyShows("state_logged_out.png");
        signIn();
        everyKeyShows(nullptr);
    }

    // The link drops (composites not made yet) and comes back while the first key is drawn.
    m_host.Clear();
    m_manager->SignalEventMessage(Event(SystemMessages::kDisconnected));
    EXPECT_TRUE(m_host.WaitForImage(keys[0].first, Composed({keys[0].second.c_str(), "state_offline.png"})));
    m_manager->SignalEventMessage(Event(SystemMessages::kConnected));
    signIn();
    std::this_thread::sleep_for(600ms);  // more than a tick interval
    everyKeyShows(nullptr);
}

// Completions run on the controller's write thread and take the manager's
// lock; key presses hold that lock while they queue. Many of both at once
// must neither deadlock nor race (run under ThreadSanitizer).
TEST_F(ManagerWithControllerTest, CompletionsAndKeyPressesRunTogetherWithoutDeadlock) {
    const std::string single = "com.vantora.kestrel.alerts-skip";
    const std::string multi = "com.vantora.kestrel.alerts-pause";
    m_manager->AddControlElement(std::make_shared<SimpleSingleStateButton>(
        single, m_rig.client, "alerts_skip.png", MakeCommand("alerts-skip"), json::object()));
    m_manager->AddControlElement(std::make_shared<SimpleMultipleStateButton>(
        multi, m_rig.client, std::vector<std::string>{"alerts_pause_on.png", "alerts_pause_off.png"},
        std::vector<std::string>{"alerts-pause-off", "alerts-pause-on"}, true,
        std::vector<CommandBuilder>{MakeCommand("alerts-pause-on"), MakeCommand("alerts-pause-off")}));
    Show(single, "K1");
    Show(multi, "K2");
    Activate(single);
    m_manager->SignalEventMessage(Supported(multi, true));

    auto work = std::async(std::launch::async, [&] {
        std::thread refuser([&] {
            for (int i = 0; i < 40; ++i) {
                m_rig.transport->RefuseWrites(i % 2 == 0);  // alerts and accepted advances alternate
                m_manager->SignalEventMessage(
                    FunctionState(multi, i % 2 ? "alerts-pause-on" : "alerts-pause-off"));
                std::this_thread::sleep_for(5ms);
            }
        });
        std::thread presser([&] {
            for (int i = 0; i < 150; ++i) m_manager->SignalKeyDown(multi, "K2", json::object());
        });
        for (int i = 0; i < 150; ++i) m_manager->SignalKeyDown(single, "K1", json::object());
        presser.join();
        refuser.join();
    });
    ASSERT_EQ(work.wait_for(60s), std::future_status::ready) << "key presses deadlocked";
    m_rig.transport->RefuseWrites(false);
    // The link still works: a press is written again. The failed presses'
    // alert redraws run one by one on the write thread (slow under
    // ThreadSanitizer on a loaded machine); a press queued behind them may
    // pass its deadline there, so press again until one is written.
    const size_t before = m_rig.transport->Written().size();
    bool written = false;
    for (auto end = std::chrono::steady_clock::now() + 120s;
         !written && std::chrono::steady_clock::now() < end;) {
        m_manager->SignalKeyDown(single, "K1", json::object());
        written = m_rig.transport->WaitForWritten(before + 1, 5s);
    }
    EXPECT_TRUE(written);
}

}  // namespace
