#pragma once
// The actions that deck-sim lays out on its virtual device, one key each, in
// the order of the plug-in's catalogue. Names, inspector pages and key-list
// pictures come from the plug-in folder's manifest.json when it has them; a
// built-in entry (identifier, short name as its name) stands in for anything the
// manifest lacks (or when there is no manifest yet). The actions and their
// order come from the plug-in's action catalogue, and so does whether an
// action may sit on a dial; the manifest's Encoder block gives a dial's first
// layout and what its controls do.

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

// One of the manifest's States of an action: what the host shows in it when
// the plug-in sets no image, and what a Multi Action's state picker calls it.
struct ManifestState {
    std::string image;  // no extension; empty: none
    std::string name;   // empty: the host numbers it
};

struct ActionEntry {
    std::string uuid;                   // "com.vantora.kestrel.<short name>"
    std::string name;                   // what the key list calls it
    std::string propertyInspectorPath;  // relative to the plug-in folder; empty: none
    std::vector<ManifestState> states;  // as the manifest lists them; empty without a manifest
    // The host flips a two-state key on every press unless the action says
    // "DisableAutomaticStates"; then only the plug-in's setState changes it.
    bool automaticStates = true;
    bool inMultiActions = true;         // may be a step of a Multi Action ("SupportedInMultiActions")
    bool encoder = false;               // may be placed on a dial
    std::string encoderLayout = "$X1";  // the strip's layout until the plug-in sets one
    std::string encoderIcon;            // the dial's picture (no extension); empty: the key picture
    // What rotate, push, touch and longTouch do, lower-case keys as the
    // plug-in's setTriggerDescription names them; only those given.
    nlohmann::json triggerDescription = nlohmann::json::object();

    // How many states the host keeps for a key of this action: one or two.
    size_t StateCount() const { return states.size() == 2 ? 2 : 1; }
    // The picture of |state| (no extension); empty: none.
    std::string StateImage(size_t state = 0) const {
        return state < states.size() ? states[state].image : "";
    }
};

class ActionTable {
public:
    // The built-in table: identifiers and short names, no inspector pages or pictures.
    ActionTable();

    // Reads the manifest text of the plug-in folder over the built-in entries.
    // Returns false (and keeps the table unchanged) when the text is not a
    // manifest; actions it does not list keep their built-in entries.
    bool ApplyManifest(const std::string& manifestText);
    // ApplyManifest on <folder>/manifest.json; false when unreadable.
    bool LoadManifest(const std::string& pluginFolder);

    const std::vector<ActionEntry>& Entries() const { return m_entries; }

private:
    std::vector<ActionEntry> m_entries;
};
