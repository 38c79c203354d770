#pragma once
// Calls one callback over and over on a thread of its own: at once when
// started, then again each time the interval has passed after the previous
// call returned (so the period is the interval plus the callback's time).
// Started on demand, the timer sleeps without limit after a call that
// reports no further work, until Wake calls it again at once. Started paced,
// each call says how long to wait before the next one.
//
// Threads: Start, Stop and the destructor are called by the owner's thread;
// the callback runs on the timer thread; Wake may be called from any thread,
// the callback's included. m_running is read by the timer thread without a
// lock; m_wakeMutex guards m_wakeRequested and m_wakeNowRequested and pairs
// with m_wake, so that Stop and Wake reach a waiting timer thread at once. The
// callback must not call Start or Stop of its own timer (it would join itself).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

class CallbackTimer {
public:
    CallbackTimer() = default;
    ~CallbackTimer();

    CallbackTimer(const CallbackTimer&) = delete;
    CallbackTimer& operator=(const CallbackTimer&) = delete;

    // Stops a running timer, then starts a new timer thread. An interval of 0
    // or less calls the callback again without waiting.
    void Start(int32_t intervalMs, std::function<void()> callback);

    // Like Start, but |callback| returns whether it has more work: after a
    // call that returns false the timer waits for Wake instead of the interval.
    void StartOnDemand(int32_t intervalMs, std::function<bool()> callback);
    // Like StartOnDemand, but |callback| returns the milliseconds to wait
    // before the next call (0: none), or kUntilWoken to wait for Wake.
    static constexpr int32_t kUntilWoken = -1;
    // Or it returns UntilWokenOrAfter(ms): wait for Wake, but call again
    // after |ms| at the latest.
    static constexpr int32_t UntilWokenOrAfter(int32_t ms) { return kUntilWoken - ms; }
    void StartPaced(std::function<int32_t()> callback);
    // Makes a timer that waits for work call its callback at once. A timer
    // that is counting its interval keeps its pace.
    void Wake();
    // Like Wake, but a timer that is counting its interval calls at once too,
    // for a change the user should see without waiting for the pace. At most
    // one interval a call is cut short this way, so a flood of WakeNow still
    // makes no more than two calls an interval.
    void WakeNow();

    // Ends the timer thread and waits for it; a callback that is running
    // finishes first. No call starts after Stop has returned.
    void Stop();

private:
    void Loop(const std::function<int32_t()>& callback);

    std::atomic<bool> m_running{false};
    std::thread m_thread;
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    bool m_wakeRequested = false;     // guarded by m_wakeMutex
    bool m_wakeNowRequested = false;  // guarded by m_wakeMutex
};
