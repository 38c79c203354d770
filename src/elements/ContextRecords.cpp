#include "elements/ContextRecords.h"

#include <algorithm>
#include <utility>

using json = nlohmann::json;

ContextRecords::ContextRecords(json defaultSettings) : m_defaultSettings(std::move(defaultSettings)) {}

void ContextRecords::Add(ESDConnectionManager* connection, const std::string& context) {
    for (SdContextEntry& entry : m_entries) {
        if (entry.context != context) continue;
        entry.connection = connection;
        return;
    }
    m_entries.push_back(SdContextEntry{context, connection});
}

const json& ContextRecords::StartSettings(const std::string& context, const json& payload) {
    json& settings = m_settings[context];
    settings = m_defaultSettings;
    Merge(settings, payload);
    return settings;
}

void ContextRecords::Remove(ESDConnectionManager* connection, const std::string& context) {
    m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                   [&](const SdContextEntry& entry) {
                                       return entry.context == context && entry.connection == connection;
                                   }),
                    m_entries.end());
    m_settings.erase(context);
}

bool ContextRecords::SetOwnTitle(const std::string& context, bool ownTitle) {
    auto entry = std::find_if(m_entries.begin(), m_entries.end(),
                              [&](const SdContextEntry& shown) { return shown.context == context; });
    if (entry == m_entries.end() || entry->ownTitle == ownTitle) return false;
    entry->ownTitle = ownTitle;
    return true;
}

bool ContextRecords::HasOwnTitle(const std::string& context) const {
    const SdContextEntry* entry = Find(context);
    return entry != nullptr && entry->ownTitle;
}

const SdContextEntry* ContextRecords::Find(const std::string& context) const {
    auto found = std::find_if(m_entries.begin(), m_entries.end(),
                              [&](const SdContextEntry& entry) { return entry.context == context; });
    return found == m_entries.end() ? nullptr : &*found;
}

json* ContextRecords::Settings(const std::string& context) {
    auto found = m_settings.find(context);
    if (found != m_settings.end()) return &found->second;
    if (!IsShown(context)) return nullptr;
    return &m_settings.emplace(context, m_defaultSettings).first->second;
}

const json* ContextRecords::Stored(const std::string& context) const {
    auto found = m_settings.find(context);
    return found == m_settings.end() ? nullptr : &found->second;
}

json ContextRecords::Merged(const std::string& context, const json& payload) {
    json* stored = Settings(context);
    if (stored == nullptr) {
        json settings = m_defaultSettings;
        Merge(settings, payload);
        return settings;
    }
    Merge(*stored, payload);
    return *stored;
}

void ContextRecords::Merge(json& target, const json& payload) {
    if (!payload.contains("settings")) return;
    const json& settings = payload["settings"];
    for (auto it = settings.begin(); it != settings.end(); ++it) target[it.key()] = it.value();
}
