// deck-sim as a Stream Deck +: its device, placing actions on dials, the dial
// and strip events the plug-in gets, and the feedback it keeps for the strip.
#include <gtest/gtest.h>

#include <algorithm>

#include "DeckTestSupport.h"
#include "deck-sim/VirtualDeck.h"

using nlohmann::json;

namespace {

constexpr char kSetVolume[] = "com.vantora.kestrel.media-request-set-volume-level";
constexpr char kNudgeUp[] = "com.vantora.kestrel.media-request-nudge-volume-up";
constexpr char kEmberfall[] = "com.vantora.kestrel.emberfall";

std::vector<ActionEntry> Actions() {
    ActionTable table;
    table.ApplyManifest(R"({"Actions": [
        {"UUID": "com.vantora.kestrel.media-request-set-volume-level", "Name": "Set Media Volume",
         "Encoder": {"layout": "$B1", "TriggerDescription": {"Rotate": "Volume", "Push": "Mute"}}}]})");
    return table.Entries();
}

std::vector<std::string> Contexts() {
    return ContextPerAction();
}

bool PageSays(const Outbox& out, const std::string& text) {
    for (const json& message : out.toPage) {
        if (message.value("type", "") == "log" && message.value("text", "").find(text) != std::string::npos)
            return true;
    }
    return false;
}

class PlusDeckTest : public ::testing::Test {
protected:
    PlusDeckTest()
        : m_deck(Actions(), Contexts(), "PLUGINUUID", "1.2.3.4", HostFlavour(), DeviceModel::Plus()) {}

    Outbox Register() {
        bool accepted = false;
        Outbox out = m_deck.RegisterPlugin({{"event", "registerPlugin"}, {"uuid", "PLUGINUUID"}}, accepted);
        EXPECT_TRUE(accepted);
        return out;
    }
    Outbox Feedback(const std::string& event, const json& payload) {
        return m_deck.FromPlugin({{"event", event}, {"context", "DIAL1"}, {"payload", payload}});
    }
    const DeckDial& Dial() const { return m_deck.Dials()[1]; }

    VirtualDeck m_deck;
};

}  // namespace

TEST_F(PlusDeckTest, ReportsAPlusWithEightKeysAndEmptyDials) {
    EXPECT_EQ(m_deck.InfoDocument()["devices"][0], json({{"id", "DECKSIM1"},
                                                         {"name", "Stream Deck +"},
                                                         {"size", {{"columns", 4}, {"rows", 2}}},
                                                         {"type", 7}}));
    Outbox out = Register();
    ASSERT_EQ(out.toPlugin.size(), 9u);  // the device, then 8 keys; no dial holds an action yet
    EXPECT_EQ(out.toPlugin[0]["deviceInfo"],
              json({{"name", "Stream Deck +"}, {"size", {{"columns", 4}, {"rows", 2}}}, {"type", 7}}));
    EXPECT_EQ(out.toPlugin[8]["payload"]["coordinates"], json({{"column", 3}, {"row", 1}}));
    EXPECT_EQ(out.toPlugin[8]["payload"]["controller"], "Keypad");
    ASSERT_EQ(m_deck.Dials().size(), 4u);
    json snapshot = m_deck.Snapshot(true);
    EXPECT_EQ(snapshot["device"]["dials"], 4);
    // Only the actions that list the Encoder controller are offered for a dial.
    std::vector<std::string> offered;
    for (const json& action : snapshot["dialActions"]) offered.push_back(action["action"]);
    EXPECT_EQ(offered, (std::vector<std::string>{
                           kNudgeUp, "com.vantora.kestrel.media-request-nudge-volume-down", kSetVolume}));
}

TEST_F(PlusDeckTest, PlacingAnnouncesTheEncoderAndReplacingOrClearingTakesItAway) {
    Register();
    Outbox refused = m_deck.PlaceOnDial(1, kEmberfall, "DIAL1");
    EXPECT_TRUE(refused.toPlugin.empty());
    EXPECT_TRUE(PageSays(refused, "cannot place"));
    EXPECT_FALSE(Dial().occupied);
    EXPECT_TRUE(m_deck.PlaceOnDial(7, kSetVolume, "DIAL7").toPlugin.empty());

    Outbox placed = m_deck.PlaceOnDial(1, kSetVolume, "DIAL1");
    ASSERT_EQ(placed.toPlugin.size(), 1u);
    EXPECT_EQ(placed.toPlugin[0]["event"], "willAppear");
    EXPECT_EQ(placed.toPlugin[0]["context"], "DIAL1");
    EXPECT_EQ(placed.toPlugin[0]["action"], kSetVolume);
    EXPECT_EQ(placed.toPlugin[0]["payload"]["controller"], "Encoder");
    EXPECT_EQ(placed.toPlugin[0]["payload"]["coordinates"], json({{"column", 1}, {"row", 0}}));
    EXPECT_EQ(placed.toPlugin[0]["payload"]["settings"], json::object());
    // The manifest's Encoder block gives the first layout and the trigger texts.
    EXPECT_EQ(Dial().layout, "$B1");
    EXPECT_EQ(Dial().triggers, json({{"rotate", "Volume"}, {"push", "Mute"}}));

    // A plug-in that registers again sees the dial appear with the keys.
    Outbox again = Register();
    ASSERT_EQ(again.toPlugin.size(), 10u);
    EXPECT_EQ(again.toPlugin[9]["context"], "DIAL1");

    Outbox replaced = m_deck.PlaceOnDial(1, kNudgeUp, "DIAL1B");
    ASSERT_EQ(replaced.toPlugin.size(), 2u);
    EXPECT_EQ(replaced.toPlugin[0]["event"], "willDisappear");
    EXPECT_EQ(replaced.toPlugin[0]["context"], "DIAL1");
    EXPECT_EQ(replaced.toPlugin[0]["payload"]["controller"], "Encoder");
    EXPECT_EQ(replaced.toPlugin[1]["event"], "willAppear");
    EXPECT_EQ(replaced.toPlugin[1]["context"], "DIAL1B");
    EXPECT_EQ(Dial().layout, "$X1");  // no Encoder block: the host's default layout

    Outbox cleared = m_deck.PlaceOnDial(1, "", "");
    ASSERT_EQ(cleared.toPlugin.size(), 1u);
    EXPECT_EQ(cleared.toPlugin[0]["event"], "willDisappear");
    EXPECT_EQ(cleared.toPlugin[0]["context"], "DIAL1B");
    // The old context is gone: its commands change nothing.
    EXPECT_TRUE(m_deck.FromPlugin({{"event", "getSettings"}, {"context", "DIAL1B"}}).toPlugin.empty());
}

TEST_F(PlusDeckTest, DialEventsCarryTheDialsSettingsAndOnlyForAnOccupiedDial) {
    Register();
    EXPECT_TRUE(m_deck.DialRotate(1, 1, false).toPlugin.empty());
    EXPECT_TRUE(m_deck.TouchTap(1, 5, 5, false).toPlugin.empty());
    m_deck.PlaceOnDial(1, kSetVolume, "DIAL1");
    json settings = {{"volume_value", 45}};
    Feedback("setSettings", settings);
    EXPECT_EQ(m_deck.Keys()[1].settings, json::object());  // the keys are other contexts

    Outbox turned = m_deck.DialRotate(1, -3, true);
    ASSERT_EQ(turned.toPlugin.size(), 1u);
    EXPECT_EQ(turned.toPlugin[0], json({{"action", kSetVolume},
                                        {"context", "DIAL1"},
                                        {"device", "DECKSIM1"},
                                        {"event", "dialRotate"},
                                        {"payload",
                                         {{"controller", "Encoder"},
                                          {"coordinates", {{"column", 1}, {"row", 0}}},
                                          {"settings", settings},
                                          {"ticks", -3},
                                          {"pressed", true}}}}));
    EXPECT_TRUE(m_deck.DialRotate(1, 0, false).toPlugin.empty());

    EXPECT_EQ(m_deck.DialPush(1, true).toPlugin.at(0)["event"], "dialDown");
    Outbox up = m_deck.DialPush(1, false);
    EXPECT_EQ(up.toPlugin.at(0)["event"], "dialUp");
    EXPECT_EQ(up.toPlugin.at(0)["payload"], json({{"controller", "Encoder"},
                                                  {"coordinates", {{"column", 1}, {"row", 0}}},
                                                  {"settings", settings}}));

    Outbox tap = m_deck.TouchTap(1, 250, -4, true);  // outside the dial's part: held to its edge
    ASSERT_EQ(tap.toPlugin.size(), 1u);
    EXPECT_EQ(tap.toPlugin[0]["event"], "touchTap");
    EXPECT_EQ(tap.toPlugin[0]["payload"]["tapPos"], json({199, 0}));
    EXPECT_EQ(tap.toPlugin[0]["payload"]["hold"], true);
}

TEST_F(PlusDeckTest, FeedbackMergesPartialUpdatesAndANewLayoutStartsAfresh) {
    Register();
    m_deck.PlaceOnDial(1, kSetVolume, "DIAL1");
    Feedback("setFeedback", {{"value", "70 %"}, {"indicator", 70}});
    Feedback("setFeedback",
             {{"indicator", {{"bar_fill_c", "#ff0000"}, {"opacity", 0.5}}}, {"title", "Muted"}});
    Outbox last = Feedback("setFeedback", {{"indicator", {{"value", 40}}}});
    EXPECT_EQ(Dial().feedback,
              json({{"value", {{"value", "70 %"}}},
                    {"indicator", {{"value", 40}, {"bar_fill_c", "#ff0000"}, {"opacity", 0.5}}},
                    {"title", {{"value", "Muted"}}}}));
    // The page is told the whole merged state.
    ASSERT_EQ(last.toPage.size(), 1u);
    EXPECT_EQ(last.toPage[0]["dial"]["feedback"], Dial().feedback);
    EXPECT_EQ(m_deck.Keys()[1].title, "");

    Feedback("setFeedbackLayout", {{"layout", "layouts/volume.json"}});
    EXPECT_EQ(Dial().layout, "layouts/volume.json");
    EXPECT_EQ(Dial().feedback, json::object());

    Feedback("setTriggerDescription", {{"rotate", "Level"}, {"touch", "Mute"}, {"push", 3}});
    EXPECT_EQ(Dial().triggers, json({{"rotate", "Level"}, {"touch", "Mute"}}));
}

TEST_F(PlusDeckTest, BadFeedbackIsOneLogLineAndChangesNothing) {
    Register();
    m_deck.PlaceOnDial(1, kSetVolume, "DIAL1");
    Feedback("setFeedback", {{"indicator", 55}});
    const json kept = Dial().feedback;
    for (const json& layout :
         {json("../../etc/passwd.json"), json("/abs/layout.json"), json("$Z9"), json(7)}) {
        Outbox out = Feedback("setFeedbackLayout", {{"layout", layout}});
        EXPECT_EQ(out.toPage.size(), 1u) << layout;
        EXPECT_TRUE(PageSays(out, "ignored a layout")) << layout;
        EXPECT_EQ(Dial().layout, "$B1");
    }
    for (const json& payload : {json("70"), json::array({1}), json(nullptr)}) {
        Outbox out = Feedback("setFeedback", payload);
        EXPECT_EQ(out.toPage.size(), 1u) << payload;
        EXPECT_TRUE(PageSays(out, "ignored feedback")) << payload;
    }
    EXPECT_EQ(Dial().feedback, kept);

    // A plug-in that keeps inventing items cannot make the dial grow without end.
    json many = json::object();
    for (int i = 0; i < 100; ++i) many["item" + std::to_string(i)] = i;
    many["list"] = json::array({1, 2});
    Outbox out = Feedback("setFeedback", many);
    EXPECT_EQ(Dial().feedback.size(), 32u);
    EXPECT_TRUE(PageSays(out, "ignored feedback items"));
    EXPECT_EQ(std::count_if(out.toPage.begin(), out.toPage.end(),
                            [](const json& message) { return message.value("type", "") == "log"; }),
              1);
    EXPECT_EQ(Dial().feedback["indicator"], kept["indicator"]);
}

TEST(PlusDeckHostTest, OpenDeckNamesDialContextsByEncoderAndAnnouncesTheirTitleParameters) {
    const HostFlavour openDeck(HostFlavour::Kind::OpenDeck);
    std::string context = openDeck.KeyContext(VirtualDeck::kDeviceId, 2, "unused", "Encoder");
    EXPECT_EQ(context, "DECKSIM1.Default.Encoder.2.0");
    VirtualDeck deck(Actions(), Contexts(), openDeck.PluginUUID(""), "1.2.3.4", openDeck,
                     DeviceModel::Plus());
    Outbox out = deck.PlaceOnDial(2, kSetVolume, context);
    ASSERT_EQ(out.toPlugin.size(), 2u);
    EXPECT_EQ(out.toPlugin[1]["event"], "titleParametersDidChange");
    EXPECT_EQ(out.toPlugin[1]["context"], context);
    EXPECT_EQ(out.toPlugin[1]["payload"]["controller"], "Encoder");
}

namespace {

// The inspector message the page got, if any.
json InspectorView(const Outbox& out) {
    for (const json& message : out.toPage) {
        if (message.value("type", "") == "inspector") return message;
    }
    return json();
}

// A + whose Set Media Volume (on dial 2) and Emberfall (key 1) have settings pages.
class PlusInspectorTest : public ::testing::Test {
protected:
    PlusInspectorTest()
        : m_deck(PagedActions(), Contexts(), "PLUGINUUID", "1.2.3.4", HostFlavour(), DeviceModel::Plus()) {
        bool accepted = false;
        m_deck.RegisterPlugin({{"event", "registerPlugin"}, {"uuid", "PLUGINUUID"}}, accepted);
        m_deck.PlaceOnDial(2, kSetVolume, "DIAL2");
    }
    static std::vector<ActionEntry> PagedActions() {
        ActionTable table;
        table.ApplyManifest(R"({"Actions": [
            {"UUID": "com.vantora.kestrel.media-request-set-volume-level", "PropertyInspectorPath": "pi/volume-level.html",
             "Encoder": {"layout": "$B1"}},
            {"UUID": "com.vantora.kestrel.emberfall", "PropertyInspectorPath": "pi/status.html"}]})");
        return table.Entries();
    }
    // Opens dial 2's page as the page and the inspector would; returns what went out on appearing.
    Outbox OpenDialPage() {
        json view = InspectorView(m_deck.SelectDialInspector(2));
        EXPECT_EQ(view["dial"], 2);
        EXPECT_TRUE(m_deck.RegisterInspector({{"event", "registerPropertyInspector"}, {"uuid", "DIAL2"}}));
        return m_deck.InspectorAppeared();
    }
    Outbox FromDialPage(const std::string& event, const json& payload) {
        return m_deck.FromInspector({{"event", event}, {"context", "DIAL2"}, {"payload", payload}});
    }
    Outbox FromPluginToDial(const std::string& event, const json& payload) {
        return m_deck.FromPlugin({{"event", event}, {"context", "DIAL2"}, {"payload", payload}});
    }

    VirtualDeck m_deck;
};

}  // namespace

TEST_F(PlusInspectorTest, ADialsPageIsToldItIsOnADialAndSpeaksForTheDialsContext) {
    json view = InspectorView(m_deck.SelectDialInspector(2));
    EXPECT_TRUE(view["index"].is_null());
    EXPECT_EQ(view["dial"], 2);
    EXPECT_EQ(view["uuid"], "DIAL2");
    EXPECT_EQ(view["url"], "/plugin/pi/volume-level.html");
    json actionInfo = json::parse(view["actionInfo"].get<std::string>());
    EXPECT_EQ(actionInfo["context"], "DIAL2");
    EXPECT_EQ(actionInfo["payload"]["controller"], "Encoder");
    EXPECT_EQ(actionInfo["payload"]["coordinates"], json({{"column", 2}, {"row", 0}}));
    // Only the dial's context registers it.
    EXPECT_FALSE(m_deck.RegisterInspector({{"event", "registerPropertyInspector"}, {"uuid", "CTX1"}}));

    Outbox appeared = OpenDialPage();
    ASSERT_EQ(appeared.toPlugin.size(), 1u);
    EXPECT_EQ(appeared.toPlugin[0]["event"], "propertyInspectorDidAppear");
    EXPECT_EQ(appeared.toPlugin[0]["context"], "DIAL2");

    json edited = {{"dial_step", 2}};
    Outbox stored = FromDialPage("setSettings", edited);
    ASSERT_EQ(stored.toPlugin.size(), 1u);
    EXPECT_EQ(stored.toPlugin[0]["event"], "didReceiveSettings");
    EXPECT_EQ(stored.toPlugin[0]["context"], "DIAL2");
    EXPECT_EQ(m_deck.Dials()[2].placed.settings, edited);
    // The next turn carries them.
    EXPECT_EQ(m_deck.DialRotate(2, 1, false).toPlugin[0]["payload"]["settings"], edited);
    Outbox sent = FromDialPage("sendToPlugin", {{"ask", "state"}});
    ASSERT_EQ(sent.toPlugin.size(), 1u);
    EXPECT_EQ(sent.toPlugin[0]["context"], "DIAL2");

    // The plug-in's answers and its own setSettings reach the open page.
    Outbox answer = FromPluginToDial("sendToPropertyInspector", {{"state", "online"}});
    ASSERT_EQ(answer.toInspector.size(), 1u);
    EXPECT_EQ(answer.toInspector[0]["context"], "DIAL2");
    EXPECT_EQ(answer.toInspector[0]["payload"], json({{"state", "online"}}));
    Outbox level = FromPluginToDial("setSettings", {{"dial_step", 2}, {"volume_value", 55}});
    ASSERT_EQ(level.toInspector.size(), 1u);
    EXPECT_EQ(level.toInspector[0]["event"], "didReceiveSettings");
    EXPECT_EQ(level.toInspector[0]["payload"]["settings"]["volume_value"], 55);
}

TEST_F(PlusInspectorTest, OnlyOnePageIsOpenAndADialsPageGoesWithItsAction) {
    OpenDialPage();
    // A key's page closes the dial's first.
    Outbox key = m_deck.SelectInspector(1);
    ASSERT_EQ(key.toPlugin.size(), 1u);
    EXPECT_EQ(key.toPlugin[0]["event"], "propertyInspectorDidDisappear");
    EXPECT_EQ(key.toPlugin[0]["context"], "DIAL2");
    EXPECT_EQ(InspectorView(key)["index"], 1);
    EXPECT_TRUE(InspectorView(key)["dial"].is_null());
    EXPECT_TRUE(FromDialPage("getSettings", json()).toInspector.empty());
    EXPECT_TRUE(FromPluginToDial("sendToPropertyInspector", {{"a", 1}}).toInspector.empty());
    EXPECT_TRUE(m_deck.RegisterInspector({{"event", "registerPropertyInspector"}, {"uuid", "CTX1"}}));
    m_deck.InspectorAppeared();

    // And the dial's page closes the key's.
    Outbox back = m_deck.SelectDialInspector(2);
    ASSERT_EQ(back.toPlugin.size(), 1u);
    EXPECT_EQ(back.toPlugin[0]["context"], "CTX1");
    EXPECT_TRUE(m_deck.RegisterInspector({{"event", "registerPropertyInspector"}, {"uuid", "DIAL2"}}));
    m_deck.InspectorAppeared();

    // Clearing the dial closes its page before the action disappears.
    Outbox cleared = m_deck.PlaceOnDial(2, "", "");
    ASSERT_EQ(cleared.toPlugin.size(), 2u);
    EXPECT_EQ(cleared.toPlugin[0]["event"], "propertyInspectorDidDisappear");
    EXPECT_EQ(cleared.toPlugin[1]["event"], "willDisappear");
    EXPECT_TRUE(InspectorView(cleared)["dial"].is_null());
    EXPECT_FALSE(m_deck.InspectorSelected());
    EXPECT_TRUE(FromDialPage("setSettings", {{"dial_step", 9}}).toPlugin.empty());

    // An empty dial, or an action without a page, opens nothing.
    EXPECT_TRUE(InspectorView(m_deck.SelectDialInspector(2))["url"].is_null());
    m_deck.PlaceOnDial(0, kNudgeUp, "DIAL0");
    EXPECT_TRUE(InspectorView(m_deck.SelectDialInspector(0))["url"].is_null());
    EXPECT_TRUE(InspectorView(m_deck.SelectDialInspector(7))["url"].is_null());
    EXPECT_FALSE(m_deck.InspectorSelected());
}
