#include "elements/ControlElementBase.h"

#include <exception>
#include <optional>

#include "controller/ControllerClient.h"
#include "controller/ElementAddress.h"
#include "controller/Messages.h"
#include "diagnostics/Log.h"
#include "diagnostics/LogText.h"
#include "elements/CatalogueElements.h"
#include "elements/KeyPress.h"
#include "elements/KeyTexts.h"
#include "elements/StateImageFactory.h"
#include "graphics/Graphics.h"
#include "host/ESDConnectionManager.h"

using json = nlohmann::json;

namespace {

// Keys held to confirm that one tick draws at most: enough for the few keys a
// hand holds to fill smoothly, few enough that a press waits for a few redraws.
constexpr size_t kHoldRedrawsPerTick = 4;

// The title a "titleParametersDidChange" payload shows on the key: its text,
// or "" while the streamer has hidden it. Nothing for a payload without a
// text title or with a "showTitle" that is not a boolean (one line in the log).
std::optional<std::string> ShownTitle(const json& payload, const std::string& context) {
    const auto title = payload.is_object() ? payload.find("title") : payload.end();
    if (title == payload.end() || !title->is_string()) {
        LogWarning("ControlElementBase::HandleTitleParameters: '%s': no title text; the key stays as it is",
                   context.c_str());
        return std::nullopt;
    }
    bool shown = true;  // as the host shows a title unless told not to
    const auto parameters = payload.find("titleParameters");
    if (parameters != payload.end() && parameters->is_object()) {
        const auto showTitle = parameters->find("showTitle");
        if (showTitle != parameters->end() && !showTitle->is_boolean()) {
            LogWarning(
                "ControlElementBase::HandleTitleParameters: '%s': showTitle is not a boolean; the key "
                "stays as it is",
                context.c_str());
            return std::nullopt;
        }
        if (showTitle != parameters->end()) shown = showTitle->get<bool>();
    }
    return shown ? title->get<std::string>() : std::string();
}

}  // namespace

ControlElementBase::ControlElementBase(const std::string& name, const json& defaultSettings)
    : m_name(name),
      m_sdContexts(defaultSettings),
      m_status(name),
      m_painter(AcquireStateImageFactory()),
      m_pages(name),
      m_managerLock(std::make_shared<std::recursive_mutex>()) {}

ControlElementBase::~ControlElementBase() = default;

bool ControlElementBase::IsActive() {
    return m_status.Active();
}

bool ControlElementBase::IsSupported() {
    return m_status.Supported();
}

void ControlElementBase::HandleKeyDown(const std::string&, const json&) {}

void ControlElementBase::KeyDown(const std::string& context, const json& payload) {
    const KeyPress press = KeyPress::Read(payload);
    if (!press.problem.empty()) {
        LogWarning("ControlElementBase::KeyDown: '%s' ('%s'): %s", context.c_str(), m_name.c_str(),
                   press.problem.c_str());
    }
    FollowHostState(context, payload);
    // A step of a macro acts at once: the user confirmed when building the
    // macro, and the host lets go of the step about 100 ms later, or never.
    if (press.inMultiAction || !AllowsHoldToConfirm()) {
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
    if (const SdContextEntry* entry = m_sdContexts.Find(context))
        entry->connection->SetTitle(KeyTexts::Get(KeyTexts::Text::HoldHint), context);
    UpdateGraphics(context);
    WakeTimer();  // the hint ends at a tick
}

void ControlElementBase::ActOnConfirmedHolds(HoldToConfirm::Clock::time_point now) {
    // The fills go at the ticks, a bounded number at each (TickHolds).
    for (HoldToConfirm::Confirmed& confirmed : m_hold.TakeConfirmed(now)) {
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
        m_dial->Push(context);
    } else {
        HandleKeyDown(context, payload);
    }
}

void ControlElementBase::TickHolds() {
    const auto now = HoldToConfirm::Clock::now();
    ActOnConfirmedHolds(now);
    for (const std::string& context : m_hold.TakeEndedHints(now)) RestoreTitle(context);
    // Held keys cost a bounded share of a tick, which holds the manager's
    // lock: a few keys are drawn, those waiting longest first, and only when
    // their mark has moved (a fill's step, a hint or a fill that ended).
    for (const std::string& context : m_hold.StaleMarks(now, kHoldRedrawsPerTick)) UpdateGraphics(context);
}

void ControlElementBase::CancelHold(const std::string& context) {
    const bool hint = m_hold.ShowsHint(context);
    if (!m_hold.Cancel(context)) return;
    if (hint) RestoreTitle(context);
    UpdateGraphics(context);
}

void ControlElementBase::RestoreTitle(const std::string& context) {
    if (const SdContextEntry* entry = m_sdContexts.Find(context)) SendTitle(*entry);
}

bool ControlElementBase::IsPluginTitle(const std::string& title) const {
    return (!m_title.empty() && title == m_title) || title == KeyTexts::Get(KeyTexts::Text::HoldHint);
}

void ControlElementBase::HandleTitleParameters(const std::string& context, const json& payload) {
    if (!IsShown(context)) {
        LogWarning("ControlElementBase::HandleTitleParameters: '%s' ('%s') is not on screen; ignored",
                   context.c_str(), m_name.c_str());
        return;
    }
    HandleReceivedSettings(context, payload);
    const std::optional<std::string> title = ShownTitle(payload, context);
    // The host reports the plug-in's own titles back too; they leave the label be.
    if (!title || IsPluginTitle(*title)) return;
    if (m_sdContexts.SetOwnTitle(context, !title->empty())) UpdateGraphics(context);
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
    return !m_hold.HoldingKeys().empty() || !m_hold.StaleMarks(HoldToConfirm::Clock::now(), 1).empty();
}

void ControlElementBase::RedrawAll() {
    for (const SdContextEntry& entry : m_sdContexts.Entries())
        if (!m_title.empty()) entry.connection->SetTitle(m_title, entry.context);
    m_hostKeys.ForgetImagesLeft();      // own icons are handed back again too
    m_status.ForgetDrawn();             // the next tick draws every key with its status
    if (m_dial) m_dial->ForgetShown();  // and sends every strip again
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

void ControlElementBase::AddSdContext(ESDConnectionManager* connection, const std::string& context,
                                      const json& payload) {
    if (LogIsOpen()) {
        LogTrace("ControlElementBase::AddSdContext: '%s' ('%s'): %s", context.c_str(), m_name.c_str(),
                 LogText::Json(payload).c_str());
    }
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    // One record per context: a context that appears again (without having
    // disappeared) takes the new connection and starts again from its settings.
    m_sdContexts.Add(connection, context);
    if (!m_title.empty()) connection->SetTitle(m_title, context);
    m_sdContexts.StartSettings(context, payload);
    m_painter.AppearKey(context);
    m_hostKeys.Appear(context, payload);
    WarnIfOwnIconsUnreadable(context);
    if (m_dial) {
        const auto controller = payload.is_object() ? payload.find("controller") : payload.end();
        m_dial->Appear(*connection, context, controller != payload.end() && *controller == "Encoder");
    }
    TellHostState(*m_sdContexts.Find(context));
    connection->GetSettings(context);
    UpdateGraphics(context);
    WakeTimer();  // the first tick draws the status overlay
}

void ControlElementBase::RemoveSdContext(ESDConnectionManager* connection, const std::string& context) {
    LogTrace("ControlElementBase::RemoveSdContext: '%s' ('%s')", context.c_str(), m_name.c_str());
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_sdContexts.Remove(connection, context);
    m_painter.ForgetKey(context);
    m_pages.Close(context);
    m_hold.Cancel(context);
    m_hostKeys.Forget(context);
    if (m_dial) m_dial->Disappear(context);
}

bool ControlElementBase::IsShown(const std::string& context) const {
    return m_sdContexts.IsShown(context);
}

bool ControlElementBase::IsDial(const std::string& context) const {
    return m_dial && m_dial->IsDial(context);
}

size_t ControlElementBase::RecordCount() const {
    // m_hostKeys has a record exactly for each listed context: Appear and
    // Forget are its only ways in and out.
    return m_sdContexts.RecordCount() + m_painter.RecordCount() + (m_dial ? m_dial->RecordCount() : 0);
}

json ControlElementBase::GetContextSettings(const std::string& context, const json& payload) {
    return m_sdContexts.Merged(context, payload);
}

bool ControlElementBase::SetContextImage(const std::string& context, std::shared_ptr<Graphics> image) {
    if (!IsShown(context)) return false;
    m_painter.SetKeyImage(context, std::move(image));
    return true;
}

void ControlElementBase::SetImageFromFile(const std::string& fileName) {
    LogTrace("ControlElementBase::SetImageFromFile: '%s' ('%s')", fileName.c_str(), m_name.c_str());
    m_painter.SetBaseImageFromFile(fileName);
    UpdateGraphics("");
}

void ControlElementBase::SetTitleForAllContexts(const std::string& title) {
    m_title = title;
    for (const SdContextEntry& entry : m_sdContexts.Entries()) SendTitle(entry);
}

void ControlElementBase::SetTransientOverlay(const std::shared_ptr<Graphics>& image) {
    m_painter.SetTransientOverlay(image, KeyPainter::Clock::now());
    UpdateGraphics("");
    WakeTimer();  // ticks until the overlay expires
}

void ControlElementBase::ShowAlertOverlay() {
    for (const SdContextEntry& entry : m_sdContexts.Entries())
        if (m_hostKeys.ImageLeft(entry.context)) entry.connection->ShowAlert(entry.context);
    SetTransientOverlay(m_painter.Overlays().m_alertImage);
}

void ControlElementBase::ShowSuccessOverlay() {
    for (const SdContextEntry& entry : m_sdContexts.Entries())
        if (m_hostKeys.ImageLeft(entry.context)) entry.connection->ShowOk(entry.context);
    SetTransientOverlay(m_painter.Overlays().m_successImage);
}

void ControlElementBase::UpdateGraphics(const std::string& context) {
    // One composite per redraw, with and without the label, shared by every
    // context that shows the base image.
    std::shared_ptr<Graphics> caches[2];
    ImageFactory defaultImageFactory = [this, &caches](bool withoutLabel) -> std::shared_ptr<Graphics> {
        std::shared_ptr<Graphics>& cache = caches[withoutLabel ? 1 : 0];
        if (!cache) {
            if (!m_painter.HasBaseImage()) {
                LogWarning(
                    "ControlElementBase::UpdateGraphics()::defaultImageFactory() called when m_base_image == "
                    "nullptr");
                return nullptr;
            }
            cache = m_painter.ComposeBaseImage(withoutLabel);
        }
        return cache;
    };
    if (!context.empty()) {
        RenderContext(context, defaultImageFactory);
        return;
    }
    for (const SdContextEntry& entry : m_sdContexts.Entries())
        RenderContext(entry.context, defaultImageFactory);
}

void ControlElementBase::SendEncoded(const std::string& context, const Graphics& image) {
    const auto now = HoldToConfirm::Clock::now();
    const std::unique_ptr<Graphics> marked = m_hold.Marked(context, image, now);
    if (IsShown(context)) m_hold.Drew(context, m_hold.Mark(context, now));
    std::string text;
    if ((marked ? *marked : image).ToBase64Png(text)) SetImageBase64(context, text);
}

void ControlElementBase::RenderContext(const std::string& context, const ImageFactory& factory) {
    if (IsDial(context)) {
        m_dial->Show(context);  // a dial shows its strip, not a key image
        return;
    }
    if (LeavesImageToHost(context)) return;
    const bool withoutLabel = m_sdContexts.HasOwnTitle(context);
    if (std::shared_ptr<Graphics> own = m_painter.ComposeKeyImage(context, withoutLabel)) {
        SendEncoded(context, *own);
        return;
    }
    if (!factory) return;
    std::shared_ptr<Graphics> image = factory(withoutLabel);
    if (image) SendEncoded(context, *image);
}

bool ControlElementBase::LeavesImageToHost(const std::string& context) {
    const SdContextEntry* entry = m_sdContexts.Find(context);
    if (entry == nullptr) return false;
    // A key that cannot work draws its own image with the reason on it.
    if (!m_status.DrawnWorking() || !OwnIcons(context)) {
        m_hostKeys.SetImageLeft(context, false);
        return false;
    }
    if (!m_hostKeys.ImageLeft(context)) {
        entry->connection->ClearImage(context);
        m_hostKeys.SetImageLeft(context, true);
    }
    return true;
}

bool ControlElementBase::OwnIcons(const std::string& context) const {
    const json* settings = m_sdContexts.Stored(context);
    return settings != nullptr && HostKeyState::OwnIcons(*settings).value_or(false);
}

void ControlElementBase::WarnIfOwnIconsUnreadable(const std::string& context) const {
    const json* settings = m_sdContexts.Stored(context);
    if (settings == nullptr || HostKeyState::OwnIcons(*settings)) return;
    LogWarning("ControlElementBase: '%s' ('%s'): own_icons is not a boolean; the plug-in's images show",
               context.c_str(), m_name.c_str());
}

void ControlElementBase::SetHostState(int32_t state) {
    m_hostState = state;
    for (const SdContextEntry& entry : m_sdContexts.Entries()) TellHostState(entry);
}

void ControlElementBase::TellHostState(const SdContextEntry& entry) {
    if (!m_hostState || IsDial(entry.context)) return;
    if (m_hostKeys.Tell(entry.context, *m_hostState)) entry.connection->SetState(*m_hostState, entry.context);
}

void ControlElementBase::FollowHostState(const std::string& context, const json& payload) {
    const SdContextEntry* entry = m_sdContexts.Find(context);
    if (entry == nullptr) return;
    m_hostKeys.Heard(context, payload);
    TellHostState(*entry);
}

bool ControlElementBase::SetImageBase64(const std::string& context, const std::string& image) {
    if (const SdContextEntry* entry = m_sdContexts.Find(context)) {
        LogTrace("SetImageBase64: %s", context.c_str());
        entry->connection->SetImage(image, context);
        return true;
    }
    LogWarning("SetImageBase64: requested sdContext '%s' does not exist in m_sdContexts", context.c_str());
    return false;
}

void ControlElementBase::HandleTimerTick() {
    if (m_dial) m_dial->SendDueTurns();
    TickHolds();
    if (m_status.Undrawn()) {
        m_painter.SetStatusOverlay(m_status.StartDrawing(m_painter.Overlays()));
        UpdateGraphics("");
        m_status.Drawn();
    }
    if (m_painter.ExpireTransientOverlay(KeyPainter::Clock::now())) UpdateGraphics("");
}

bool ControlElementBase::HasTimerWork() const {
    return m_status.Undrawn() || m_painter.HasTransientOverlay() || m_hold.Busy();
}

void ControlElementBase::HandleEventMessage(const EventMessage& event) {
    WakeTimer();  // a reported status is drawn at the next tick
    m_status.Follow(event.Meaning());
    if (m_dial) m_dial->FollowReport(event);
    // A key that can no longer act lets go of its holds, as it would refuse a
    // press, and a dial's held-back turns are dropped, not sent later.
    if (!IsActive()) {
        for (const SdContextEntry& entry : m_sdContexts.Entries()) CancelHold(entry.context);
        if (m_dial) m_dial->DropHeldBackTurns();
    }
    // A shown property inspector follows every change; closed ones hear nothing.
    for (const std::string& context : m_pages.OpenPages()) SendPropertyInspectorData(context);
}

void ControlElementBase::SetSandboxGrantCommand(const std::string& grantCommand) {
    m_status.SetSandboxGrantCommand(grantCommand);
}

std::string ControlElementBase::GetStateName() {
    return m_status.StateName();
}

void ControlElementBase::HandlePropertyInspectorRequest(const std::string& context) {
    if (!IsShown(context)) {
        LogWarning(
            "ControlElementBase::HandlePropertyInspectorRequest: '%s' ('%s') is not on screen; ignored",
            context.c_str(), m_name.c_str());
        return;
    }
    m_pages.Open(context);  // bounded: only contexts on screen, closed when they go
    SendPropertyInspectorData(context);
}

void ControlElementBase::HandlePropertyInspectorClosed(const std::string& context) {
    m_pages.Close(context);
}

void ControlElementBase::SendPropertyInspectorData(const std::string& context) {
    const SdContextEntry* entry = m_sdContexts.Find(context);
    if (entry == nullptr) return;
    const json* settings = m_sdContexts.Stored(context);
    if (settings == nullptr) {
        // The answer comes back as "didReceiveSettings" and is shown then.
        entry->connection->GetSettings(context);
        return;
    }
    const json data = SettingsPages::Data(*settings, GetStateName(), m_status.SandboxGrantCommand());
    entry->connection->SendToPropertyInspector(data, context);
}

void ControlElementBase::HandleReceivedSettings(const std::string& context, const json& payload) {
    if (!payload.is_object() || !payload.contains("settings")) return;
    // Settings are kept only for keys on screen (the host sends them again
    // with the next willAppear), so a flood for unknown keys costs nothing.
    json* settings = m_sdContexts.Settings(context);
    if (settings == nullptr) {
        LogWarning("ControlElementBase::HandleReceivedSettings: '%s' ('%s') is not on screen; ignored",
                   context.c_str(), m_name.c_str());
        return;
    }
    // A key whose settings were dropped starts again from the element's
    // defaults, as a key that appeared does: no setting a press reads goes missing.
    const json before = *settings;
    ContextRecords::Merge(*settings,
                          m_pages.ChangesOf(context, payload, before, SettingsPages::Clock::now()));
    // Changed settings (not the same ones sent again) end a hold in progress.
    if (*settings != before) CancelHold(context);
    if (HostKeyState::OwnIcons(*settings) != HostKeyState::OwnIcons(before)) {
        WarnIfOwnIconsUnreadable(context);
        UpdateGraphics(context);  // to the user's icons, or back to the plug-in's
    }
    if (const SdContextEntry* entry = m_sdContexts.Find(context))
        entry->connection->SetSettings(*settings, context);
    if (IsDial(context)) m_dial->Show(context);  // the strip follows a level or step set on the page
    if (m_pages.IsOpen(context)) SendPropertyInspectorData(context);
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

void ControlElementBase::EnableDial(DialSetup setup) {
    DialControl::Element& element = *this;  // the base is private: converted here, where it is reachable
    m_dial = std::make_unique<DialControl>(std::move(setup), element, m_name);
}

void ControlElementBase::VolumeCommandTaken(const json& settings) {
    if (m_dial) m_dial->KeyCommandTaken(settings);
}

std::optional<int32_t> ControlElementBase::DialWaitMs() const {
    if (!m_dial) return std::nullopt;
    return m_dial->WaitMs();
}

void ControlElementBase::DialRotate(const std::string& context, int32_t ticks) {
    if (!IsDial(context)) {
        LogWarning("ControlElementBase::DialRotate: '%s' ('%s') is not a dial on screen; ignored",
                   context.c_str(), m_name.c_str());
        return;
    }
    m_dial->Rotate(context, ticks);
}

void ControlElementBase::DialDown(const std::string& context, const json& payload) {
    if (!IsDial(context)) {
        LogWarning("ControlElementBase::DialDown: '%s' ('%s') is not a dial on screen; ignored",
                   context.c_str(), m_name.c_str());
        return;
    }
    // Hold to confirm as for a key (a macro's push acts at once); the stored settings count.
    json press = json::object();
    const auto inMultiAction = payload.is_object() ? payload.find("isInMultiAction") : payload.end();
    if (inMultiAction != payload.end()) press["isInMultiAction"] = *inMultiAction;
    KeyDown(context, press);
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
    if (!hold && HoldToConfirm::Read(*m_sdContexts.Settings(context), m_name, context).enabled) {
        LogTrace("ControlElementBase::TouchTap: '%s' ('%s') holds to confirm; a short tap does nothing",
                 context.c_str(), m_name.c_str());
        return;
    }
    m_dial->Push(context);
}

json* ControlElementBase::DialSettings(const std::string& context) {
    return m_sdContexts.Settings(context);
}

ESDConnectionManager* ControlElementBase::DialConnection(const std::string& context) {
    const SdContextEntry* entry = m_sdContexts.Find(context);
    return entry == nullptr ? nullptr : entry->connection;
}

void ControlElementBase::DialSettingChanged(const std::string& context, const char* key) {
    if (!m_pages.IsOpen(context)) return;
    SendPropertyInspectorData(context);
    m_pages.ToldDialValue(context, key, SettingOf(*m_sdContexts.Settings(context), key),
                          SettingsPages::Clock::now());
}

bool ControlElementBase::DialActive() {
    return IsActive();
}

std::string ControlElementBase::DialStateName() {
    return GetStateName();
}

void ControlElementBase::SendDialCommand(ControllerClient& client, const std::string& context,
                                         const CommandBuilder& builder, const json& settings,
                                         std::function<void(bool accepted)> outcome) {
    SendCommand(client, context, builder, settings, MakeCompletion(std::move(outcome)));
}
