#include <gtest/gtest.h>

#include "deck-sim/VirtualDeck.h"

using nlohmann::json;

namespace {

std::vector<ActionEntry> Actions() {
    ActionTable table;
    table.ApplyManifest(R"({"Actions": [
        {"UUID": "com.vantora.kestrel.media-request-set-volume-level", "PropertyInspectorPath": "pi/volume-level.html"},
        {"UUID": "com.vantora.kestrel.emberfall", "PropertyInspectorPath": "pi/status.html"}]})");
    return table.Entries();
}

std::vector<std::string> Contexts() {
    std::vector<std::string> contexts;
    for (int i = 0; i < 22; ++i) contexts.push_back("CTX" + std::to_string(i));
    return contexts;
}

constexpr size_t kVolume = 19;  // the set-volume key
constexpr size_t kEmberfall = 1;

class VirtualDeckTest : public ::testing::Test {
protected:
    VirtualDeckTest() : m_deck(Actions(), Contexts(), "PLUGINUUID", "1.2.3.4") {}

    Outbox Register() {
        bool accepted = false;
        Outbox out = m_deck.RegisterPlugin({{"event", "registerPlugin"}, {"uuid", "PLUGINUUID"}}, accepted);
        EXPECT_TRUE(accepted);
        return out;
    }
    // Opens the inspector of |index| as the page and the inspector page would.
    void OpenInspector(size_t index) {
        m_deck.SelectInspector(index);
        ASSERT_TRUE(
            m_deck.RegisterInspector({{"event", "registerPropertyInspector"}, {"uuid", Contexts()[index]}}));
        Outbox out = m_deck.InspectorAppeared();
        ASSERT_EQ(out.toPlugin.size(), 1u);
        EXPECT_EQ(out.toPlugin[0]["event"], "propertyInspectorDidAppear");
        EXPECT_EQ(out.toPlugin[0]["context"], Contexts()[index]);
    }

    VirtualDeck m_deck;
};

}  // namespace

TEST_F(VirtualDeckTest, RegistrationAnnouncesTheDeviceThenEveryKeyRowByRow) {
    bool accepted = true;
    Outbox refused = m_deck.RegisterPlugin({{"event", "registerPlugin"}, {"uuid", "SOMEONE-ELSE"}}, accepted);
    EXPECT_FALSE(accepted);
    EXPECT_TRUE(refused.toPlugin.empty());

    Outbox out = Register();
    ASSERT_EQ(out.toPlugin.size(), 23u);
    const json& device = out.toPlugin[0];
    EXPECT_EQ(device["event"], "deviceDidConnect");
    EXPECT_EQ(device["device"], "DECKSIM1");
    EXPECT_EQ(device["deviceInfo"]["size"], json({{"columns", 8}, {"rows", 4}}));
    EXPECT_EQ(m_deck.InfoDocument()["devices"][0]["id"], "DECKSIM1");
    EXPECT_EQ(m_deck.InfoDocument()["plugin"]["version"], "1.2.3.4");

    const json& last = out.toPlugin[22];
    EXPECT_EQ(last["event"], "willAppear");
    EXPECT_EQ(last["action"], "com.vantora.kestrel.media-request-show-on-stream");
    EXPECT_EQ(last["context"], "CTX21");
    EXPECT_EQ(last["payload"]["coordinates"], json({{"column", 5}, {"row", 2}}));
    EXPECT_EQ(last["payload"]["settings"], json::object());
    EXPECT_EQ(last["payload"]["controller"], "Keypad");
}

TEST_F(VirtualDeckTest, KeepsSettingsAsTheHostDoes) {
    Register();
    json settings = {{"volume_value", 40}, {"auto_unmute", "0"}};
    Outbox stored =
        m_deck.FromPlugin({{"event", "setSettings"}, {"context", "CTX19"}, {"payload", settings}});
    EXPECT_TRUE(stored.toPlugin.empty());  // the plug-in does not get its own settings back

    Outbox answer = m_deck.FromPlugin({{"event", "getSettings"}, {"context", "CTX19"}});
    ASSERT_EQ(answer.toPlugin.size(), 1u);
    EXPECT_EQ(answer.toPlugin[0]["event"], "didReceiveSettings");
    EXPECT_EQ(answer.toPlugin[0]["action"], "com.vantora.kestrel.media-request-set-volume-level");
    EXPECT_EQ(answer.toPlugin[0]["payload"]["settings"], settings);

    Outbox press = m_deck.KeyDown(kVolume);
    ASSERT_EQ(press.toPlugin.size(), 1u);
    EXPECT_EQ(press.toPlugin[0]["event"], "keyDown");
    EXPECT_EQ(press.toPlugin[0]["payload"]["settings"], settings);
    EXPECT_EQ(m_deck.KeyUp(kVolume).toPlugin[0]["event"], "keyUp");

    // Settings that are not an object are not stored; unknown contexts change nothing.
    m_deck.FromPlugin({{"event", "setSettings"}, {"context", "CTX19"}, {"payload", "text"}});
    m_deck.FromPlugin({{"event", "setSettings"}, {"context", "NOPE"}, {"payload", json::object()}});
    EXPECT_EQ(m_deck.Keys()[kVolume].settings, settings);
    EXPECT_TRUE(m_deck.KeyDown(99).toPlugin.empty());
}

TEST_F(VirtualDeckTest, KeepsTheLatestImageAndTitleAndRefusesImagesThatAreNoDataUrl) {
    Register();
    m_deck.FromPlugin(
        {{"event", "setImage"}, {"context", "CTX1"}, {"payload", {{"image", "data:image/png;base64,AAAA"}}}});
    m_deck.FromPlugin(
        {{"event", "setImage"}, {"context", "CTX1"}, {"payload", {{"image", "javascript:alert(1)"}}}});
    m_deck.FromPlugin(
        {{"event", "setTitle"}, {"context", "CTX1"}, {"payload", {{"title", "2"}, {"target", 0}}}});
    EXPECT_EQ(m_deck.Keys()[kEmberfall].ShownImage(), "data:image/png;base64,AAAA");
    EXPECT_EQ(m_deck.Keys()[kEmberfall].title, "2");
    m_deck.FromPlugin({{"event", "setImage"}, {"context", "CTX1"}, {"payload", {{"image", ""}}}});
    EXPECT_EQ(m_deck.Keys()[kEmberfall].ShownImage(), "");  // back to the default picture
}

TEST_F(VirtualDeckTest, RelaysBetweenTheOpenInspectorAndThePlugin) {
    Register();
    Outbox page = m_deck.SelectInspector(kVolume);
    ASSERT_EQ(page.toPage.size(), 1u);
    EXPECT_EQ(page.toPage[0]["url"], "/plugin/pi/volume-level.html");
    EXPECT_EQ(page.toPage[0]["uuid"], "CTX19");
    EXPECT_EQ(json::parse(page.toPage[0]["actionInfo"].get<std::string>())["context"], "CTX19");
    EXPECT_FALSE(m_deck.RegisterInspector({{"event", "registerPropertyInspector"}, {"uuid", "CTX1"}}));
    OpenInspector(kVolume);

    json edited = {{"volume_value", 30}, {"auto_unmute", "1"}};
    Outbox fromInspector =
        m_deck.FromInspector({{"event", "setSettings"}, {"context", "CTX19"}, {"payload", edited}});
    ASSERT_EQ(fromInspector.toPlugin.size(), 1u);
    EXPECT_EQ(fromInspector.toPlugin[0]["event"], "didReceiveSettings");
    EXPECT_EQ(fromInspector.toPlugin[0]["payload"]["settings"], edited);
    EXPECT_EQ(m_deck.Keys()[kVolume].settings, edited);

    // An inspector speaks for its own key only.
    EXPECT_TRUE(
        m_deck.FromInspector({{"event", "setSettings"}, {"context", "CTX1"}, {"payload", json::object()}})
            .toPlugin.empty());

    json data = {{"settings", edited}, {"state", {{"id", "online"}}}};
    Outbox toInspector =
        m_deck.FromPlugin({{"event", "sendToPropertyInspector"}, {"context", "CTX19"}, {"payload", data}});
    ASSERT_EQ(toInspector.toInspector.size(), 1u);
    EXPECT_EQ(toInspector.toInspector[0]["event"], "sendToPropertyInspector");
    EXPECT_EQ(toInspector.toInspector[0]["payload"], data);
    // Data for another key's inspector goes nowhere, and the page lists the drop.
    Outbox dropped =
        m_deck.FromPlugin({{"event", "sendToPropertyInspector"}, {"context", "CTX1"}, {"payload", data}});
    EXPECT_TRUE(dropped.toInspector.empty());
    ASSERT_EQ(dropped.toPage.size(), 1u);
    EXPECT_NE(dropped.toPage[0].dump().find("dropped settings-page data"), std::string::npos);

    Outbox pluginSettings =
        m_deck.FromPlugin({{"event", "setSettings"}, {"context", "CTX19"}, {"payload", edited}});
    ASSERT_EQ(pluginSettings.toInspector.size(), 1u);
    EXPECT_EQ(pluginSettings.toInspector[0]["event"], "didReceiveSettings");

    Outbox toPlugin =
        m_deck.FromInspector({{"event", "sendToPlugin"}, {"context", "CTX19"}, {"payload", {{"a", 1}}}});
    ASSERT_EQ(toPlugin.toPlugin.size(), 1u);
    EXPECT_EQ(toPlugin.toPlugin[0]["event"], "sendToPlugin");
    EXPECT_EQ(toPlugin.toPlugin[0]["action"], "com.vantora.kestrel.media-request-set-volume-level");

    // Opening another key's inspector closes this one first.
    Outbox other = m_deck.SelectInspector(kEmberfall);
    ASSERT_EQ(other.toPlugin.size(), 1u);
    EXPECT_EQ(other.toPlugin[0]["event"], "propertyInspectorDidDisappear");
    EXPECT_EQ(other.toPlugin[0]["context"], "CTX19");
    EXPECT_TRUE(m_deck.FromInspector({{"event", "getSettings"}, {"context", "CTX19"}}).toInspector.empty());
}

TEST_F(VirtualDeckTest, KeysWithoutAPageOpenNoInspector) {
    Register();
    Outbox page = m_deck.SelectInspector(0);  // overlays-reload has no page in this manifest
    EXPECT_TRUE(page.toPage[0]["index"].is_null());
    EXPECT_FALSE(m_deck.RegisterInspector({{"event", "registerPropertyInspector"}, {"uuid", "CTX0"}}));
    EXPECT_TRUE(m_deck.InspectorAppeared().toPlugin.empty());
}
