// The streamer's telemetry switch: the host's global settings reach the
// telemetry service at once (events held for the choice, dropped when off,
// posted to a real collector on 127.0.0.1 when on), the environment wins and
// the settings page is told why, and bad global settings change nothing.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "controller/NetworkClientBase.h"
#include "host/ESDConnectionManager.h"
#include "plugin/MyStreamDeckPlugin.h"
#include "support/LogCapture.h"
#include "support/TestHttpServer.h"
#include "telemetry/TelemetryService.h"

using json = nlohmann::json;
using namespace std::chrono_literals;

namespace {

constexpr char kSkip[] = "com.vantora.kestrel.alerts-skip";

// A controller server that is never there: the plug-in's link keeps trying.
class AbsentController : public NetworkClientBase {
public:
    bool Connect() override {
        if (onConnectionChanged) onConnectionChanged(false);
        return false;
    }
    void Disconnect() override {
        if (onConnectionChanged) onConnectionChanged(false);
    }
    bool IsConnected() override { return false; }
    bool Write(const char*, uint32_t) override { return false; }
};

class TelemetrySwitchTest : public ::testing::Test {
protected:
    // A plug-in whose usage events go to this test's collector, or are kept
    // off by the environment as |offBy| names it.
    void Start(const std::string& offBy = "") {
        TelemetrySettings settings;
        settings.collectorUrl = m_collector.Url("/science/insert/kestrel");
        settings.enabled = offBy.empty();
        settings.offBy = offBy;
        settings.choiceWait = 60s;  // far beyond the test: only the switch releases events
        m_telemetry = TelemetryService::Create(settings);
        m_plugin = std::make_unique<MyStreamDeckPlugin>(std::make_shared<AbsentController>(), "",
                                                        ControllerThreads::WriteAndHousekeeping, m_telemetry);
        m_plugin->SetConnectionManager(&m_host);
        m_host.SetPlugin(m_plugin.get());
        m_plugin->OnRegistered();
    }
    void TearDown() override {
        if (m_plugin) m_plugin->StopThreads();
    }
    void GlobalSettings(const json& payload) {
        m_host.HandleMessageText(json({{"event", "didReceiveGlobalSettings"}, {"payload", payload}}).dump());
    }
    size_t Sent(const std::string& event) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::count_if(m_sent.begin(), m_sent.end(),
                             [&](const json& command) { return command["event"] == event; });
    }
    // What a settings page that opens now hears of the switch.
    json TellPage() {
        m_host.HandleMessageText(
            json({{"event", "propertyInspectorDidAppear"}, {"action", kSkip}, {"context", "K1"}}).dump());
        std::lock_guard<std::mutex> lock(m_mutex);
        const json& told = m_sent.back();
        return told["event"] == "sendToPropertyInspector" ? told["payload"]["telemetry"] : json();
    }
    // The event names the collector received, in order.
    std::vector<std::string> Posted() {
        std::vector<std::string> names;
        for (const RecordedHttpRequest& request : m_collector.Requests())
            names.push_back(json::parse(request.body).at(0).at("name"));
        return names;
    }

    LogCapture m_log;
    TestHttpServer m_collector;
    std::mutex m_mutex;
    std::vector<json> m_sent;
    ESDConnectionManager m_host{[this](const std::string& text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sent.push_back(json::parse(text));
    }};
    std::shared_ptr<TelemetryService> m_telemetry;
    std::unique_ptr<MyStreamDeckPlugin> m_plugin;
};

TEST_F(TelemetrySwitchTest, TheSwitchInTheGlobalSettingsStopsAndStartsUsageEventsAtOnce) {
    Start();
    EXPECT_EQ(Sent("getGlobalSettings"), 1u) << "asked for once registered";

    // Until the host answers, events wait: the switch may be off.
    m_telemetry->SendEvent("before_the_answer", false, json::object());
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(m_collector.Requests().empty());

    GlobalSettings({{"settings", {{"send_usage_statistics", false}, {"other", 1}}}});
    EXPECT_EQ(TellPage(), json({{"on", false}, {"locked", false}, {"offBy", ""}}));
    m_telemetry->SendEvent("while_off", false, json::object());
    m_telemetry->SendEvent("while_off_at_once", true, json::object());

    GlobalSettings({{"settings", json::object()}});  // no switch stored: on, as on a fresh install
    EXPECT_EQ(TellPage(), json({{"on", true}, {"locked", false}, {"offBy", ""}}));
    m_telemetry->SendEvent("switched_on", false, json::object());
    ASSERT_TRUE(m_collector.WaitForRequests(1, 10s));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(Posted(), std::vector<std::string>({"switched_on"}))
        << "what was queued or sent while off is gone, not sent later";
}

TEST_F(TelemetrySwitchTest, BadGlobalSettingsCostOneLineEachAndChangeNothing) {
    Start();
    GlobalSettings({{"settings", {{"send_usage_statistics", false}}}});
    const std::string huge(1 << 20, 'x');
    for (const json& payload : {json({{"settings", {{"send_usage_statistics", "true"}}}}),
                                json({{"settings", {{"send_usage_statistics", 1}}}}),
                                json({{"settings", {{"send_usage_statistics", huge}}}}),
                                json({{"settings", "on"}}), json::array(), json({{"nothing", true}})}) {
        GlobalSettings(payload);
        EXPECT_FALSE(m_telemetry->UserAllows()) << payload.dump().substr(0, 80);
    }
    const auto lines = m_log.LinesContaining("MyStreamDeckPlugin::OnReceivedGlobalSettings");
    EXPECT_EQ(lines.size(), 6u);
    for (const std::string& line : lines) EXPECT_LT(line.size(), 400u) << "the value itself is not logged";

    // At start a bad answer settles the switch at its default, on: held events go.
    m_plugin->StopThreads();
    m_plugin.reset();
    Start();
    m_telemetry->SendEvent("held", false, json::object());
    GlobalSettings({{"settings", {{"send_usage_statistics", nullptr}}}});
    ASSERT_TRUE(m_collector.WaitForRequests(1, 10s));
    EXPECT_EQ(Posted(), std::vector<std::string>({"held"}));
}

TEST_F(TelemetrySwitchTest, TheEnvironmentWinsAndTheSettingsPageIsToldWhich) {
    Start("DO_NOT_TRACK");
    GlobalSettings({{"settings", {{"send_usage_statistics", true}}}});
    m_telemetry->SendEvent("never", true, json::object());
    EXPECT_EQ(TellPage(), json({{"on", false}, {"locked", true}, {"offBy", "DO_NOT_TRACK"}}));
    EXPECT_TRUE(m_collector.Requests().empty());
}

}  // namespace
