#include "elements/CallbackTimer.h"

#include <chrono>

CallbackTimer::~CallbackTimer() {
    Stop();
}

void CallbackTimer::Start(int32_t intervalMs, std::function<void()> callback) {
    Stop();
    m_running = true;
    m_thread =
        std::thread([this, intervalMs, callback = std::move(callback)] { Loop(intervalMs, callback); });
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

void CallbackTimer::Loop(int32_t intervalMs, const std::function<void()>& callback) {
    while (m_running) {
        callback();
        if (intervalMs <= 0) continue;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(intervalMs);
        std::unique_lock<std::mutex> lock(m_wakeMutex);
        m_wake.wait_until(lock, deadline, [this] { return !m_running; });
    }
}
