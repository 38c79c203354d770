#pragma once
// The real plug-in, noting each key that a willAppear shows, exactly as the
// connection manager read it (escapes and all), so that the fuzz targets can
// take those keys off the deck again without reading a message twice. Every
// other host event takes the plug-in's own path unchanged.
//
// Threads: as MyStreamDeckPlugin; the noted keys are touched on the fuzzer's
// thread alone (host events and TakeAppeared).

#include <set>
#include <string>
#include <utility>

#include "plugin/MyStreamDeckPlugin.h"

class KeyNotingPlugin : public MyStreamDeckPlugin {
public:
    using Key = std::pair<std::string, std::string>;  // (action, context)

    using MyStreamDeckPlugin::MyStreamDeckPlugin;

    // The keys shown since the last call.
    std::set<Key> TakeAppeared();

    void OnWillAppear(const std::string& action, const std::string& context, const nlohmann::json& payload,
                      const std::string& device) override;

private:
    std::set<Key> m_appeared;
};
