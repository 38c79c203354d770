#pragma once
// A moment by which HTTP posts must end, shared by the posts that are given
// it and the thread that may bring it forward, so that a caller can cut
// posts already under way short: the exit sequence ends the telemetry posts
// it no longer waits for, the crash report uploader its current upload.
//
// Threads: any thread may read it or bring it forward at any time; the
// moment is one atomic value.

#include <atomic>
#include <chrono>

class HttpPostDeadline {
public:
    using Clock = std::chrono::steady_clock;

    // Never, until brought forward.
    HttpPostDeadline();

    Clock::time_point At() const;
    bool Passed() const { return Clock::now() >= At(); }

    // Moves the moment to |at| when that is earlier; never later.
    void BringForward(Clock::time_point at);

    HttpPostDeadline(const HttpPostDeadline&) = delete;
    HttpPostDeadline& operator=(const HttpPostDeadline&) = delete;

private:
    std::atomic<Clock::rep> m_ticks;  // time since the clock's epoch
};
