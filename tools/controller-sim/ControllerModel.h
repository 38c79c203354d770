#pragma once
// What the reference controller server knows and says: whether the user is
// signed in, which of the catalogue's actions it supports, and the state of every
// multi-state function. It answers the state query with the full report and
// applies the actions' commands to its state.
//
// Threads: not thread-safe; the simulator's server loop owns it.

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

class ControllerModel {
public:
    explicit ControllerModel(bool signedIn = false);

    // The documents to send back for one received text (empty for anything
    // that is not a command document).
    std::vector<std::string> Handle(const std::string& text);

    // "SYS$REPORT:STATE", "SYS$SUPPORT:FUNCTIONS", then one
    // "SYS$REPORT:STATE:FUNCTION" per multi-state function.
    std::vector<std::string> FullReport() const;
    std::string SignInReport() const;
    std::string SupportReport() const;
    std::string FunctionReport(const std::string& function) const;

    void SetSignedIn(bool signedIn) { m_signedIn = signedIn; }
    // |id| may be the full action identifier or its short name; false when unknown.
    bool SetSupported(const std::string& id, bool supported);
    // |state| is a state name or its index; false when either is unknown.
    bool SetState(const std::string& function, const std::string& state);
    std::optional<std::string> StateOf(const std::string& function) const;

    // Full identifier of an action given by either form; empty when unknown.
    static std::string ResolveActionId(const std::string& id);
    // The full identifiers of every action, in the order of the plug-in's catalogue.
    static std::vector<std::string> ActionIds();

private:
    bool m_signedIn;
    std::set<std::string> m_supported;
    std::map<std::string, std::string> m_states;  // multi-state function -> current state name
};
