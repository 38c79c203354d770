#pragma once
// Holds every control element, keyed by action identifier, and is the single
// door through which host events, controller events and the 250 ms timer
// reach them.
//
// Threads: the host's event-loop thread (key events, settings, property
// inspector, and the plug-in shell's context handling), the controller
// client's threads (event messages), the timer thread (ticks), and the
// controller client's write thread through the elements' completions.
// Locks: m_mutex (recursive) guards m_elements and is held across every call
// into an element, each operation taking it itself; a tick takes it for one
// element at a time. Elements share it for their completions.
// Lock order: m_mutex first, then an element's own lock, then the timer's
// wake mutex (Wake is called with m_mutex held; the timer thread holds its
// wake mutex only while it waits, never around a tick).
// The timer ticks every 250 ms while some element has work (HasTimerWork),
// every 40 ms while a key is held to confirm (or a held key's mark waits to
// be drawn: each tick draws a few of them), when a dial's held-back turn is
// due (DialWaitMs), and sleeps otherwise; key
// presses, events, settings and the elements themselves (new contexts,
// transient overlays) wake it. A controller event also cuts a running
// interval short (at most one in two), so that a reported status is drawn at once.
// When its work is done it lingers kLingerMs (anything that wakes it still
// ticks at once), then gives the heap pages that the redraws and the images
// sent freed back to the system (outside m_mutex) and sleeps.

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "elements/CallbackTimer.h"
#include "elements/ControlElementBase.h"

class ESDConnectionManager;
class EventMessage;

class ControlElementsManager {
public:
    static constexpr int32_t kTickIntervalMs = 250;
    // While a key is held to confirm: its fill moves and its command leaves on time.
    static constexpr int32_t kQuickTickIntervalMs = 40;
    // How long the timer stays after its work is done before it sleeps: the
    // host link has sent the images drawn and freed them by then.
    static constexpr int32_t kLingerMs = 100;

    // Starts the timer; its first tick runs at once.
    ControlElementsManager();
    // Stops the timer (no tick runs afterwards), then releases the elements.
    virtual ~ControlElementsManager();

    ControlElementsManager(const ControlElementsManager&) = delete;
    ControlElementsManager& operator=(const ControlElementsManager&) = delete;

    // Stops the timer for good: no tick runs after it returns. Called at the
    // plug-in's exit, so that no key is redrawn while the process ends.
    void StopTimer();

    // Registers |element| under its name, replacing one of the same name.
    void AddControlElement(const std::shared_ptr<ControlElementBase>& element);
    // Tells every element registered so far that the plug-in runs in a sandbox
    // (see ControlElementBase::SetSandboxGrantCommand).
    void SetSandboxGrantCommand(const std::string& grantCommand);
    // The element of |action| or null.
    std::shared_ptr<ControlElementBase> FindControlElement(const std::string& action);

    // A key of |action| appeared on or left the deck; nothing when no element
    // has that action.
    void AddSdContext(const std::string& action, ESDConnectionManager* connection, const std::string& context,
                      const nlohmann::json& payload);
    void RemoveSdContext(const std::string& action, ESDConnectionManager* connection,
                         const std::string& context);

    // Key events reach only active elements.
    virtual void SignalKeyDown(const std::string& action, const std::string& context,
                               const nlohmann::json& payload);
    virtual void SignalKeyUp(const std::string& action, const std::string& context,
                             const nlohmann::json& payload);
    // Dial events reach only active elements, as key events do. A turn also
    // wakes the timer at once, so that what it holds back leaves on time.
    virtual void SignalDialRotate(const std::string& action, const std::string& context,
                                  const nlohmann::json& payload, int32_t ticks);
    virtual void SignalDialDown(const std::string& action, const std::string& context,
                                const nlohmann::json& payload);
    virtual void SignalDialUp(const std::string& action, const std::string& context,
                              const nlohmann::json& payload);
    virtual void SignalTouchTap(const std::string& action, const std::string& context,
                                const nlohmann::json& payload, bool hold);
    virtual void SignalTimerTick();
    // Offered to every element, in order of their identifiers.
    virtual void SignalEventMessage(const EventMessage& event);
    virtual void SignalRequestPropertyInspectorDataFromPlugin(const std::string& action,
                                                              const std::string& context);
    // The settings page of |context| was closed: the element stops updating it.
    virtual void SignalPropertyInspectorClosed(const std::string& action, const std::string& context);
    virtual void SignalReceivedSettings(const std::string& action, const std::string& context,
                                        const nlohmann::json& payload);
    // "titleParametersDidChange": the key's settings, and the title the
    // streamer gave it (drawn without the face's label while it shows).
    void SignalTitleParameters(const std::string& action, const std::string& context,
                               const nlohmann::json& payload);
    // Every key is drawn again from the current state (after sleep).
    void RedrawAll();

    // The lock that serialises every call into an element.
    std::recursive_mutex& GetMutex() { return *m_mutex; }

private:
    // One tick of the timer; the milliseconds until the next one, or
    // CallbackTimer::kUntilWoken when no element has work.
    int32_t TickAndPace();
    int32_t NextPace();
    void WakeTimer();

    std::shared_ptr<std::recursive_mutex> m_mutex;
    std::map<std::string, std::shared_ptr<ControlElementBase>> m_elements;
    std::shared_ptr<CallbackTimer> m_timer;
    // The timer thread's own: when the linger after the last work ends.
    std::optional<std::chrono::steady_clock::time_point> m_lingerEnd;
};
