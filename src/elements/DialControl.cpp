#include "elements/DialControl.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <utility>

#include "controller/Messages.h"
#include "diagnostics/Log.h"
#include "elements/CatalogueElements.h"
#include "elements/KeyTexts.h"
#include "host/ESDConnectionManager.h"

using json = nlohmann::json;

namespace {

constexpr int32_t kDefaultDialStep = 5;
constexpr int32_t kLargestStep = 100;  // one command never moves the volume further than its whole range

// A numeric setting, or |fallback| when it is missing or not a number (that
// costs one log line naming the setting).
int32_t NumberSetting(const json& settings, const char* key, int32_t fallback, const std::string& owner) {
    const json value = SettingOf(settings, key);
    if (value.is_null()) return fallback;
    try {
        return SettingToInt(value);
    } catch (const std::exception& error) {
        LogWarning("DialControl::NumberSetting: '%s' of '%s': %s", key, owner.c_str(), error.what());
        return fallback;
    }
}

// The step of one tick: a level dial has a step of its own ("dial_step"); a
// nudging dial nudges by the step its settings page sets ("volume_step").
int32_t DialStep(const json& settings, bool setsLevel, const std::string& owner) {
    const char* key = setsLevel ? "dial_step" : "volume_step";
    return std::clamp(NumberSetting(settings, key, kDefaultDialStep, owner), 1, kLargestStep);
}

int32_t DialLevel(const json& settings, const std::string& owner) {
    return std::clamp(NumberSetting(settings, "volume_value", 0, owner), 0, 100);
}

}  // namespace

DialControl::DialControl(DialSetup setup, Element& element, std::string name)
    : m_setup(std::move(setup)), m_element(element), m_name(std::move(name)) {
    if (!m_setup.volume) m_setup.volume = std::make_shared<KnownVolume>();
    // A level learnt through another action shows on this one's strips too.
    m_volumeWatch = m_setup.volume->Watch([this] {
        for (const std::string& context : m_dials) Show(context);
    });
}

DialControl::~DialControl() {
    m_setup.volume->Unwatch(m_volumeWatch);
}

void DialControl::Appear(ESDConnectionManager& connection, const std::string& context, bool asDial) {
    Disappear(context);  // an appearance starts afresh, as a key or as a dial
    if (!asDial) return;
    m_dials.insert(context);
    connection.SetFeedbackLayout("$B1", context);
    connection.SetTriggerDescription({{"rotate", KeyTexts::Get(KeyTexts::Text::DialRotate)},
                                      {"push", KeyTexts::Get(KeyTexts::Text::DialMute)},
                                      {"touch", KeyTexts::Get(KeyTexts::Text::DialMute)}},
                                     context);
}

void DialControl::Disappear(const std::string& context) {
    m_dials.erase(context);
    m_feedbackShown.erase(context);
    m_pacer.Forget(context);
    m_levelSent.erase(context);
    m_levelTaken.erase(context);
}

bool DialControl::IsDial(const std::string& context) const {
    return m_dials.count(context) != 0;
}

size_t DialControl::RecordCount() const {
    return m_dials.size() + m_feedbackShown.size() + m_levelSent.size() + m_levelTaken.size();
}

std::optional<int32_t> DialControl::WaitMs() const {
    return m_pacer.MsUntilDue(DialPacer::Clock::now());
}

void DialControl::Rotate(const std::string& context, int32_t ticks) {
    // The stored settings, not the event's: the host's copy lags behind the
    // level that the turns before this one have set.
    json* settings = m_element.DialSettings(context);
    if (settings == nullptr) return;
    if (m_setup.setsLevel) {
        m_levelTaken.emplace(context,
                             DialLevel(*settings, m_name));  // what the controller has until told otherwise
        const int64_t moved = static_cast<int64_t>(DialLevel(*settings, m_name)) +
                              static_cast<int64_t>(ticks) * DialStep(*settings, true, m_name);
        (*settings)["volume_value"] = std::clamp<int64_t>(moved, 0, 100);
        Show(context);
        m_element.DialSettingChanged(context, "volume_value");
    }
    if (auto now = m_pacer.Turn(context, ticks, DialPacer::Clock::now())) SendTurn(context, *now);
}

void DialControl::Push(const std::string& context) {
    json* settings = m_element.DialSettings(context);
    if (settings == nullptr) return;
    m_element.SendDialCommand(*m_setup.client, context, m_setup.muteCommands.at(m_muteIndex), *settings,
                              Outcome("DialControl::Push", context));
}

std::function<void(bool)> DialControl::Outcome(const char* operation, const std::string& context) {
    return [this, operation, context](bool accepted) {
        if (accepted) return;
        LogWarning("%s: '%s' ('%s'): the controller did not take the command", operation, context.c_str(),
                   m_name.c_str());
        // The streamer sees on the strip that the turn or push did nothing.
        ESDConnectionManager* connection = m_element.DialConnection(context);
        if (connection != nullptr && IsDial(context)) connection->ShowAlert(context);
    };
}

std::function<void(bool)> DialControl::LevelOutcome(const std::string& context, const json& level) {
    std::function<void(bool)> refused = Outcome("DialControl::SendTurn", context);
    return [this, context, level, refused](bool accepted) {
        if (accepted) {
            if (IsDial(context)) m_levelTaken[context] = level;
            m_setup.volume->Set(DialLevel(json{{"volume_value", level}}, m_name));
            return;
        }
        refused(false);
        json* settings = m_element.DialSettings(context);
        auto taken = m_levelTaken.find(context);
        // A later turn has moved the level since: its own outcome decides.
        if (!IsDial(context) || settings == nullptr || taken == m_levelTaken.end() ||
            (*settings)["volume_value"] != level)
            return;
        m_levelSent[context] = taken->second;
        ShowAndStoreLevel(context, taken->second);
    };
}

void DialControl::ShowAndStoreLevel(const std::string& context, const json& level) {
    json* settings = m_element.DialSettings(context);
    (*settings)["volume_value"] = level;
    Show(context);
    m_element.DialSettingChanged(context, "volume_value");
    // The level a dial shows survives a restart of the plug-in or the host.
    if (ESDConnectionManager* connection = m_element.DialConnection(context))
        connection->SetSettings(*settings, context);
}

void DialControl::SendTurn(const std::string& context, int32_t ticks) {
    json settings = *m_element.DialSettings(context);
    if (m_setup.setsLevel) {
        // Recorded before the command goes: a command the client cannot queue
        // is refused at once, inside the send.
        const json level = settings["volume_value"];
        m_levelSent[context] = level;
        ShowAndStoreLevel(context, level);
        m_element.SendDialCommand(*m_setup.client, context, m_setup.levelCommand, settings,
                                  LevelOutcome(context, level));
        return;
    }
    if (ticks == 0) return;  // turned back and forth within one pace
    // One nudge for the turns of one pace, as far as they would have gone one by one.
    const int64_t step =
        static_cast<int64_t>(DialStep(settings, false, m_name)) * std::abs(static_cast<int64_t>(ticks));
    const int64_t nudge = std::min<int64_t>(step, kLargestStep);
    settings["volume_step"] = nudge;
    std::function<void(bool)> refused = Outcome("DialControl::SendTurn", context);
    m_element.SendDialCommand(*m_setup.client, context, ticks > 0 ? m_setup.nudgeUp : m_setup.nudgeDown,
                              settings, [this, refused, moved = ticks > 0 ? nudge : -nudge](bool accepted) {
                                  if (accepted) m_setup.volume->Nudge(moved);
                                  refused(accepted);
                              });
}

void DialControl::KeyCommandTaken(const json& settings) {
    if (m_setup.setsLevel) {
        m_setup.volume->Set(DialLevel(settings, m_name));
    } else {
        m_setup.volume->Nudge(static_cast<int64_t>(m_setup.nudgeSign) * DialStep(settings, false, m_name));
    }
}

void DialControl::DropHeldBackTurns() {
    for (const std::string& context : m_pacer.Clear()) {
        auto sent = m_levelSent.find(context);
        json* settings = m_element.DialSettings(context);
        if (sent == m_levelSent.end() || settings == nullptr) continue;
        (*settings)["volume_value"] = sent->second;
        Show(context);
        m_element.DialSettingChanged(context, "volume_value");
    }
}

void DialControl::SendDueTurns() {
    for (const auto& [context, ticks] : m_pacer.TakeDue(DialPacer::Clock::now())) {
        if (!m_element.DialActive() || !IsDial(context)) continue;
        try {
            SendTurn(context, ticks);
        } catch (const std::exception& error) {
            LogWarning("DialControl::SendDueTurns: '%s' ('%s'): %s", context.c_str(), m_name.c_str(),
                       error.what());
        }
    }
}

json DialControl::Feedback(const std::string& context) {
    const json& settings = *m_element.DialSettings(context);
    const std::string state = m_element.DialStateName();
    const bool active = state == "online";
    const bool muted = m_muteIndex != 0;
    std::string text;
    if (state == "login") {
        text = KeyTexts::Get(KeyTexts::Text::SignedOut);
    } else if (state == "unsupported") {
        text = KeyTexts::Get(KeyTexts::Text::NotSupported);
    } else if (!active) {
        text = KeyTexts::Get(KeyTexts::Text::Offline);
    } else if (muted) {
        text = KeyTexts::Get(KeyTexts::Text::Muted);
    } else if (m_setup.setsLevel) {
        text = std::to_string(DialLevel(settings, m_name)) + " %";
    } else {
        text = NudgeText(settings);
    }
    // A nudging dial's bar shows the volume while the plug-in knows it, and
    // is hidden, not empty, while it does not: an empty bar would say 0 %.
    const std::optional<int32_t> level =
        m_setup.setsLevel ? DialLevel(settings, m_name) : m_setup.volume->Level();
    const double barOpacity = !level ? 0.0 : !active ? 0.3 : muted ? 0.5 : 1.0;
    return {{"icon", {{"value", muted ? m_setup.mutedIcon : m_setup.icon}, {"opacity", active ? 1.0 : 0.3}}},
            {"value", text},
            {"indicator", {{"value", level.value_or(0)}, {"opacity", barOpacity}}}};
}

std::string DialControl::NudgeText(const json& settings) const {
    // U+2212, the minus sign, as wide as the plus sign beside it on the strip.
    const char* sign = m_setup.nudgeSign < 0 ? "\u2212" : "+";
    return sign + std::to_string(DialStep(settings, false, m_name)) + " %";
}

void DialControl::Show(const std::string& context) {
    ESDConnectionManager* connection = m_element.DialConnection(context);
    if (connection == nullptr) return;
    json feedback = Feedback(context);
    auto shown = m_feedbackShown.find(context);
    if (shown != m_feedbackShown.end() && shown->second == feedback) return;  // the strip shows it already
    connection->SetFeedback(feedback, context);
    m_feedbackShown[context] = std::move(feedback);
}

void DialControl::ForgetShown() {
    m_feedbackShown.clear();
}

void DialControl::FollowReport(const EventMessage& event) {
    const ControllerEvent& meaning = event.Meaning();
    if (meaning.kind == ControllerEvent::Kind::LinkDown) m_setup.volume->Forget();
    if (meaning.kind != ControllerEvent::Kind::FunctionState || meaning.function != m_setup.muteFunction)
        return;
    for (size_t index = 0; index < m_setup.muteStates.size(); ++index) {
        if (m_setup.muteStates[index] != meaning.state) continue;
        m_muteIndex = index;
        for (const std::string& context : m_dials) Show(context);
        return;
    }
}
