#include "KeyNotingPlugin.h"

std::set<KeyNotingPlugin::Key> KeyNotingPlugin::TakeAppeared() {
    std::set<Key> appeared;
    appeared.swap(m_appeared);
    return appeared;
}

void KeyNotingPlugin::OnWillAppear(const std::string& action, const std::string& context,
                                   const nlohmann::json& payload, const std::string& device) {
    // Noted first: a key the plug-in half-adds before it raises must leave too.
    m_appeared.emplace(action, context);
    MyStreamDeckPlugin::OnWillAppear(action, context, payload, device);
}
