#pragma once
// Calls one callback over and over on a thread of its own: at once when
// started, then again each time the interval has passed after the previous
// call returned (so the period is the interval plus the callback's time).
//
// Threads: Start, Stop and the destructor are called by the owner's thread;
// the callback runs on the timer thread. m_running is read by the timer
// thread without a lock; m_wakeMutex only pairs with m_wake, so that Stop
// wakes a waiting timer thread at once instead of after the interval. The
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

    // Ends the timer thread and waits for it; a callback that is running
    // finishes first. No call starts after Stop has returned.
    void Stop();

private:
    void Loop(int32_t intervalMs, const std::function<void()>& callback);

    std::atomic<bool> m_running{false};
    std::thread m_thread;
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
};
