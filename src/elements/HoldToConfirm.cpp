#include "elements/HoldToConfirm.h"

#include <algorithm>

#include "diagnostics/Log.h"
#include "elements/CatalogueElements.h"
#include "elements/KeyPainter.h"
#include "graphics/Graphics.h"

using json = nlohmann::json;

namespace {

// The face's label lies in rows 104 to 134 of 144 (art/images_list.py
// LABEL_BOX): the fill keeps out of it, its veil above it, its bar below it.
// The hint's title ("Hold") takes the label's place instead: the host draws it
// where the streamer's titles go, so the label makes way under an even band
// (inside the key's rounded corners) rather than show through it.
constexpr double kLabelTop = KeyPainter::kLabelTop;
constexpr double kLabelBottom = KeyPainter::kLabelBottom;
constexpr double kBandLeft = KeyPainter::kLabelInset;
constexpr double kBarTop = 136.0 / 144;
constexpr uint32_t kBandColour = 0xFF0D0E12;  // the key's background, dimmed as the hint dims it
constexpr uint32_t kVeilColour = 0x55FFFFFF;
constexpr uint32_t kTrackColour = 0xB0000000;
constexpr uint32_t kFillColour = 0xFFFFB020;
constexpr uint32_t kDimColour = 0x99000000;

HoldToConfirm::Clock::duration Seconds(double seconds) {
    return std::chrono::duration_cast<HoldToConfirm::Clock::duration>(std::chrono::duration<double>(seconds));
}

}  // namespace

HoldToConfirm::Choice HoldToConfirm::Read(const json& settings, const std::string& owner,
                                          const std::string& context) {
    // Read as the settings pages read them: a box shown ticked holds to confirm.
    Choice choice;
    const json enabled = SettingOf(settings, "hold_to_confirm");
    if (const std::optional<bool> flag = SettingToFlag(enabled)) {
        choice.enabled = *flag;
    } else if (!enabled.is_null()) {
        LogWarning("HoldToConfirm::Read: '%s' ('%s'): hold_to_confirm is not a flag; off", context.c_str(),
                   owner.c_str());
    }
    const json seconds = SettingOf(settings, "hold_seconds");
    if (const std::optional<double> number = SettingToDecimal(seconds)) {
        choice.seconds = std::clamp(*number, kShortestSeconds, kLongestSeconds);
    } else if (!seconds.is_null() && choice.enabled) {
        LogWarning("HoldToConfirm::Read: '%s' ('%s'): hold_seconds is not a number; %.1f s", context.c_str(),
                   owner.c_str(), kDefaultSeconds);
    }
    return choice;
}

void HoldToConfirm::Press(const std::string& context, double seconds, json payload, Clock::time_point now) {
    m_keys[context] = Key{Phase::Holding, now, Seconds(seconds), std::move(payload)};
}

bool HoldToConfirm::Release(const std::string& context, Clock::time_point now) {
    auto found = m_keys.find(context);
    if (found == m_keys.end()) return false;
    Key& key = found->second;
    switch (key.phase) {
        case Phase::Holding:
            // Released early: nothing is sent, the key says how to use it.
            key = Key{Phase::Hint, now, Clock::duration::zero(), json()};
            return true;
        case Phase::Done:
            m_keys.erase(found);
            return true;
        case Phase::Hint:
            return false;  // a key up without its key down: not ours
    }
    return false;
}

std::vector<HoldToConfirm::Confirmed> HoldToConfirm::TakeConfirmed(Clock::time_point now) {
    std::vector<Confirmed> confirmed;
    for (auto& [context, key] : m_keys) {
        if (key.phase != Phase::Holding || now - key.since < key.length) continue;
        key.phase = Phase::Done;
        confirmed.push_back(Confirmed{context, std::move(key.payload)});
    }
    return confirmed;
}

std::vector<std::string> HoldToConfirm::TakeEndedHints(Clock::time_point now) {
    std::vector<std::string> ended;
    for (auto it = m_keys.begin(); it != m_keys.end();) {
        if (it->second.phase == Phase::Hint && now - it->second.since >= Seconds(kHintSeconds)) {
            ended.push_back(it->first);
            it = m_keys.erase(it);
        } else {
            ++it;
        }
    }
    return ended;
}

bool HoldToConfirm::Cancel(const std::string& context) {
    m_drawn.erase(context);
    return m_keys.erase(context) > 0;
}

std::optional<double> HoldToConfirm::Progress(const std::string& context, Clock::time_point now) const {
    auto found = m_keys.find(context);
    if (found == m_keys.end() || found->second.phase != Phase::Holding) return std::nullopt;
    const Key& key = found->second;
    if (key.length <= Clock::duration::zero()) return 1.0;
    const double done = std::chrono::duration<double>(now - key.since) / key.length;
    return std::clamp(done, 0.0, 1.0);
}

bool HoldToConfirm::ShowsHint(const std::string& context) const {
    auto found = m_keys.find(context);
    return found != m_keys.end() && found->second.phase == Phase::Hint;
}

bool HoldToConfirm::Busy() const {
    return !m_drawn.empty() || std::any_of(m_keys.begin(), m_keys.end(), [](const auto& entry) {
        return entry.second.phase != Phase::Done;
    });
}

int HoldToConfirm::Mark(const std::string& context, Clock::time_point now) const {
    if (ShowsHint(context)) return kHintMark;
    const std::optional<double> progress = Progress(context, now);
    if (!progress) return kNoMark;
    return 1 + static_cast<int>(*progress * kFillSteps);
}

void HoldToConfirm::Drew(const std::string& context, int mark) {
    if (mark == kNoMark) {
        m_drawn.erase(context);
    } else {
        m_drawn[context] = Drawn{mark, ++m_draws};
    }
}

std::vector<std::string> HoldToConfirm::StaleMarks(Clock::time_point now, size_t limit) const {
    std::vector<std::pair<uint64_t, const std::string*>> stale;  // (last drawn, key)
    for (const auto& [context, key] : m_keys) {
        if (m_drawn.count(context) == 0 && Mark(context, now) != kNoMark) stale.emplace_back(0, &context);
    }
    for (const auto& [context, drawn] : m_drawn) {
        if (Mark(context, now) != drawn.mark) stale.emplace_back(drawn.order, &context);
    }
    const size_t count = std::min(limit, stale.size());
    std::partial_sort(stale.begin(), stale.begin() + count, stale.end());
    std::vector<std::string> keys;
    for (size_t i = 0; i < count; ++i) keys.push_back(*stale[i].second);
    return keys;
}

std::vector<std::string> HoldToConfirm::HoldingKeys() const {
    std::vector<std::string> holding;
    for (const auto& [context, key] : m_keys)
        if (key.phase == Phase::Holding) holding.push_back(context);
    return holding;
}

std::unique_ptr<Graphics> HoldToConfirm::Marked(const std::string& context, const Graphics& image,
                                                Clock::time_point now) const {
    const std::optional<double> progress = Progress(context, now);
    if (!progress && !ShowsHint(context)) return nullptr;
    auto marked = std::make_unique<Graphics>(image);
    if (progress) {
        DrawProgress(*marked, *progress);
    } else {
        DrawHint(*marked);
    }
    return marked;
}

void HoldToConfirm::DrawProgress(Graphics& image, double progress) {
    progress = std::clamp(progress, 0.0, 1.0);
    image.FillRect(0, kLabelTop * (1 - progress), 1, kLabelTop * progress, kVeilColour);
    image.FillRect(0, kBarTop, 1, 1 - kBarTop, kTrackColour);
    image.FillRect(0, kBarTop, progress, 1 - kBarTop, kFillColour);
}

void HoldToConfirm::DrawHint(Graphics& image) {
    image.FillRect(0, 0, 1, kLabelTop, kDimColour);
    image.FillRect(kBandLeft, kLabelTop, 1 - 2 * kBandLeft, kLabelBottom - kLabelTop, kBandColour);
    image.FillRect(0, kBarTop, 1, 1 - kBarTop, kTrackColour);
}
