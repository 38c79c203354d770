#pragma once
// What a key down tells beyond "pressed": whether the press is a step of a
// Multi Action, and the state the user picked for that step. Read once from
// the host's payload, where it arrives; a member of the wrong kind is named
// in |problem| and counts as missing.
//
// Threads: none; a value read and used on the caller's thread.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

struct KeyPress {
    // "isInMultiAction": the host runs the key as a step of a macro (a Multi
    // Action), which the user confirmed by building it.
    bool inMultiAction = false;
    // "userDesiredState" of a step: the state (0 or 1) the step must bring
    // the function to. Only a step of a two-state action carries it.
    std::optional<int32_t> desiredState;
    // A step whose "userDesiredState" is there but is not 0 or 1: an order
    // that cannot be read, so nothing is sent for it.
    bool desiredStateUnreadable = false;
    // Empty, or what was wrong with the payload, for one log line.
    std::string problem;

    static KeyPress Read(const nlohmann::json& payload);
};
