#include "telemetry/HttpPostDeadline.h"

HttpPostDeadline::HttpPostDeadline() : m_ticks(Clock::time_point::max().time_since_epoch().count()) {}

HttpPostDeadline::Clock::time_point HttpPostDeadline::At() const {
    return Clock::time_point(Clock::duration(m_ticks.load()));
}

void HttpPostDeadline::BringForward(Clock::time_point at) {
    Clock::rep wanted = at.time_since_epoch().count();
    Clock::rep current = m_ticks.load();
    while (wanted < current && !m_ticks.compare_exchange_weak(current, wanted)) {
    }
}
