#include <gtest/gtest.h>

#include "DeckTestSupport.h"
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
    return ContextPerAction();
}

const size_t kVolume = KeyOf("media-request-set-volume-level");
const size_t kEmberfall = KeyOf("emberfall");
const std::string kVolumeContext = KeyContext(kVolume);
const std::string kEmberfallContext = KeyContext(kEmberfall);

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
    const std::vector<ActionDescription>& table = ActionCatalogue();
    ASSERT_LE(table.size(), size_t(VirtualDeck::kColumns * VirtualDeck::kRows)) << "more actions than keys";
    ASSERT_EQ(out.toPlugin.size(), 1 + table.size());
    const json& device = out.toPlugin[0];
    EXPECT_EQ(device["event"], "deviceDidConnect");
    EXPECT_EQ(device["device"], "DECKSIM1");
    EXPECT_EQ(device["deviceInfo"]["size"], json({{"columns", 8}, {"rows", 4}}));
    EXPECT_EQ(m_deck.InfoDocument()["devices"][0]["id"], "DECKSIM1");
    EXPECT_EQ(m_deck.InfoDocument()["plugin"]["version"], "1.2.3.4");

    // Every action of the catalogue on a key of its own, in order, row by row.
    for (size_t i = 0; i < table.size(); ++i) {
        const json& appeared = out.toPlugin[1 + i];
        SCOPED_TRACE(table[i].Id());
        EXPECT_EQ(appeared["event"], "willAppear");
        EXPECT_EQ(appeared["action"], table[i].Id());
        EXPECT_EQ(appeared["context"], KeyContext(i));
        EXPECT_EQ(appeared["payload"]["coordinates"],
                  json({{"column", i % VirtualDeck::kColumns}, {"row", i / VirtualDeck::kColumns}}));
        EXPECT_EQ(appeared["payload"]["settings"], json::object());
        EXPECT_EQ(appeared["payload"]["controller"], "Keypad");
    }
}

TEST_F(VirtualDeckTest, KeepsSettingsAsTheHostDoes) {
    Register();
    json settings = {{"volume_value", 40}, {"auto_unmute", "0"}};
    Outbox stored =
        m_deck.FromPlugin({{"event", "setSettings"}, {"context", kVolumeContext}, {"payload", settings}});
    EXPECT_TRUE(stored.toPlugin.empty());  // the plug-in does not get its own settings back

    Outbox answer = m_deck.FromPlugin({{"event", "getSettings"}, {"context", kVolumeContext}});
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
    m_deck.FromPlugin({{"event", "setSettings"}, {"context", kVolumeContext}, {"payload", "text"}});
    m_deck.FromPlugin({{"event", "setSettings"}, {"context", "NOPE"}, {"payload", json::object()}});
    EXPECT_EQ(m_deck.Keys()[kVolume].settings, settings);
    EXPECT_TRUE(m_deck.KeyDown(99).toPlugin.empty());
}

TEST_F(VirtualDeckTest, KeepsTheLatestImageAndTitleAndRefusesImagesThatAreNoDataUrl) {
    Register();
    m_deck.FromPlugin({{"event", "setImage"},
                       {"context", kEmberfallContext},
                       {"payload", {{"image", "data:image/png;base64,AAAA"}}}});
    m_deck.FromPlugin({{"event", "setImage"},
                       {"context", kEmberfallContext},
                       {"payload", {{"image", "javascript:alert(1)"}}}});
    m_deck.FromPlugin({{"event", "setTitle"},
                       {"context", kEmberfallContext},
                       {"payload", {{"title", "2"}, {"target", 0}}}});
    EXPECT_EQ(m_deck.Keys()[kEmberfall].ShownImage(), "data:image/png;base64,AAAA");
    EXPECT_EQ(m_deck.Keys()[kEmberfall].title, "2");
    m_deck.FromPlugin({{"event", "setImage"}, {"context", kEmberfallContext}, {"payload", {{"image", ""}}}});
    EXPECT_EQ(m_deck.Keys()[kEmberfall].ShownImage(), "");  // back to the default picture
}

TEST_F(VirtualDeckTest, RelaysBetweenTheOpenInspectorAndThePlugin) {
    Register();
    Outbox page = m_deck.SelectInspector(kVolume);
    ASSERT_EQ(page.toPage.size(), 1u);
    EXPECT_EQ(page.toPage[0]["url"], "/plugin/pi/volume-level.html");
    EXPECT_EQ(page.toPage[0]["uuid"], kVolumeContext);
    EXPECT_EQ(json::parse(page.toPage[0]["actionInfo"].get<std::string>())["context"], kVolumeContext);
    EXPECT_FALSE(
        m_deck.RegisterInspector({{"event", "registerPropertyInspector"}, {"uuid", kEmberfallContext}}));
    OpenInspector(kVolume);

    json edited = {{"volume_value", 30}, {"auto_unmute", "1"}};
    Outbox fromInspector =
        m_deck.FromInspector({{"event", "setSettings"}, {"context", kVolumeContext}, {"payload", edited}});
    ASSERT_EQ(fromInspector.toPlugin.size(), 1u);
    EXPECT_EQ(fromInspector.toPlugin[0]["event"], "didReceiveSettings");
    EXPECT_EQ(fromInspector.toPlugin[0]["payload"]["settings"], edited);
    EXPECT_EQ(m_deck.Keys()[kVolume].settings, edited);

    // An inspector speaks for its own key only.
    EXPECT_TRUE(
        m_deck
            .FromInspector(
                {{"event", "setSettings"}, {"context", kEmberfallContext}, {"payload", json::object()}})
            .toPlugin.empty());

    json data = {{"settings", edited}, {"state", {{"id", "online"}}}};
    Outbox toInspector = m_deck.FromPlugin(
        {{"event", "sendToPropertyInspector"}, {"context", kVolumeContext}, {"payload", data}});
    ASSERT_EQ(toInspector.toInspector.size(), 1u);
    EXPECT_EQ(toInspector.toInspector[0]["event"], "sendToPropertyInspector");
    EXPECT_EQ(toInspector.toInspector[0]["payload"], data);
    // Data for another key's inspector goes nowhere, and the page lists the drop.
    Outbox dropped = m_deck.FromPlugin(
        {{"event", "sendToPropertyInspector"}, {"context", kEmberfallContext}, {"payload", data}});
    EXPECT_TRUE(dropped.toInspector.empty());
    ASSERT_EQ(dropped.toPage.size(), 1u);
    EXPECT_NE(dropped.toPage[0].dump().find("dropped settings-page data"), std::string::npos);

    Outbox pluginSettings =
        m_deck.FromPlugin({{"event", "setSettings"}, {"context", kVolumeContext}, {"payload", edited}});
    ASSERT_EQ(pluginSettings.toInspector.size(), 1u);
    EXPECT_EQ(pluginSettings.toInspector[0]["event"], "didReceiveSettings");

    Outbox toPlugin = m_deck.FromInspector(
        {{"event", "sendToPlugin"}, {"context", kVolumeContext}, {"payload", {{"a", 1}}}});
    ASSERT_EQ(toPlugin.toPlugin.size(), 1u);
    EXPECT_EQ(toPlugin.toPlugin[0]["event"], "sendToPlugin");
    EXPECT_EQ(toPlugin.toPlugin[0]["action"], "com.vantora.kestrel.media-request-set-volume-level");

    // Opening another key's inspector closes this one first.
    Outbox other = m_deck.SelectInspector(kEmberfall);
    ASSERT_EQ(other.toPlugin.size(), 1u);
    EXPECT_EQ(other.toPlugin[0]["event"], "propertyInspectorDidDisappear");
    EXPECT_EQ(other.toPlugin[0]["context"], kVolumeContext);
    EXPECT_TRUE(
        m_deck.FromInspector({{"event", "getSettings"}, {"context", kVolumeContext}}).toInspector.empty());
}

TEST_F(VirtualDeckTest, KeysWithoutAPageOpenNoInspector) {
    Register();
    const size_t reload = KeyOf("overlays-reload");  // no page in this manifest
    Outbox page = m_deck.SelectInspector(reload);
    EXPECT_TRUE(page.toPage[0]["index"].is_null());
    EXPECT_FALSE(
        m_deck.RegisterInspector({{"event", "registerPropertyInspector"}, {"uuid", KeyContext(reload)}}));
    EXPECT_TRUE(m_deck.InspectorAppeared().toPlugin.empty());
}

TEST_F(VirtualDeckTest, TheLanguagePickedGoesToThePluginAndItsPagesAndOnlyAnOfferedOne) {
    EXPECT_EQ(m_deck.InfoDocument()["application"]["language"], "en");
    ASSERT_TRUE(m_deck.SetLanguage("zh_TW"));
    EXPECT_EQ(m_deck.InfoDocument()["application"]["language"], "zh_TW");
    for (const char* refused : {"", "xx", "zh", "de_DE", "en\n"}) {
        EXPECT_FALSE(m_deck.SetLanguage(refused)) << refused;
        EXPECT_EQ(m_deck.Language(), "zh_TW");
    }
    EXPECT_EQ(m_deck.Snapshot(false)["language"], "zh_TW");
    // A settings page opened now is given the same language.
    Outbox out = m_deck.SelectInspector(kVolume);
    ASSERT_EQ(out.toPage.size(), 1u);
    EXPECT_EQ(json::parse(out.toPage[0]["info"].get<std::string>())["application"]["language"], "zh_TW");
}
