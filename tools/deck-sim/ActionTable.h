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

struct ActionEntry {
    std::string uuid;                   // "com.vantora.kestrel.<short name>"
    std::string name;                   // what the key list calls it
    std::string propertyInspectorPath;  // relative to the plug-in folder; empty: none
    std::string stateImage;             // default key picture (no extension); empty: none
    bool encoder = false;               // may be placed on a dial
    std::string encoderLayout = "$X1";  // the strip's layout until the plug-in sets one
    std::string encoderIcon;            // the dial's picture (no extension); empty: the key picture
    // What rotate, push, touch and longTouch do, lower-case keys as the
    // plug-in's setTriggerDescription names them; only those given.
    nlohmann::json triggerDescription = nlohmann::json::object();
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
