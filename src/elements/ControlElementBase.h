#pragma once
// The common part of every control element (one Stream Deck action). It
// owns one part per job and ties them together for each host event, report
// and tick: the keys (contexts) on screen with their settings
// (ContextRecords), the controller link status (LinkStatus), the key images
// with their status and transient overlays (KeyPainter), the open settings
// pages (SettingsPages), hold to confirm (HoldToConfirm), what the host
// shows on each key (HostKeyState: its state for actions with two host
// states, and the user's own icons) and, for an element given a DialSetup,
// the dial with its touch strip (DialControl). Settings, images and
// property-inspector data are kept only for contexts on screen, one record
// each, so what the host sends for other contexts cannot make it grow.
//
// Threads and locks:
// - Every operation except the completions is called with the control
//   elements manager's recursive lock held: by the manager for key events,
//   settings, property-inspector requests, controller events and timer ticks
//   (host thread, controller threads, timer thread), and around AddSdContext /
//   RemoveSdContext. That lock guards every field and every part; the parts
//   have no threads or locks of their own.
// - m_mutex (recursive) is the element's own lock, taken only by AddSdContext
//   and RemoveSdContext, always after the manager's lock.
// - Command completions run on the controller client's write thread. Each
//   completion made by MakeCompletion takes the manager's lock (shared with the
//   element by ControlElementsManager::AddControlElement) before it touches
//   the element, so it is serialised with every other element call. This cannot
//   deadlock against a key press that holds the manager's lock while queuing a
//   command: the controller client runs completions without holding its queue
//   lock, and queuing waits only for that short-held queue lock, never for the
//   write thread. Consequence for owners: never stop or destroy the controller
//   client while holding the manager's lock (its write thread may be waiting
//   for that lock inside a completion).
// - Holds to confirm complete on the timer thread, in HandleTimerTick (manager's
//   lock held), which then acts as HandleKeyDown would have at the press.
// - Dials: turns arrive on the host thread; what the pacer held back leaves
//   from HandleTimerTick on the timer thread. Both with the manager's lock;
//   the DialControl's completions come through MakeCompletion.

#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "controller/WriteCompletion.h"
#include "elements/CommandBuilder.h"
#include "elements/ContextRecords.h"
#include "elements/DialControl.h"
#include "elements/HoldToConfirm.h"
#include "elements/HostKeyState.h"
#include "elements/KeyPainter.h"
#include "elements/LinkStatus.h"
#include "elements/SettingsPages.h"

class ControllerClient;
class ESDConnectionManager;
class EventMessage;
class Graphics;

class ControlElementBase : public std::enable_shared_from_this<ControlElementBase>,
                           private DialControl::Element {
public:
    // Produces the composed image of one redraw; may return null.
    using ImageFactory = std::function<std::shared_ptr<Graphics>(bool withoutLabel)>;
    using WriteCompletion = ::WriteCompletion;

    ControlElementBase(const std::string& name, const nlohmann::json& defaultSettings);
    virtual ~ControlElementBase();

    ControlElementBase(const ControlElementBase&) = delete;
    ControlElementBase& operator=(const ControlElementBase&) = delete;

    // Signed in and supported: only then do key presses reach the element.
    virtual bool IsActive();
    virtual bool IsSupported();
    // The manager's entry points for key events. A key whose settings ask
    // for hold to confirm acts only once it has been held for its time (the
    // press then reaches HandleKeyDown from the timer tick); any other key,
    // and any step of a Multi Action, goes straight to HandleKeyDown /
    // HandleKeyUp.
    void KeyDown(const std::string& context, const nlohmann::json& payload);
    void KeyUp(const std::string& context, const nlohmann::json& payload);
    // The dial events of a context that appeared as a dial; for any other
    // context (or an element without dial support) one log line and nothing
    // else. A push holds to confirm as a key does; a touch acts at once, or
    // with hold to confirm on, only as a long touch.
    void DialRotate(const std::string& context, int32_t ticks);
    void DialDown(const std::string& context, const nlohmann::json& payload);
    void DialUp(const std::string& context, const nlohmann::json& payload);
    void TouchTap(const std::string& context, const nlohmann::json& payload, bool hold);
    // Gives the element its dial behaviour; called once after construction.
    void EnableDial(DialSetup setup);
    // Milliseconds until a dial's held-back turn is due, or nothing.
    std::optional<int32_t> DialWaitMs() const;
    virtual void HandleKeyDown(const std::string& context, const nlohmann::json& payload);
    virtual void HandleKeyUp(const std::string& context, const nlohmann::json& payload);
    // Merges the payload's "settings" into the context's settings, stores the
    // result with the host and refreshes the property inspector.
    virtual void HandleReceivedSettings(const std::string& context, const nlohmann::json& payload);
    // "titleParametersDidChange": the settings in |payload| as for
    // HandleReceivedSettings, and the key's title. While the streamer's own
    // title shows, the key is drawn without the face's label; a title the
    // plug-in set itself does not count.
    void HandleTitleParameters(const std::string& context, const nlohmann::json& payload);
    // The context's property inspector is shown: sends it {"settings": ...,
    // "state": {"id": ...}} (or asks the host for the settings when none are
    // known yet), and from now on every change, until it is closed.
    virtual void HandlePropertyInspectorRequest(const std::string& context);
    // The context's property inspector was closed: nothing more is sent to it.
    void HandlePropertyInspectorClosed(const std::string& context);
    // Every 250 ms: applies a changed status overlay, expires the transient one.
    virtual void HandleTimerTick();
    // Whether a later tick has something to do: a status change not yet
    // drawn, or a transient overlay waiting to expire. The manager's timer
    // sleeps while no element has work.
    virtual bool HasTimerWork() const;
    // Whether a key is being held to confirm: its fill is drawn, and its
    // command sent, at the quick pace of ticks rather than every 250 ms.
    bool WantsQuickTicks() const;
    // Draws every key again from the current state at the next tick, and
    // sends the title again (after the computer wakes from sleep).
    void RedrawAll();
    // Records the link, sign-in and support reports of the controller.
    virtual void HandleEventMessage(const EventMessage& event);
    // "offline", "login", "unsupported" or "online"; "sandboxed" instead of
    // "offline" inside a sandbox that may hide the controller's socket.
    virtual std::string GetStateName();
    // Marks the plug-in as running inside a sandbox: while the link is down,
    // the property inspector gets the state "sandboxed" with |grantCommand|,
    // the command that opens the sandbox to the controller's socket.
    void SetSandboxGrantCommand(const std::string& grantCommand);

    const std::string& GetName() const { return m_name; }

    // A key of this action appeared. A context has one record however often
    // it appears; appearing again refreshes its connection and settings.
    void AddSdContext(ESDConnectionManager* connection, const std::string& context,
                      const nlohmann::json& payload);
    void RemoveSdContext(ESDConnectionManager* connection, const std::string& context);
    // The context's settings with the payload's "settings" merged in first.
    // Only a context on screen keeps them; for any other the result is the
    // defaults with the payload's settings, and nothing is stored.
    nlohmann::json GetContextSettings(const std::string& context, const nlohmann::json& payload);
    // Whether |context| is on screen (has a record).
    bool IsShown(const std::string& context) const;
    // Whether |context| is on screen as a dial.
    bool IsDial(const std::string& context) const;
    // Records held: listed contexts plus stored settings and images. Tests
    // use it to show that nothing is kept for keys that are not on screen.
    size_t RecordCount() const;

    void SetImageFromFile(const std::string& fileName);
    // An empty title hands the keys back to the title their user gave them.
    void SetTitleForAllContexts(const std::string& title);
    // Shows |image| over the key for about 1.5 seconds, replacing an earlier one.
    void SetTransientOverlay(const std::shared_ptr<Graphics>& image);
    // On a key that leaves its image to the host, the host's own marks.
    void ShowAlertOverlay();
    void ShowSuccessOverlay();
    // Redraws one context, or every context when |context| is empty.
    void UpdateGraphics(const std::string& context);
    void RenderContext(const std::string& context, const ImageFactory& factory);
    bool SetImageBase64(const std::string& context, const std::string& image);

    // Called by ControlElementsManager::AddControlElement: the lock that
    // serialises calls into this element, taken by its completions.
    void ShareManagerLock(const std::shared_ptr<std::recursive_mutex>& managerLock);
    // Called by ControlElementsManager::AddControlElement: wakes the manager's
    // timer; the element calls it whenever it gives a tick something to do.
    void ShareTimerWake(std::function<void()> wake);

protected:
    // Whether this kind of key can hold to confirm (a key whose presses
    // count, like the pump, keeps its own rules).
    virtual bool AllowsHoldToConfirm() const { return true; }

    // The element's state as the host keeps it for actions with two host
    // states: from the first call on, every key on screen is told |state|
    // whenever it shows another one.
    void SetHostState(int32_t state);

    // The message of |builder| for a press of |context|: its source address
    // names the context and this element.
    std::shared_ptr<MessageBase> BuildCommand(const std::string& context, const CommandBuilder& builder,
                                              const nlohmann::json& settings);
    // Builds the command of |builder| with this element's address for
    // |context| and queues it on |client| with |completion|.
    void SendCommand(ControllerClient& client, const std::string& context, const CommandBuilder& builder,
                     const nlohmann::json& settings, WriteCompletion completion);

    // Wraps |work| (run with the outcome of a command) as a completion that
    // runs under the manager's lock while this element still exists.
    // Exceptions of |work| are logged and dropped, never raised into the
    // controller client's write thread.
    WriteCompletion MakeCompletion(std::function<void(bool accepted)> work);
    // The controller took the command of a key press made from |settings|:
    // a volume action's dial learns the volume it set or nudged.
    void VolumeCommandTaken(const nlohmann::json& settings);
    // Tells the manager's timer that a tick has work again.
    void WakeTimer() const;

    // Gives a context on screen its own base image; false (and nothing kept)
    // for any other context.
    bool SetContextImage(const std::string& context, std::shared_ptr<Graphics> image);

private:
    // Sends the settings page of |context| the key's settings and the
    // element's state, or first asks the host for the settings.
    void SendPropertyInspectorData(const std::string& context);
    // Hold to confirm: acts on the holds whose time has come, ends hints,
    // and draws the fill of the keys still held.
    void TickHolds();
    void ActOnConfirmedHolds(HoldToConfirm::Clock::time_point now);
    // Drops the key's hold or hint and shows the key as it is.
    void CancelHold(const std::string& context);
    // The key's own title again after the hint.
    void RestoreTitle(const std::string& context);
    void SendTitle(const SdContextEntry& entry) const;
    // Whether |title| is one the plug-in shows on its keys (its own title or
    // the hold hint's) rather than the streamer's.
    bool IsPluginTitle(const std::string& title) const;
    // Sends |image| to the key, with the mark of a hold or hint over it.
    void SendEncoded(const std::string& context, const Graphics& image);
    // Sends the key the element's host state when the host shows another one.
    void TellHostState(const SdContextEntry& entry);
    // The host's state in a key event's payload, corrected when it is not the element's.
    void FollowHostState(const std::string& context, const nlohmann::json& payload);
    // The key's own icons while it works: the host shows them, after one
    // empty "setImage" each time the key starts to work. True when nothing
    // is to be drawn for the key.
    bool LeavesImageToHost(const std::string& context);
    bool OwnIcons(const std::string& context) const;
    void WarnIfOwnIconsUnreadable(const std::string& context) const;
    // A press that acts: a key's HandleKeyDown, or a dial's push.
    void Act(const std::string& context, const nlohmann::json& payload);
    // What the element's DialControl asks of it.
    nlohmann::json* DialSettings(const std::string& context) override;
    ESDConnectionManager* DialConnection(const std::string& context) override;
    void DialSettingChanged(const std::string& context, const char* key) override;
    bool DialActive() override;
    std::string DialStateName() override;
    void SendDialCommand(ControllerClient& client, const std::string& context, const CommandBuilder& builder,
                         const nlohmann::json& settings, std::function<void(bool accepted)> outcome) override;

    std::string m_name;
    std::recursive_mutex m_mutex;
    ContextRecords m_sdContexts;  // the keys on screen and their settings
    LinkStatus m_status;
    KeyPainter m_painter;
    SettingsPages m_pages;
    std::string m_title;  // the plug-in's title for every key; empty: the user's own
    // The manager's lock once registered; until then a lock of the element's own.
    std::shared_ptr<std::recursive_mutex> m_managerLock;
    std::function<void()> m_wakeTimer;  // empty until registered
    HoldToConfirm m_hold;
    HostKeyState m_hostKeys;
    std::optional<int32_t> m_hostState;   // set for actions with two host states
    std::unique_ptr<DialControl> m_dial;  // set for actions that work on a dial
};
