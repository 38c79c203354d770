#pragma once
// What one controller event means, decoded once from its document where it
// arrives, so that the elements read typed values and never meet a JSON type
// error: the sign-in report, the support report (action identifier -> bool),
// the state of one function, and the link going up or down. Any other name is
// kept as Other and carries nothing.
// A value type: no locks, copied freely.

#include <map>
#include <nlohmann/json.hpp>
#include <string>

class ControllerEvent {
public:
    enum class Kind { Other, LinkUp, LinkDown, SignInState, Support, FunctionState };

    // Decodes the event |name| with its |data|. A document whose meaning cannot
    // be read (a sign-in report without a boolean "isSignedIn", a support
    // report that is not an object, a function report without string
    // "function" and "state") gives false with the reason. In a support report
    // a member whose value is not a boolean is left out (that action keeps its
    // support state) and named in |refused|; the others are taken.
    static bool Decode(const std::string& name, const nlohmann::json& data, ControllerEvent& out,
                       std::string& reason, std::string& refused);

    Kind kind = Kind::Other;
    bool signedIn = false;                // SignInState
    std::map<std::string, bool> support;  // Support: the well-typed members
    std::string function;                 // FunctionState
    std::string state;                    // FunctionState
};
