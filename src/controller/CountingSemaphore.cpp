#include "controller/CountingSemaphore.h"

void CountingSemaphore::Release() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_count;
    }
    m_available.notify_one();
}

void CountingSemaphore::Acquire() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_available.wait(lock, [this] { return m_count > 0; });
    --m_count;
}

bool CountingSemaphore::TryAcquire() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_count == 0) return false;
    --m_count;
    return true;
}
