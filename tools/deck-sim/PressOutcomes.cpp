#include "deck-sim/PressOutcomes.h"

#include <algorithm>
#include <cstring>

#include "catalogue/ActionCatalogue.h"

namespace {

struct ReasonText {
    PressOutcomes::Reason reason;
    const char* name;
    const char* words;
};

constexpr ReasonText kReasons[] = {
    {PressOutcomes::Reason::PluginNotRunning, "pluginNotRunning", "the plug-in is not running"},
    {PressOutcomes::Reason::KestrelClosed, "kestrelClosed", "Kestrel is closed"},
    {PressOutcomes::Reason::NotConnected, "notConnected", "the plug-in is not connected to Kestrel"},
    {PressOutcomes::Reason::SignedOut, "signedOut", "nobody is signed in to Kestrel"},
    {PressOutcomes::Reason::NotOffered, "notOffered", "Kestrel does not offer this action"},
    {PressOutcomes::Reason::HeldTooShort, "heldTooShort", "the key was not held long enough"},
    {PressOutcomes::Reason::Unknown, "unknown", "the plug-in sent nothing to Kestrel"},
};

const ReasonText& TextOf(PressOutcomes::Reason reason) {
    for (const ReasonText& text : kReasons)
        if (text.reason == reason) return text;
    return kReasons[std::size(kReasons) - 1];
}

// Every command a press of the action may send, in any of its states.
std::set<std::string> CommandsOf(const std::string& actionUuid) {
    std::set<std::string> commands;
    const size_t prefix = std::strlen(kActionPrefix);
    if (actionUuid.compare(0, prefix, kActionPrefix) != 0) return commands;
    const ActionDescription* action = FindAction(actionUuid.substr(prefix));
    if (!action) return commands;
    for (const ActionState& state : action->states)
        if (!state.command.empty()) commands.insert(state.command);
    return commands;
}

}  // namespace

const char* PressOutcomes::Words(Reason reason) {
    return TextOf(reason).words;
}

const char* PressOutcomes::Name(Reason reason) {
    return TextOf(reason).name;
}

// The first thing that stands between the press and the controller.
PressOutcomes::Reason PressOutcomes::ReasonOf(const PressSituation& situation) {
    if (!situation.pluginConnected) return Reason::PluginNotRunning;
    if (!situation.controllerRunning) return Reason::KestrelClosed;
    if (!situation.controllerLinked) return Reason::NotConnected;
    if (!situation.signedIn) return Reason::SignedOut;
    if (!situation.supported) return Reason::NotOffered;
    if (situation.holdToConfirm) return Reason::HeldTooShort;
    return Reason::Unknown;
}

void PressOutcomes::Pressed(size_t key, const std::string& actionUuid, const PressSituation& situation) {
    std::set<std::string> commands = CommandsOf(actionUuid);
    if (commands.empty()) return;
    if (m_presses.size() == kFollowedAtMost) m_presses.pop_front();
    m_presses.push_back({key, std::move(commands), ReasonOf(situation), std::nullopt});
}

void PressOutcomes::Released(size_t key, Clock::time_point now) {
    for (Press& press : m_presses) {
        if (press.key == key && !press.due) press.due = now + kVerdictAfter;
    }
}

void PressOutcomes::CommandReceived(const std::string& name) {
    m_presses.erase(std::remove_if(m_presses.begin(), m_presses.end(),
                                   [&name](const Press& press) { return press.commands.count(name) > 0; }),
                    m_presses.end());
}

std::vector<PressOutcomes::NotSent> PressOutcomes::TakeDue(Clock::time_point now) {
    std::vector<NotSent> due;
    auto isDue = [now](const Press& press) { return press.due && *press.due <= now; };
    for (const Press& press : m_presses)
        if (isDue(press)) due.push_back({press.key, press.reason});
    m_presses.erase(std::remove_if(m_presses.begin(), m_presses.end(), isDue), m_presses.end());
    return due;
}

std::optional<PressOutcomes::Clock::time_point> PressOutcomes::NextDue() const {
    std::optional<Clock::time_point> next;
    for (const Press& press : m_presses)
        if (press.due && (!next || *press.due < *next)) next = press.due;
    return next;
}
