#include "elements/ControlElementBase.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <optional>

#include "controller/ControllerClient.h"
#include "controller/ElementAddress.h"
#include "controller/Messages.h"
#include "diagnostics/Log.h"
#include "diagnostics/LogText.h"
#include "elements/CatalogueElements.h"
#include "elements/KeyTexts.h"
#include "elements/StateImageFactory.h"
#include "graphics/Graphics.h"
#include "graphics/ResolveModulePath.h"
#include "host/ESDConnectionManager.h"

using json = nlohmann::json;

namespace {

constexpr int32_t kSupportedBit = 4;
constexpr int32_t kSignedInBit = 2;
constexpr int32_t kConnectedBit = 1;
constexpr double kTransientSeconds = 1.5;

}  // namespace

ControlElementBase::ControlElementBase(const std::string& name, const json& defaultSettings)
    : m_name(name),
      m_transientSince(std::chrono::steady_clock::now()),
      m_stateImageFactory(AcquireStateImageFactory()),
      m_defaultSettings(defaultSettings),
      m_managerLock(std::make_shared<std::recursive_mutex>()) {}

ControlElementBase::~ControlElementBase() = default;

bool ControlElementBase::IsActive() {
    return m_signedIn && m_supported;
}

bool ControlElementBase::IsSupported() {
    return m_supported;
}

void ControlElementBase::HandleKeyDown(const std::string&, const json&) {}

void ControlElementBase::KeyDown(const std::string& context, const json& payload) {
    if (!AllowsHoldToConfirm()) {
        Act(context, payload);
        return;
    }
    const HoldToConfirm::Choice choice =
        HoldToConfirm::Read(GetContextSettings(context, payload), m_name, context);
    if (!choice.enabled) {
        Act(context, payload);
        return;
    }
    if (!IsShown(context)) {
        // A hold is drawn and timed on a key on screen; a press elsewhere must not act at once.
        LogWarning("ControlElementBase::KeyDown: '%s' ('%s') holds to confirm but is not on screen; ignored",
                   context.c_str(), m_name.c_str());
        return;
    }
    const bool hadHint = m_hold.ShowsHint(context);
    m_hold.Press(context, choice.seconds, payload, HoldToConfirm::Clock::now());
    if (hadHint) RestoreTitle(context);
    UpdateGraphics(context);  // the empty bar shows at once that the hold began
    WakeTimer();
}

void ControlElementBase::KeyUp(const std::string& context, const json& payload) {
    const auto now = HoldToConfirm::Clock::now();
    // Held for the whole time but released before the tick saw it: it counts.
    ActOnConfirmedHolds(now);
    if (!m_hold.Release(context, now)) {
        if (!IsDial(context)) HandleKeyUp(context, payload);
        return;
    }
    if (!m_hold.ShowsHint(context)) return;  // the key up after a completed hold
    for (const SdContextEntry& entry : m_sdContexts)
        if (entry.context == context)
            entry.connection->SetTitle(KeyTexts::Get(KeyTexts::Text::HoldHint), context);
    UpdateGraphics(context);
    WakeTimer();  // the hint ends at a tick
}

void ControlElementBase::ActOnConfirmedHolds(HoldToConfirm::Clock::time_point now) {
    for (HoldToConfirm::Confirmed& confirmed : m_hold.TakeConfirmed(now)) {
        UpdateGraphics(confirmed.context);  // the fill goes as the command leaves
        if (!IsActive()) {
            // As for a press while the link is down or the action unavailable.
            LogTrace("ControlElementBase::ActOnConfirmedHolds: '%s' ('%s') not active; nothing sent",
                     confirmed.context.c_str(), m_name.c_str());
            continue;
        }
        try {
            Act(confirmed.context, confirmed.payload);
        } catch (const std::exception& error) {
            // One key's faulty settings must not hold back the other keys' holds.
            LogWarning("ControlElementBase::ActOnConfirmedHolds: '%s' ('%s'): %s", confirmed.context.c_str(),
                       m_name.c_str(), error.what());
        }
    }
}

void ControlElementBase::Act(const std::string& context, const json& payload) {
    if (IsDial(context)) {
        DialPush(context);
    } else {
        HandleKeyDown(context, payload);
    }
}

void ControlElementBase::TickHolds() {
    const auto now = HoldToConfirm::Clock::now();
    ActOnConfirmedHolds(now);
    for (const std::string& context : m_hold.TakeEndedHints(now)) {
        RestoreTitle(context);
        UpdateGraphics(context);
    }
    for (const std::string& context : m_hold.HoldingKeys()) UpdateGraphics(context);
}

void ControlElementBase::CancelHold(const std::string& context) {
    const bool hint = m_hold.ShowsHint(context);
    if (!m_hold.Cancel(context)) return;
    if (hint) RestoreTitle(context);
    UpdateGraphics(context);
}

void ControlElementBase::RestoreTitle(const std::string& context) {
    for (const SdContextEntry& entry : m_sdContexts)
        if (entry.context == context) SendTitle(entry);
}

void ControlElementBase::SendTitle(const SdContextEntry& entry) const {
    // Without a title of the plug-in's own, the host shows the user's title
    // again; an empty title would hide it.
    if (m_title.empty()) {
        entry.connection->ResetTitle(entry.context);
    } else {
        entry.connection->SetTitle(m_title, entry.context);
    }
}

bool ControlElementBase::WantsQuickTicks() const {
    return !m_hold.HoldingKeys().empty();
}

void ControlElementBase::RedrawAll() {
    for (const SdContextEntry& entry : m_sdContexts)
        if (!m_title.empty()) entry.connection->SetTitle(m_title, entry.context);
    m_lastStateBits = -1;     // the next tick draws every key with its status
    m_feedbackShown.clear();  // and sends every strip again
    WakeTimer();
}

void ControlElementBase::HandleKeyUp(const std::string&, const json&) {}

void ControlElementBase::ShareTimerWake(std::function<void()> wake) {
    m_wakeTimer = std::move(wake);
}

void ControlElementBase::WakeTimer() const {
    if (m_wakeTimer) m_wakeTimer();
}

void ControlElementBase::ShareManagerLock(const std::shared_ptr<std::recursive_mutex>& managerLock) {
    m_managerLock = managerLock;
}

void ControlElementBase::MergeSettings(json& target, const json& payload) {
    if (!payload.contains("settings")) return;
    const json& settings = payload["settings"];
    // Shallow and exact: each member replaces the old value whole. A
    // "settings" that is neither an object nor null raises the JSON library's
    // invalid-iterator error from key().
    for (auto it = settings.begin(); it != settings.end(); ++it) target[it.key()] = it.value();
}

void ControlElementBase::AddSdContext(ESDConnectionManager* connection, const std::string& context,
                                      const json& payload) {
    LogTrace("ControlElementBase::AddSdContext: '%s' ('%s'): %s", context.c_str(), m_name.c_str(),
             LogText::Json(payload).c_str());
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    // One record per context: a context that appears again (without having
    // disappeared) takes the new connection and starts again from its settings.
    auto entry = FindEntry(context);
    if (entry == m_sdContexts.end()) {
        m_sdContexts.push_back(SdContextEntry{context, connection});
    } else {
        entry->connection = connection;
    }
    if (!m_title.empty()) connection->SetTitle(m_title, context);
    json& settings = m_settings[context];
    settings = m_defaultSettings;
    MergeSettings(settings, payload);
    m_contextImages[context] = nullptr;
    m_feedbackShown.erase(context);
    m_pacer.Forget(context);
    m_levelSent.erase(context);
    const auto controller = payload.is_object() ? payload.find("controller") : payload.end();
    if (m_dial && controller != payload.end() && *controller == "Encoder") {
        m_dials.insert(context);
        connection->SetFeedbackLayout("$B1", context);
        connection->SetTriggerDescription({{"rotate", KeyTexts::Get(KeyTexts::Text::DialRotate)},
                                           {"push", KeyTexts::Get(KeyTexts::Text::DialMute)},
                                           {"touch", KeyTexts::Get(KeyTexts::Text::DialMute)}},
                                          context);
    } else {
        m_dials.erase(context);
    }
    connection->GetSettings(context);
    UpdateGraphics(context);
    WakeTimer();  // the first tick draws the status overlay
}

void ControlElementBase::RemoveSdContext(ESDConnectionManager* connection, const std::string& context) {
    LogTrace("ControlElementBase::RemoveSdContext: '%s' ('%s')", context.c_str(), m_name.c_str());
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_sdContexts.erase(std::remove_if(m_sdContexts.begin(), m_sdContexts.end(),
                                      [&](const SdContextEntry& entry) {
                                          return entry.context == context && entry.connection == connection;
                                      }),
                       m_sdContexts.end());
    m_settings.erase(context);
    m_contextImages.erase(context);
    m_shownInspectors.erase(context);
    m_hold.Cancel(context);
    m_dials.erase(context);
    m_feedbackShown.erase(context);
    m_pacer.Forget(context);
    m_levelSent.erase(context);
}

std::vector<SdContextEntry>::iterator ControlElementBase::FindEntry(const std::string& context) {
    return std::find_if(m_sdContexts.begin(), m_sdContexts.end(),
                        [&](const SdContextEntry& entry) { return entry.context == context; });
}

bool ControlElementBase::IsShown(const std::string& context) const {
    return std::any_of(m_sdContexts.begin(), m_sdContexts.end(),
                       [&](const SdContextEntry& entry) { return entry.context == context; });
}

bool ControlElementBase::IsDial(const std::string& context) const {
    return m_dials.count(context) != 0;
}

size_t ControlElementBase::RecordCount() const {
    return m_sdContexts.size() + m_settings.size() + m_contextImages.size() + m_dials.size() +
           m_feedbackShown.size() + m_levelSent.size();
}

json* ControlElementBase::SettingsEntry(const std::string& context) {
    auto found = m_settings.find(context);
    if (found != m_settings.end()) return &found->second;
    if (!IsShown(context)) return nullptr;
    return &m_settings.emplace(context, m_defaultSettings).first->second;
}

json ControlElementBase::GetContextSettings(const std::string& context, const json& payload) {
    json* stored = SettingsEntry(context);
    if (stored == nullptr) {
        // Not on screen: the defaults with the payload's settings, kept nowhere.
        json settings = m_defaultSettings;
        MergeSettings(settings, payload);
        return settings;
    }
    MergeSettings(*stored, payload);
    return *stored;
}

bool ControlElementBase::SetContextImage(const std::string& context, std::shared_ptr<Graphics> image) {
    if (!IsShown(context)) return false;
    m_contextImages[context] = std::move(image);
    return true;
}

void ControlElementBase::SetImageFromFile(const std::string& fileName) {
    LogTrace("ControlElementBase::SetImageFromFile: '%s' ('%s')", fileName.c_str(), m_name.c_str());
    // Kept compressed (every redraw copies it anyway), and kept per file: a
    // multi-state key or the pump switches between its few files again and
    // again. A file that did not load is tried again next time.
    std::shared_ptr<Graphics>& kept = m_fileImages[fileName];
    if (!kept || !kept->HasImage())
        kept = std::make_shared<Graphics>(ResolveModulePath(fileName), Graphics::Keep::FileBytes);
    m_base_image = kept;
    UpdateGraphics("");
}

void ControlElementBase::SetTitleForAllContexts(const std::string& title) {
    m_title = title;
    for (const SdContextEntry& entry : m_sdContexts) SendTitle(entry);
}

void ControlElementBase::SetTransientOverlay(const std::shared_ptr<Graphics>& image) {
    m_transientOverlays.clear();
    m_transientOverlays.push_back(image);
    m_transientSince = std::chrono::steady_clock::now();
    UpdateGraphics("");
    WakeTimer();  // ticks until the overlay expires
}

void ControlElementBase::ShowAlertOverlay() {
    SetTransientOverlay(m_stateImageFactory->m_alertImage);
}

void ControlElementBase::ShowSuccessOverlay() {
    SetTransientOverlay(m_stateImageFactory->m_successImage);
}

void ControlElementBase::ComposeOverlays(Graphics& image) const {
    for (const auto& overlay : m_stateOverlays)
        if (overlay) image.Compose(*overlay);
    for (const auto& overlay : m_transientOverlays)
        if (overlay) image.Compose(*overlay);
}

void ControlElementBase::UpdateGraphics(const std::string& context) {
    // One composite per redraw, shared by every context that shows the base image.
    std::shared_ptr<Graphics> cache;
    ImageFactory defaultImageFactory = [this, &cache]() -> std::shared_ptr<Graphics> {
        if (!cache) {
            if (!m_base_image) {
                LogWarning(
                    "ControlElementBase::UpdateGraphics()::defaultImageFactory() called when m_base_image == "
                    "nullptr");
                return nullptr;
            }
            cache = std::make_shared<Graphics>(*m_base_image);
            ComposeOverlays(*cache);
        }
        return cache;
    };
    if (!context.empty()) {
        RenderContext(context, defaultImageFactory);
        return;
    }
    for (const SdContextEntry& entry : m_sdContexts) RenderContext(entry.context, defaultImageFactory);
}

void ControlElementBase::SendEncoded(const std::string& context, const Graphics& image) {
    std::string text;
    const std::optional<double> progress = m_hold.Progress(context, HoldToConfirm::Clock::now());
    if (!progress && !m_hold.ShowsHint(context)) {
        if (image.ToBase64Png(text)) SetImageBase64(context, text);
        return;
    }
    // Drawn over the key's current image, on a copy of its own.
    Graphics marked(image);
    if (progress) {
        HoldToConfirm::DrawProgress(marked, *progress);
    } else {
        HoldToConfirm::DrawHint(marked);
    }
    if (marked.ToBase64Png(text)) SetImageBase64(context, text);
}

void ControlElementBase::RenderContext(const std::string& context, const ImageFactory& factory) {
    if (IsDial(context)) {
        ShowDial(context);  // a dial shows its strip, not a key image
        return;
    }
    auto own = m_contextImages.find(context);
    if (own != m_contextImages.end() && own->second) {
        Graphics copy(*own->second);
        ComposeOverlays(copy);
        SendEncoded(context, copy);
        return;
    }
    if (!factory) return;
    std::shared_ptr<Graphics> image = factory();
    if (image) SendEncoded(context, *image);
}

bool ControlElementBase::SetImageBase64(const std::string& context, const std::string& image) {
    for (const SdContextEntry& entry : m_sdContexts) {
        if (entry.context != context) continue;
        LogTrace("SetImageBase64: %s", context.c_str());
        entry.connection->SetImage(image, context);
        return true;
    }
    LogWarning("SetImageBase64: requested sdContext '%s' does not exist in m_sdContexts", context.c_str());
    return false;
}

int32_t ControlElementBase::StatusBits() const {
    return (m_supported ? kSupportedBit : 0) | (m_signedIn ? kSignedInBit : 0) |
           (m_connected ? kConnectedBit : 0);
}

std::shared_ptr<Graphics> ControlElementBase::ChooseStatusOverlay() const {
    if (!m_connected) return m_stateImageFactory->m_offlineImage;
    if (!m_signedIn) return m_stateImageFactory->m_loggedOutImage;
    if (!m_supported) return m_stateImageFactory->m_notSupportedImage;
    return nullptr;
}

void ControlElementBase::HandleTimerTick() {
    SendDueTurns();
    TickHolds();
    const int32_t bits = StatusBits();
    if (bits != m_lastStateBits) {
        m_stateOverlays.clear();
        if (auto overlay = ChooseStatusOverlay()) m_stateOverlays.push_back(overlay);
        UpdateGraphics("");
        m_lastStateBits = bits;
    }
    if (m_transientOverlays.empty()) return;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_transientSince).count();
    if (elapsed > kTransientSeconds) {
        LogTrace("Transient overlays reset after %f seconds", elapsed);
        m_transientOverlays.clear();
        UpdateGraphics("");
    }
}

bool ControlElementBase::HasTimerWork() const {
    return StatusBits() != m_lastStateBits || !m_transientOverlays.empty() || m_hold.Busy();
}

void ControlElementBase::HandleEventMessage(const EventMessage& event) {
    WakeTimer();  // a reported status is drawn at the next tick
    const ControllerEvent& meaning = event.Meaning();
    switch (meaning.kind) {
        case ControllerEvent::Kind::LinkUp:
            m_connected = true;
            break;
        case ControllerEvent::Kind::LinkDown:
            m_connected = m_signedIn = m_supported = false;
            break;
        case ControllerEvent::Kind::SignInState:
            m_signedIn = meaning.signedIn;
            if (!meaning.signedIn) m_supported = false;
            break;
        case ControllerEvent::Kind::Support: {
            auto found = meaning.support.find(m_name);
            if (found != meaning.support.end()) m_supported = found->second;
            break;
        }
        default:
            break;
    }
    FollowMuteState(event);
    // A key that can no longer act lets go of its holds, as it would refuse a
    // press, and a dial's held-back turns are dropped, not sent later.
    if (!IsActive()) {
        for (const SdContextEntry& entry : m_sdContexts) CancelHold(entry.context);
        DropHeldBackTurns();
    }
    // A shown property inspector follows every change; closed ones hear nothing.
    for (const std::string& context : m_shownInspectors) SendPropertyInspectorData(context);
}

void ControlElementBase::SetSandboxGrantCommand(const std::string& grantCommand) {
    m_sandboxGrantCommand = grantCommand;
}

std::string ControlElementBase::GetStateName() {
    // In a sandbox the link may be down only because the socket is hidden.
    if (!m_connected) return m_sandboxGrantCommand.empty() ? "offline" : "sandboxed";
    if (!m_signedIn) return "login";
    if (!m_supported) return "unsupported";
    return "online";
}

void ControlElementBase::HandlePropertyInspectorRequest(const std::string& context) {
    if (!IsShown(context)) {
        LogWarning(
            "ControlElementBase::HandlePropertyInspectorRequest: '%s' ('%s') is not on screen; ignored",
            context.c_str(), m_name.c_str());
        return;
    }
    m_shownInspectors.insert(context);  // bounded: only contexts on screen, erased when they go
    SendPropertyInspectorData(context);
}

void ControlElementBase::HandlePropertyInspectorClosed(const std::string& context) {
    m_shownInspectors.erase(context);
}

void ControlElementBase::SendPropertyInspectorData(const std::string& context) {
    auto entry = FindEntry(context);
    if (entry == m_sdContexts.end()) return;
    auto found = m_settings.find(context);
    if (found == m_settings.end()) {
        // The answer comes back as "didReceiveSettings" and is shown then.
        entry->connection->GetSettings(context);
        return;
    }
    json state = {{"id", GetStateName()}};
    if (state["id"] == "sandboxed") state["command"] = m_sandboxGrantCommand;
    const json data = {{"settings", found->second}, {"state", state}};
    entry->connection->SendToPropertyInspector(data, context);
}

void ControlElementBase::HandleReceivedSettings(const std::string& context, const json& payload) {
    if (!payload.is_object() || !payload.contains("settings")) return;
    // Settings are kept only for keys on screen (the host sends them again
    // with the next willAppear), so a flood for unknown keys costs nothing.
    json* settings = SettingsEntry(context);
    if (settings == nullptr) {
        LogWarning("ControlElementBase::HandleReceivedSettings: '%s' ('%s') is not on screen; ignored",
                   context.c_str(), m_name.c_str());
        return;
    }
    // A key whose settings were dropped starts again from the element's
    // defaults, as a key that appeared does: no setting a press reads goes missing.
    const json before = *settings;
    MergeSettings(*settings, payload);
    // Changed settings (not the same ones sent again) end a hold in progress.
    if (*settings != before) CancelHold(context);
    auto entry = FindEntry(context);
    if (entry != m_sdContexts.end()) entry->connection->SetSettings(*settings, context);
    if (m_shownInspectors.count(context) != 0) SendPropertyInspectorData(context);
}

std::shared_ptr<MessageBase> ControlElementBase::BuildCommand(const std::string& context,
                                                              const CommandBuilder& builder,
                                                              const json& settings) {
    auto source = std::make_shared<ElementAddress>(ElementAddress::kButton, context.c_str(), m_name.c_str());
    return builder(source, settings);
}

void ControlElementBase::SendCommand(ControllerClient& client, const std::string& context,
                                     const CommandBuilder& builder, const json& settings,
                                     WriteCompletion completion) {
    client.WriteMessageAsync(BuildCommand(context, builder, settings), std::move(completion));
}

ControlElementBase::WriteCompletion ControlElementBase::MakeCompletion(
    std::function<void(bool accepted)> work) {
    std::weak_ptr<ControlElementBase> weakSelf = weak_from_this();
    std::shared_ptr<std::recursive_mutex> lock = m_managerLock;
    return [weakSelf, lock, work = std::move(work)](const MessageBase&, bool accepted) {
        std::lock_guard<std::recursive_mutex> guard(*lock);
        std::shared_ptr<ControlElementBase> self = weakSelf.lock();
        if (!self) return;
        try {
            work(accepted);
        } catch (const std::exception& error) {
            LogWarning("ControlElementBase::MakeCompletion: '%s': %s", self->m_name.c_str(), error.what());
        }
    };
}

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
        LogWarning("ControlElementBase::NumberSetting: '%s' of '%s': %s", key, owner.c_str(), error.what());
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

void ControlElementBase::EnableDial(DialSetup setup) {
    m_dial = std::move(setup);
}

std::optional<int32_t> ControlElementBase::DialWaitMs() const {
    return m_pacer.MsUntilDue(DialPacer::Clock::now());
}

void ControlElementBase::DialRotate(const std::string& context, int32_t ticks) {
    if (!IsDial(context)) {
        LogWarning("ControlElementBase::DialRotate: '%s' ('%s') is not a dial on screen; ignored",
                   context.c_str(), m_name.c_str());
        return;
    }
    // The stored settings, not the event's: the host's copy lags behind the
    // level that the turns before this one have set.
    json& settings = *SettingsEntry(context);
    if (m_dial->setsLevel) {
        const int64_t moved = static_cast<int64_t>(DialLevel(settings, m_name)) +
                              static_cast<int64_t>(ticks) * DialStep(settings, true, m_name);
        settings["volume_value"] = std::clamp<int64_t>(moved, 0, 100);
        ShowDial(context);
    }
    if (auto now = m_pacer.Turn(context, ticks, DialPacer::Clock::now())) SendTurn(context, *now);
}

void ControlElementBase::DialDown(const std::string& context, const json&) {
    if (!IsDial(context)) {
        LogWarning("ControlElementBase::DialDown: '%s' ('%s') is not a dial on screen; ignored",
                   context.c_str(), m_name.c_str());
        return;
    }
    KeyDown(context, json::object());  // hold to confirm as for a key; the stored settings count
}

void ControlElementBase::DialUp(const std::string& context, const json&) {
    if (IsDial(context)) KeyUp(context, json::object());
}

void ControlElementBase::TouchTap(const std::string& context, const json&, bool hold) {
    if (!IsDial(context)) {
        LogWarning("ControlElementBase::TouchTap: '%s' ('%s') is not a dial on screen; ignored",
                   context.c_str(), m_name.c_str());
        return;
    }
    // A tap cannot be held for a time; with hold to confirm on, only a long touch counts.
    if (!hold && HoldToConfirm::Read(*SettingsEntry(context), m_name, context).enabled) {
        LogTrace("ControlElementBase::TouchTap: '%s' ('%s') holds to confirm; a short tap does nothing",
                 context.c_str(), m_name.c_str());
        return;
    }
    DialPush(context);
}

void ControlElementBase::DialPush(const std::string& context) {
    SendCommand(*m_dial->client, context, m_dial->muteCommands.at(m_muteIndex), *SettingsEntry(context),
                MakeCompletion([this, context](bool accepted) {
                    if (!accepted)
                        LogWarning("ControlElementBase::DialPush: '%s' ('%s'): the mute command was not sent",
                                   context.c_str(), m_name.c_str());
                }));
}

void ControlElementBase::SendTurn(const std::string& context, int32_t ticks) {
    json settings = *SettingsEntry(context);
    auto completion = MakeCompletion([this, context](bool accepted) {
        if (!accepted)
            LogWarning("ControlElementBase::SendTurn: '%s' ('%s'): the volume command was not sent",
                       context.c_str(), m_name.c_str());
    });
    if (m_dial->setsLevel) {
        SendCommand(*m_dial->client, context, m_dial->levelCommand, settings, std::move(completion));
        m_levelSent[context] = settings["volume_value"];
        // The level a dial set survives a restart of the plug-in or the host.
        auto entry = FindEntry(context);
        if (entry != m_sdContexts.end()) entry->connection->SetSettings(settings, context);
        return;
    }
    if (ticks == 0) return;  // turned back and forth within one pace
    // One nudge for the turns of one pace, as far as they would have gone one by one.
    const int64_t step =
        static_cast<int64_t>(DialStep(settings, false, m_name)) * std::abs(static_cast<int64_t>(ticks));
    settings["volume_step"] = std::min<int64_t>(step, kLargestStep);
    SendCommand(*m_dial->client, context, ticks > 0 ? m_dial->nudgeUp : m_dial->nudgeDown, settings,
                std::move(completion));
}

void ControlElementBase::DropHeldBackTurns() {
    for (const std::string& context : m_pacer.Clear()) {
        auto sent = m_levelSent.find(context);
        json* settings = SettingsEntry(context);
        if (sent == m_levelSent.end() || settings == nullptr) continue;
        (*settings)["volume_value"] = sent->second;
        ShowDial(context);
    }
}

void ControlElementBase::SendDueTurns() {
    for (const auto& [context, ticks] : m_pacer.TakeDue(DialPacer::Clock::now())) {
        if (!IsActive() || !IsDial(context)) continue;
        try {
            SendTurn(context, ticks);
        } catch (const std::exception& error) {
            LogWarning("ControlElementBase::SendDueTurns: '%s' ('%s'): %s", context.c_str(), m_name.c_str(),
                       error.what());
        }
    }
}

json ControlElementBase::DialFeedback(const std::string& context) {
    const json& settings = *SettingsEntry(context);
    const std::string state = GetStateName();
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
    } else if (m_dial->setsLevel) {
        text = std::to_string(DialLevel(settings, m_name)) + " %";
    } else {
        text = "\u00b1" + std::to_string(DialStep(settings, false, m_name)) + " %";
    }
    // A nudging dial does not know the level: its bar stays hidden.
    const double barOpacity = !m_dial->setsLevel ? 0.0 : !active ? 0.3 : muted ? 0.5 : 1.0;
    return {{"icon", {{"value", muted ? m_dial->mutedIcon : m_dial->icon}, {"opacity", active ? 1.0 : 0.3}}},
            {"value", text},
            {"indicator",
             {{"value", m_dial->setsLevel ? DialLevel(settings, m_name) : 0}, {"opacity", barOpacity}}}};
}

void ControlElementBase::ShowDial(const std::string& context) {
    auto entry = FindEntry(context);
    if (entry == m_sdContexts.end() || !m_dial) return;
    json feedback = DialFeedback(context);
    auto shown = m_feedbackShown.find(context);
    if (shown != m_feedbackShown.end() && shown->second == feedback) return;  // the strip shows it already
    entry->connection->SetFeedback(feedback, context);
    m_feedbackShown[context] = std::move(feedback);
}

void ControlElementBase::FollowMuteState(const EventMessage& event) {
    const ControllerEvent& meaning = event.Meaning();
    if (!m_dial || meaning.kind != ControllerEvent::Kind::FunctionState ||
        meaning.function != m_dial->muteFunction)
        return;
    for (size_t index = 0; index < m_dial->muteStates.size(); ++index) {
        if (m_dial->muteStates[index] != meaning.state) continue;
        m_muteIndex = index;
        for (const std::string& context : m_dials) ShowDial(context);
        return;
    }
}
