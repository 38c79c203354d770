#include "elements/ControlElementsManager.h"

#include "controller/Messages.h"
#include "diagnostics/HeapArenas.h"
#include "diagnostics/Log.h"
#include "diagnostics/LogText.h"
#include "elements/StateImageFactory.h"

#include <algorithm>
#include <exception>
#include <utility>
#include <vector>

using json = nlohmann::json;

ControlElementsManager::ControlElementsManager()
    : m_mutex(std::make_shared<std::recursive_mutex>()), m_timer(std::make_shared<CallbackTimer>()) {
    m_timer->StartPaced([this] { return TickAndPace(); });
}

ControlElementsManager::~ControlElementsManager() {
    m_timer->Stop();
    m_timer.reset();
}

void ControlElementsManager::StopTimer() {
    m_timer->Stop();
}

void ControlElementsManager::AddControlElement(const std::shared_ptr<ControlElementBase>& element) {
    std::lock_guard<std::recursive_mutex> lock(*m_mutex);
    element->ShareManagerLock(m_mutex);
    std::weak_ptr<CallbackTimer> timer = m_timer;
    element->ShareTimerWake([timer] {
        if (auto alive = timer.lock()) alive->Wake();
    });
    m_elements[element->GetName()] = element;
    WakeTimer();
}

void ControlElementsManager::SetSandboxGrantCommand(const std::string& grantCommand) {
    std::lock_guard<std::recursive_mutex> lock(*m_mutex);
    for (auto& [name, element] : m_elements) element->SetSandboxGrantCommand(grantCommand);
}

std::shared_ptr<ControlElementBase> ControlElementsManager::FindControlElement(const std::string& action) {
    std::lock_guard<std::recursive_mutex> lock(*m_mutex);
    auto found = m_elements.find(action);
    return found == m_elements.end() ? nullptr : found->second;
}

void ControlElementsManager::AddSdContext(const std::string& action, ESDConnectionManager* connection,
                                          const std::string& context, const json& payload) {
    std::lock_guard<std::recursive_mutex> lock(*m_mutex);
    auto found = m_elements.find(action);
    if (found != m_elements.end()) found->second->AddSdContext(connection, context, payload);
}

void ControlElementsManager::RemoveSdContext(const std::string& action, ESDConnectionManager* connection,
                                             const std::string& context) {
    std::lock_guard<std::recursive_mutex> lock(*m_mutex);
    auto found = m_elements.find(action);
    if (found != m_elements.end()) found->second->RemoveSdContext(connection, context);
}

void ControlElementsManager::SignalKeyDown(const std::string& action, const std::string& context,
                                           const json& payload) {
    std::lock_guard<std::recursive_mutex> lock(*m_mutex);
    auto element = FindControlElement(action);
    if (element && element->IsActive()) element->KeyDown(context, payload);
    // Written once the key's command has gone: the host message's own record
    // is already in the log, and this one does not delay the press.
    if (LogIsOpen()) {
        LogTrace("ControlElementsManager::SignalKeyDown: '%s' ('%s'): %s", context.c_str(), action.c_str(),
                 LogText::Json(payload).c_str());
    }
    WakeTimer();
}

void ControlElementsManager::SignalKeyUp(const std::string& action, const std::string& context,
                                         const json& payload) {
    if (LogIsOpen()) {
        LogTrace("ControlElementsManager::SignalKeyUp: '%s' ('%s'): %s", context.c_str(), action.c_str(),
                 LogText::Json(payload).c_str());
    }
    std::lock_guard<std::recursive_mutex> lock(*m_mutex);
    auto element = FindControlElement(action);
    if (element && element->IsActive()) element->KeyUp(context, payload);
}

void ControlElementsManager::SignalDialRotate(const std::string& action, const std::string& context,
                                              const json&, int32_t ticks) {
    LogTrace("ControlElementsManager::SignalDialRotate: '%s' ('%s'): %d ticks", context.c_str(),
             action.c_str(), ticks);
    std::lock_guard<std::recursive_mutex> lock(*m_mutex);
    auto element = FindControlElement(action);
    if (element && element->IsActive()) element->DialRotate(context, ticks);
    // A held-back turn is due within a pace, sooner than an interval counted now may end.
    if (m_timer) m_timer->WakeNow();
}

void ControlElementsManager::SignalDialDown(const std::string& action, const std::string& context,
                                            const json& payload) {
    LogTrace("ControlElementsManager::SignalDialDown: '%s' ('%s')", context.c_str(), action.c_str());
    std::lock_guard<std::recursive_mutex> lock(*m_mutex);
    auto element = FindControlElement(action);
    if (element && element->IsActive()) element->DialDown(context, payload);
    WakeTimer();
}

void ControlElementsManager::SignalDialUp(const std::string& action, const std::string& context,
                                          const json& payload) {
    LogTrace("ControlElementsManager::SignalDialUp: '%s' ('%s')", context.c_str(), action.c_str());
    std::lock_guard<std::recursive_mutex> lock(*m_mutex);
    auto element = FindControlElement(action);
    if (element && element->IsActive()) element->DialUp(context, payload);
}

void ControlElementsManager::SignalTouchTap(const std::string& action, const std::string& context,
                                            const json& payload, bool hold) {
    LogTrace("ControlElementsManager::SignalTouchTap: '%s' ('%s')%s", context.c_str(), action.c_str(),
             hold ? " held" : "");
    std::lock_guard<std::recursive_mutex> lock(*m_mutex);
    auto element = FindControlElement(action);
    if (element && element->IsActive()) element->TouchTap(context, payload, hold);
}

int32_t ControlElementsManager::TickAndPace() {
    SignalTimerTick();
    const int32_t pace = NextPace();
    if (pace != CallbackTimer::kUntilWoken) {
        m_lingerEnd.reset();
        return pace;
    }
    // The timer has drawn what woke it (a status change, the end of a mark).
    // The host link frees the images once it has sent them, after this call,
    // so the timer lingers a short while, still woken at once by anything;
    // then the pages that the redraws and the messages freed go back to the
    // system, once per wake rather than on a schedule.
    const auto now = std::chrono::steady_clock::now();
    if (!m_lingerEnd || now < *m_lingerEnd) {  // the work just ended, or a wake came while lingering
        m_lingerEnd = now + std::chrono::milliseconds(kLingerMs);
        return CallbackTimer::UntilWokenOrAfter(kLingerMs);
    }
    m_lingerEnd.reset();
    ReturnFreeHeapPages();
    return pace;
}

int32_t ControlElementsManager::NextPace() {
    std::lock_guard<std::recursive_mutex> lock(*m_mutex);
    int32_t pace = CallbackTimer::kUntilWoken;
    for (const auto& entry : m_elements) {
        if (entry.second->WantsQuickTicks()) pace = kQuickTickIntervalMs;
        if (entry.second->HasTimerWork() && pace < 0) pace = kTickIntervalMs;
        // A due turn is sent by the next tick: 0 ms would call again at once,
        // so at least one millisecond passes.
        if (auto dial = entry.second->DialWaitMs())
            pace = pace < 0 ? std::max(*dial, 1) : std::min(pace, std::max(*dial, 1));
    }
    return pace;
}

void ControlElementsManager::WakeTimer() {
    if (m_timer) m_timer->Wake();
}

void ControlElementsManager::SignalTimerTick() {
    std::vector<std::pair<std::string, std::shared_ptr<ControlElementBase>>> elements;
    {
        std::lock_guard<std::recursive_mutex> lock(*m_mutex);
        elements.assign(m_elements.begin(), m_elements.end());
    }
    if (elements.empty()) return;
    // A status change composes every key with the same overlay: it is decoded
    // once for the whole tick, not once a key, and its pixels go after it.
    const StateImageFactory::DecodedOnce overlays(AcquireStateImageFactory());
    for (const auto& [name, element] : elements) {
        // One element at a time: an event or a key press that comes while
        // every key is redrawn waits for one key, not for all of them, and
        // the keys not drawn yet draw what the event changed.
        std::lock_guard<std::recursive_mutex> lock(*m_mutex);
        // The timer thread must survive an element's failure, and one element's
        // failure must not hold back the ticks of the others.
        try {
            element->HandleTimerTick();
        } catch (const std::exception& error) {
            LogWarning("ControlElementsManager::SignalTimerTick: '%s': %s", name.c_str(), error.what());
        }
    }
}

void ControlElementsManager::SignalEventMessage(const EventMessage& event) {
    if (LogIsOpen()) {
        LogTrace("ControlElementsManager::SignalEventMessage: %s", LogText::Json(event.Document()).c_str());
    }
    std::lock_guard<std::recursive_mutex> lock(*m_mutex);
    for (const auto& entry : m_elements) {
        std::shared_ptr<ControlElementBase> element = entry.second;
        // One element's failure costs that key the event, not the keys after it.
        try {
            element->HandleEventMessage(event);
        } catch (const std::exception& error) {
            LogWarning("ControlElementsManager::SignalEventMessage: '%s': %s", entry.first.c_str(),
                       error.what());
        } catch (...) {
            LogWarning("ControlElementsManager::SignalEventMessage: '%s': unknown exception",
                       entry.first.c_str());
        }
    }
    // A reported status is drawn at once, not at the timer's next tick.
    if (m_timer) m_timer->WakeNow();
}

void ControlElementsManager::SignalRequestPropertyInspectorDataFromPlugin(const std::string& action,
                                                                          const std::string& context) {
    LogTrace("ControlElementsManager::SignalRequestPropertyInspectorDataFromPlugin: '%s' ('%s')",
             context.c_str(), action.c_str());
    std::lock_guard<std::recursive_mutex> lock(*m_mutex);
    if (auto element = FindControlElement(action)) element->HandlePropertyInspectorRequest(context);
}

void ControlElementsManager::SignalPropertyInspectorClosed(const std::string& action,
                                                           const std::string& context) {
    LogTrace("ControlElementsManager::SignalPropertyInspectorClosed: '%s' ('%s')", context.c_str(),
             action.c_str());
    std::lock_guard<std::recursive_mutex> lock(*m_mutex);
    if (auto element = FindControlElement(action)) element->HandlePropertyInspectorClosed(context);
}

void ControlElementsManager::SignalReceivedSettings(const std::string& action, const std::string& context,
                                                    const json& payload) {
    if (LogIsOpen()) {
        LogTrace("ControlElementsManager::SignalReceivedSettings: '%s' ('%s'): %s", context.c_str(),
                 action.c_str(), LogText::Json(payload).c_str());
    }
    std::lock_guard<std::recursive_mutex> lock(*m_mutex);
    if (auto element = FindControlElement(action)) element->HandleReceivedSettings(context, payload);
    WakeTimer();
}

void ControlElementsManager::SignalTitleParameters(const std::string& action, const std::string& context,
                                                   const json& payload) {
    if (LogIsOpen()) {
        LogTrace("ControlElementsManager::SignalTitleParameters: '%s' ('%s'): %s", context.c_str(),
                 action.c_str(), LogText::Json(payload).c_str());
    }
    std::lock_guard<std::recursive_mutex> lock(*m_mutex);
    if (auto element = FindControlElement(action)) element->HandleTitleParameters(context, payload);
    WakeTimer();
}

void ControlElementsManager::RedrawAll() {
    LogTrace("ControlElementsManager::RedrawAll");
    std::lock_guard<std::recursive_mutex> lock(*m_mutex);
    for (const auto& entry : m_elements) entry.second->RedrawAll();
    WakeTimer();
}
