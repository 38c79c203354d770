#pragma once
// The keys (contexts) of one element that are on screen, one record each with
// the host connection it came through and whether the streamer gave the key a
// title of their own, and each key's stored settings: the
// element's defaults with every "settings" the host sent merged in. Only keys
// on screen keep settings, so what the host sends for other keys cannot make
// the records grow.
//
// Threads: none of its own; the owning element calls it with the control
// elements manager's lock held.

#include <cstddef>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

class ESDConnectionManager;

// One visible key instance of an action.
struct SdContextEntry {
    std::string context;
    ESDConnectionManager* connection;  // not owned
    bool ownTitle = false;             // the host shows a title the streamer gave the key
};

class ContextRecords {
public:
    explicit ContextRecords(nlohmann::json defaultSettings);

    // A key appeared. A context has one record however often it appears;
    // appearing again takes the new connection.
    void Add(ESDConnectionManager* connection, const std::string& context);
    // The key's settings start again: the defaults with the payload's
    // "settings" merged in (see Merge for what it raises).
    const nlohmann::json& StartSettings(const std::string& context, const nlohmann::json& payload);
    // Drops the key's record when it came through |connection|, and its
    // settings whatever the connection.
    void Remove(ESDConnectionManager* connection, const std::string& context);

    const std::vector<SdContextEntry>& Entries() const { return m_entries; }
    // The record of a key on screen, or null.
    const SdContextEntry* Find(const std::string& context) const;
    bool IsShown(const std::string& context) const { return Find(context) != nullptr; }
    // Whether the key on screen shows a title of the streamer's own. Setting
    // it for a key not on screen keeps nothing; true when the key changed.
    bool SetOwnTitle(const std::string& context, bool ownTitle);
    bool HasOwnTitle(const std::string& context) const;

    // The key's stored settings, created from the defaults for a key on screen
    // that has none; null for a key that is not on screen.
    nlohmann::json* Settings(const std::string& context);
    // The stored settings as they are, or null when there are none.
    const nlohmann::json* Stored(const std::string& context) const;
    // The stored settings with the payload's "settings" merged in first. For a
    // key not on screen: the defaults with the payload's settings, kept nowhere.
    nlohmann::json Merged(const std::string& context, const nlohmann::json& payload);

    // Listed keys plus stored settings.
    size_t RecordCount() const { return m_entries.size() + m_settings.size(); }

    // Merges |payload|'s "settings" into |target|: shallow and exact, each
    // member replaces the old value whole. A "settings" that is neither an
    // object nor null raises the JSON library's invalid-iterator error, with
    // the members before it merged.
    static void Merge(nlohmann::json& target, const nlohmann::json& payload);

private:
    std::vector<SdContextEntry> m_entries;  // one entry per context
    std::map<std::string, nlohmann::json> m_settings;
    nlohmann::json m_defaultSettings;
};
