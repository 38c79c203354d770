#include "elements/DialPacer.h"

#include <algorithm>
#include <limits>

namespace {

// The sum of many turns, kept within what one command can carry.
int32_t Narrow(int64_t ticks) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(ticks, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

}  // namespace

std::optional<int32_t> DialPacer::Turn(const std::string& context, int32_t ticks, Clock::time_point now) {
    auto found = m_dials.find(context);
    if (found == m_dials.end() || now - found->second.lastSent >= kPace) {
        Dial& dial = m_dials[context];
        const int32_t total = Narrow(dial.waiting + ticks);
        dial = Dial{now, 0, false};
        return total;
    }
    found->second.waiting += ticks;
    found->second.hasWaiting = true;
    return std::nullopt;
}

std::vector<std::pair<std::string, int32_t>> DialPacer::TakeDue(Clock::time_point now) {
    std::vector<std::pair<std::string, int32_t>> due;
    for (auto& [context, dial] : m_dials) {
        if (!dial.hasWaiting || now - dial.lastSent < kPace) continue;
        due.emplace_back(context, Narrow(dial.waiting));
        dial = Dial{now, 0, false};
    }
    return due;
}

std::optional<int32_t> DialPacer::MsUntilDue(Clock::time_point now) const {
    std::optional<int32_t> soonest;
    for (const auto& [context, dial] : m_dials) {
        if (!dial.hasWaiting) continue;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(dial.lastSent + kPace - now).count();
        const auto wait = static_cast<int32_t>(std::max<int64_t>(left, 0));
        if (!soonest || wait < *soonest) soonest = wait;
    }
    return soonest;
}

void DialPacer::Forget(const std::string& context) {
    m_dials.erase(context);
}

std::vector<std::string> DialPacer::Clear() {
    std::vector<std::string> dropped;
    for (const auto& [context, dial] : m_dials)
        if (dial.hasWaiting) dropped.push_back(context);
    m_dials.clear();
    return dropped;
}
