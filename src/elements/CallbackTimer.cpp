#include "elements/CallbackTimer.h"

#include <algorithm>
#include <chrono>

#include "diagnostics/CrashReportThread.h"

CallbackTimer::~CallbackTimer() {
    Stop();
}

void CallbackTimer::Start(int32_t intervalMs, std::function<void()> callback) {
    StartOnDemand(intervalMs, [callback = std::move(callback)] {
        callback();
        return true;
    });
}

void CallbackTimer::StartOnDemand(int32_t intervalMs, std::function<bool()> callback) {
    StartPaced([intervalMs, callback = std::move(callback)] {
        return callback() ? std::max<int32_t>(intervalMs, 0) : kUntilWoken;
    });
}

void CallbackTimer::StartPaced(std::function<int32_t()> callback) {
    Stop();
    m_running = true;
    m_thread = std::thread([this, callback = std::move(callback)] { Loop(callback); });
}

void CallbackTimer::Wake() {
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        m_wakeRequested = true;
    }
    m_wake.notify_all();
}

void CallbackTimer::WakeNow() {
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        m_wakeRequested = true;
        m_wakeNowRequested = true;
    }
    m_wake.notify_all();
}

void CallbackTimer::Stop() {
    {
        // Cleared under the wake mutex so that a timer thread between its test
        // of m_running and its wait cannot miss the notification.
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        m_running = false;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void CallbackTimer::Loop(const std::function<int32_t()>& callback) {
    PrepareThreadForCrashReports();
    bool mayCutShort = true;  // false right after an interval that WakeNow cut short
    while (m_running) {
        const int32_t waitMs = callback();
        std::unique_lock<std::mutex> lock(m_wakeMutex);
        if (waitMs == kUntilWoken) {
            // A Wake made during the call is still pending here, so none is lost.
            m_wake.wait(lock, [this] { return !m_running || m_wakeRequested; });
            mayCutShort = true;
        } else if (waitMs < kUntilWoken) {
            const auto deadline =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(kUntilWoken - waitMs);
            m_wake.wait_until(lock, deadline, [this] { return !m_running || m_wakeRequested; });
            mayCutShort = true;
        } else if (waitMs > 0) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
            const bool cut = m_wake.wait_until(lock, deadline, [this, mayCutShort] {
                return !m_running || (mayCutShort && m_wakeNowRequested);
            });
            mayCutShort = !cut;
        }
        // The call that follows sees everything that asked for it.
        m_wakeRequested = false;
        m_wakeNowRequested = false;
    }
}
