#pragma once
// A count guarded by its own mutex with a condition variable. Release adds
// one and wakes one waiter; Acquire waits until the count is above zero and
// takes one; TryAcquire takes one only if one is there. Any thread.

#include <condition_variable>
#include <cstdint>
#include <mutex>

class CountingSemaphore {
public:
    explicit CountingSemaphore(uint32_t initial = 0) : m_count(initial) {}

    void Release();
    void Acquire();
    bool TryAcquire();

private:
    std::mutex m_mutex;  // guards m_count
    std::condition_variable m_available;
    uint32_t m_count;
};
