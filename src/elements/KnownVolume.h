#pragma once
// The media requests' volume as far as the plug-in knows it: the level the
// controller last took from a level command (key or dial), moved by the
// nudges it took since. The controller never reports the volume, so the
// level is unknown until a level command is taken, and again once the link
// to the controller has gone down (the streaming software may have started
// afresh with another volume). Shared by the volume actions of one
// catalogue, so that a nudge dial shows the level that a level key set.
//
// Threads: none of its own. Every call is made with the control elements
// manager's lock held (the contract of its owners, the volume elements and
// their dials), and that lock guards it; watchers run inside the call that
// changed the level.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>

class KnownVolume {
public:
    using Watcher = std::function<void()>;

    // The level from 0 to 100, or nothing while it is unknown.
    std::optional<int32_t> Level() const { return m_level; }
    // The controller took the level |level| (clamped to 0..100).
    void Set(int64_t level);
    // The controller took a nudge by |delta|: a known level moves by it
    // (within 0..100); an unknown one stays unknown.
    void Nudge(int64_t delta);
    void Forget();

    // |watcher| runs after every change of the level until Unwatch(id).
    size_t Watch(Watcher watcher);
    void Unwatch(size_t id);

private:
    void Become(std::optional<int32_t> level);

    std::optional<int32_t> m_level;
    std::map<size_t, Watcher> m_watchers;
    size_t m_nextWatcher = 0;
};
