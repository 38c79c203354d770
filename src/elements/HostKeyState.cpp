#include "elements/HostKeyState.h"

#include "elements/CatalogueElements.h"

using json = nlohmann::json;

int32_t HostKeyState::StateOf(const json& payload) {
    if (!payload.is_object()) return -1;
    const auto state = payload.find("state");
    if (state == payload.end() || !state->is_number_integer()) return -1;
    const int64_t value = state->get<int64_t>();
    return value == 0 || value == 1 ? static_cast<int32_t>(value) : -1;
}

void HostKeyState::Appear(const std::string& context, const json& payload) {
    m_keys[context] = Key{StateOf(payload), false};
}

void HostKeyState::Heard(const std::string& context, const json& payload) {
    auto found = m_keys.find(context);
    const int32_t state = StateOf(payload);
    if (found != m_keys.end() && state >= 0) found->second.state = state;
}

void HostKeyState::Forget(const std::string& context) {
    m_keys.erase(context);
}

bool HostKeyState::Tell(const std::string& context, int32_t state) {
    auto found = m_keys.find(context);
    if (found == m_keys.end() || found->second.state == state) return false;
    found->second.state = state;
    return true;
}

bool HostKeyState::ImageLeft(const std::string& context) const {
    auto found = m_keys.find(context);
    return found != m_keys.end() && found->second.imageLeft;
}

void HostKeyState::SetImageLeft(const std::string& context, bool left) {
    auto found = m_keys.find(context);
    if (found != m_keys.end()) found->second.imageLeft = left;
}

void HostKeyState::ForgetImagesLeft() {
    for (auto& [context, key] : m_keys) key.imageLeft = false;
}

std::optional<bool> HostKeyState::OwnIcons(const json& settings) {
    if (!settings.is_object()) return false;
    const auto own = settings.find("own_icons");
    if (own == settings.end() || own->is_null()) return false;
    // The rule of every stored flag: the settings page shows the box as this reads it.
    return SettingToFlag(*own);
}
