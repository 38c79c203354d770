#pragma once
// One instance of the plug-in's actions as the host keeps it: a key of the
// device, the action on a dial, or a step of a composite key.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "deck-sim/ActionTable.h"

struct DeckKey {
    ActionEntry action;
    std::string context;
    int column = 0;
    int row = 0;
    nlohmann::json settings = nlohmann::json::object();  // as the host stores them
    // Per state: the latest data URL the plug-in set; empty (or missing): the
    // host's own picture of that state.
    std::vector<std::string> images;
    // Per state: the user's own icon, a data URL; empty (or missing): the
    // manifest's picture of that state.
    std::vector<std::string> ownIcons;
    std::string title;
    int state = 0;
    std::string controller = "Keypad";  // "Encoder" for a dial
    bool inMultiAction = false;         // a step of a composite key
    // A Multi Action step of a two-state action: the state the user picked.
    std::optional<int> desiredState;

    // What the plug-in set for the current state; empty: the host's picture.
    std::string ShownImage() const;
    // The host's picture of the current state: the user's own icon, else the
    // manifest's ("/plugin/…@2x.png"); empty: none.
    std::string HostImage() const;
    bool ShowsOwnIcon() const;
    // The user's own icon of |state|; empty: none.
    const std::string& OwnIcon(int state) const;
    // What the host calls |state| of the action: its manifest name, else its number.
    std::string StateName(size_t state) const;
};
