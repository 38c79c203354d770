#include "elements/KnownVolume.h"

#include <algorithm>
#include <utility>

void KnownVolume::Set(int64_t level) {
    Become(static_cast<int32_t>(std::clamp<int64_t>(level, 0, 100)));
}

void KnownVolume::Nudge(int64_t delta) {
    if (m_level) Set(static_cast<int64_t>(*m_level) + delta);
}

void KnownVolume::Forget() {
    Become(std::nullopt);
}

size_t KnownVolume::Watch(Watcher watcher) {
    m_watchers.emplace(m_nextWatcher, std::move(watcher));
    return m_nextWatcher++;
}

void KnownVolume::Unwatch(size_t id) {
    m_watchers.erase(id);
}

void KnownVolume::Become(std::optional<int32_t> level) {
    if (level == m_level) return;
    m_level = level;
    for (const auto& [id, watcher] : m_watchers) watcher();
}
