#include <gtest/gtest.h>

#include "DeckTestSupport.h"
#include "deck-sim/VirtualDeck.h"

using nlohmann::json;

namespace {

constexpr char kStreaming[] = "com.vantora.kestrel.streaming-state";
constexpr char kAlertsMute[] = "com.vantora.kestrel.alerts-mute";
constexpr char kEmberfall[] = "com.vantora.kestrel.emberfall";
const size_t kStreamingKey = KeyOf("streaming-state");
const size_t kAlertsMuteKey = KeyOf("alerts-mute");
const std::string kStreamingContext = KeyContext(kStreamingKey);
const std::string kEmberfallContext = KeyContext(KeyOf("emberfall"));
// The first key after the actions, where the first composite key goes.
const size_t kFirstFreeKey = ActionCatalogue().size();

// Streaming State leaves its two states to the plug-in; Alerts Mute (in this
// manifest) lets the host flip them.
std::vector<ActionEntry> Actions() {
    ActionTable table;
    table.ApplyManifest(R"({"Actions": [
        {"UUID": "com.vantora.kestrel.streaming-state", "DisableAutomaticStates": true,
         "PropertyInspectorPath": "pi/status.html",
         "States": [{"Image": "images/keys/streaming_state_off", "Name": "Offline"},
                    {"Image": "images/keys/streaming_state_on", "Name": "Live"}]},
        {"UUID": "com.vantora.kestrel.alerts-mute",
         "States": [{"Image": "images/keys/alerts_mute_on"}, {"Image": "images/keys/alerts_mute_off"}]},
        {"UUID": "com.vantora.kestrel.emberfall", "States": [{"Image": "images/keys/emberfall"}]},
        {"UUID": "com.vantora.kestrel.cup-empty", "SupportedInMultiActions": false}]})");
    return table.Entries();
}

std::vector<std::string> Contexts() {
    return ContextPerAction();
}

VirtualDeck MakeDeck(HostFlavour host) {
    return VirtualDeck(Actions(), Contexts(), host.PluginUUID("PLUGINUUID"), "1.2.3.4", host);
}

Outbox Register(VirtualDeck& deck) {
    bool accepted = false;
    Outbox out = deck.RegisterPlugin({{"event", "registerPlugin"}, {"uuid", deck.PluginUUID()}}, accepted);
    EXPECT_TRUE(accepted);
    return out;
}

std::string LogText(const Outbox& out) {
    std::string text;
    for (const json& message : out.toPage) {
        if (message["type"] == "log") text += message["text"].get<std::string>() + "\n";
    }
    return text;
}

// Sends every planned step press at once, in plan order; returns what the plug-in got.
std::vector<json> RunPresses(VirtualDeck& deck, const Outbox& plan) {
    std::vector<json> sent;
    for (const StepPress& press : plan.later) {
        for (json& message : deck.StepEvent(press.context, press.down).toPlugin) sent.push_back(message);
    }
    return sent;
}

}  // namespace

TEST(VirtualDeckMultiActionTest,
     StepsAppearInAMultiActionAndEachPressCarriesThePickedStateAndTheStepsOwnState) {
    VirtualDeck deck = MakeDeck(HostFlavour());
    auto goLive = deck.AddComposite(DeckComposite::Kind::MultiAction, "Go live");
    ASSERT_TRUE(goLive);
    EXPECT_EQ(size_t(deck.Composites()[*goLive].column), kFirstFreeKey % VirtualDeck::kColumns);
    EXPECT_EQ(size_t(deck.Composites()[*goLive].row), kFirstFreeKey / VirtualDeck::kColumns);
    deck.AddStep(*goLive, kStreaming, "STEP1", 1);
    deck.AddStep(*goLive, kEmberfall, "STEP2", 1);
    EXPECT_NE(LogText(deck.AddStep(*goLive, "com.vantora.kestrel.cup-empty", "STEP3")).find("cannot add"),
              std::string::npos);

    Outbox registered = Register(deck);
    ASSERT_EQ(registered.toPlugin.size(), 1 + ActionCatalogue().size() + 2);  // device, keys, steps
    const json& appeared = registered.toPlugin[1 + ActionCatalogue().size()]["payload"];
    EXPECT_EQ(registered.toPlugin[1 + ActionCatalogue().size()]["context"], "STEP1");
    EXPECT_TRUE(appeared["isInMultiAction"].get<bool>());
    EXPECT_FALSE(appeared.contains("coordinates"));  // a step sits on no key of its own

    // The plug-in reports the stream live on the step's own context.
    deck.FromPlugin({{"event", "setState"}, {"context", "STEP1"}, {"payload", {{"state", 1}}}});
    Outbox plan = deck.PressComposite(*goLive);
    ASSERT_EQ(plan.later.size(), 4u);
    EXPECT_TRUE(plan.toPlugin.empty());  // nothing goes out before its time
    // Each step is let go a little after its press, and the next one follows later.
    EXPECT_GE(plan.later[1].after - plan.later[0].after, std::chrono::milliseconds(100));
    EXPECT_GT(plan.later[2].after, plan.later[1].after);
    EXPECT_FALSE(plan.later[1].down);

    std::vector<json> sent = RunPresses(deck, plan);
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0]["event"], "keyDown");
    EXPECT_EQ(sent[0]["context"], "STEP1");
    EXPECT_EQ(sent[0]["payload"]["userDesiredState"], 1);
    EXPECT_EQ(sent[0]["payload"]["state"], 1);
    EXPECT_TRUE(sent[0]["payload"]["isInMultiAction"].get<bool>());
    EXPECT_EQ(sent[1]["event"], "keyUp");
    EXPECT_EQ(sent[2]["context"], "STEP2");
    EXPECT_FALSE(sent[2]["payload"].contains("userDesiredState"));  // one state: no picker
    EXPECT_EQ(deck.Composites()[*goLive].steps[0].state, 1);        // the host flips no step

    // The picker changes what the next run asks for; a one-state step has none.
    deck.PickStepState(*goLive, 0, 0);
    EXPECT_NE(LogText(deck.PickStepState(*goLive, 1, 1)).find("no state to pick"), std::string::npos);
    EXPECT_EQ(RunPresses(deck, deck.PressComposite(*goLive))[0]["payload"]["userDesiredState"], 0);
}

TEST(VirtualDeckMultiActionTest, OpenDeckSendsNoPickedStateFlipsAutomaticChildrenAndItsToggleNeverLetsGo) {
    HostFlavour openDeck(HostFlavour::Kind::OpenDeck);
    VirtualDeck deck = MakeDeck(openDeck);
    auto multi = deck.AddComposite(DeckComposite::Kind::MultiAction, "Go live");
    auto toggle = deck.AddComposite(DeckComposite::Kind::Toggle, "Mute or not");
    ASSERT_TRUE(multi && toggle);
    Outbox added = deck.AddStep(*multi, kStreaming, "unused", 1);
    ASSERT_EQ(added.toPlugin.size(), 2u);  // willAppear and its title parameters
    EXPECT_EQ(added.toPlugin[0]["context"],
              "DECKSIM1.Default.Keypad." + std::to_string(kFirstFreeKey) + ".1");
    EXPECT_EQ(added.toPlugin[0]["payload"]["coordinates"],
              json({{"column", kFirstFreeKey % VirtualDeck::kColumns},
                    {"row", kFirstFreeKey / VirtualDeck::kColumns}}));
    deck.AddStep(*multi, kAlertsMute, "unused");
    EXPECT_FALSE(deck.Composites()[*multi].steps[0].desiredState);

    std::vector<json> sent = RunPresses(deck, deck.PressComposite(*multi));
    ASSERT_EQ(sent.size(), 4u);
    for (const json& event : sent) {
        EXPECT_FALSE(event["payload"].contains("userDesiredState")) << event;
        EXPECT_TRUE(event["payload"]["isInMultiAction"].get<bool>());
    }
    // Alerts Mute lets the host keep its states: OpenDeck flips it after the run.
    EXPECT_EQ(deck.Composites()[*multi].steps[0].state, 0);
    EXPECT_EQ(deck.Composites()[*multi].steps[1].state, 1);

    deck.AddStep(*toggle, kEmberfall, "unused");
    deck.AddStep(*toggle, kStreaming, "unused");
    const std::string toggleKey = "DECKSIM1.Default.Keypad." + std::to_string(kFirstFreeKey + 1);
    for (const std::string& expected : {toggleKey + ".1", toggleKey + ".2", toggleKey + ".1"}) {
        Outbox plan = deck.PressComposite(*toggle);
        ASSERT_EQ(plan.later.size(), 1u);
        EXPECT_TRUE(plan.later[0].down);
        std::vector<json> pressed = RunPresses(deck, plan);
        ASSERT_EQ(pressed.size(), 1u);
        EXPECT_EQ(pressed[0]["event"], "keyDown");
        EXPECT_EQ(pressed[0]["context"], expected);
    }
}

TEST(VirtualDeckMultiActionTest, RemovedStepsDisappearSendNothingMoreAndTakeTheirSettingsPageAlong) {
    VirtualDeck deck = MakeDeck(HostFlavour());
    auto goLive = deck.AddComposite(DeckComposite::Kind::MultiAction, "Go live");
    deck.AddStep(*goLive, kEmberfall, "FIRST");
    deck.AddStep(*goLive, kStreaming, "SECOND", 1);
    Register(deck);

    // The second step's page is told it is in a Multi Action.
    Outbox page = deck.SelectStepInspector(*goLive, 1);
    ASSERT_EQ(page.toPage.size(), 1u);
    EXPECT_EQ(page.toPage[0]["uuid"], "SECOND");
    json actionInfo = json::parse(page.toPage[0]["actionInfo"].get<std::string>());
    EXPECT_TRUE(actionInfo["payload"]["isInMultiAction"].get<bool>());
    ASSERT_TRUE(deck.RegisterInspector({{"event", "registerPropertyInspector"}, {"uuid", "SECOND"}}));
    deck.InspectorAppeared();
    deck.FromInspector(
        {{"event", "setSettings"}, {"context", "SECOND"}, {"payload", {{"hold_to_confirm", true}}}});
    EXPECT_EQ(deck.Composites()[*goLive].steps[1].settings["hold_to_confirm"], true);

    Outbox plan = deck.PressComposite(*goLive);
    // The first step goes while the run is planned: its page stays with the second.
    Outbox removed = deck.RemoveStep(*goLive, 0);
    ASSERT_EQ(removed.toPlugin.size(), 1u);
    EXPECT_EQ(removed.toPlugin[0]["event"], "willDisappear");
    EXPECT_TRUE(deck.InspectorSelected());
    EXPECT_TRUE(
        deck.FromPlugin(
                {{"event", "sendToPropertyInspector"}, {"context", "SECOND"}, {"payload", json::object()}})
            .toInspector.size() == 1);

    std::vector<json> sent = RunPresses(deck, plan);
    ASSERT_EQ(sent.size(), 2u);  // only the step that is still there
    EXPECT_EQ(sent[0]["context"], "SECOND");
    EXPECT_EQ(sent[0]["payload"]["settings"]["hold_to_confirm"], true);

    Outbox closed = deck.RemoveStep(*goLive, 0);
    EXPECT_FALSE(deck.InspectorSelected());
    ASSERT_EQ(closed.toPlugin.size(), 2u);
    EXPECT_EQ(closed.toPlugin[0]["event"], "propertyInspectorDidDisappear");
    EXPECT_EQ(closed.toPlugin[1]["event"], "willDisappear");
    EXPECT_TRUE(deck.PressComposite(*goLive).later.empty());
}

TEST(VirtualDeckMultiActionTest, ADeviceWithoutAFreeKeyHasNoRoomForAMultiAction) {
    VirtualDeck plus(Actions(), Contexts(), "PLUGINUUID", "1.2.3.4", HostFlavour(), DeviceModel::Plus());
    EXPECT_FALSE(plus.AddComposite(DeckComposite::Kind::MultiAction, "Go live"));
}

TEST(VirtualDeckStatesTest, SetStateSwitchesTheHostsPictureAndOwnIconsShowWhereThePluginLeavesTheImage) {
    VirtualDeck deck = MakeDeck(HostFlavour());
    Register(deck);
    const DeckKey& key = deck.Keys()[kStreamingKey];
    EXPECT_EQ(key.HostImage(), "/plugin/images/keys/streaming_state_off@2x.png");

    // Only the states the action declares; anything else is one log line.
    for (json bad : {json(2), json(-1), json("1"), json()}) {
        Outbox refused = deck.FromPlugin(
            {{"event", "setState"}, {"context", kStreamingContext}, {"payload", {{"state", bad}}}});
        EXPECT_NE(LogText(refused).find("ignored state"), std::string::npos) << bad;
        EXPECT_EQ(key.state, 0);
    }
    Outbox oneState =
        deck.FromPlugin({{"event", "setState"}, {"context", kEmberfallContext}, {"payload", {{"state", 1}}}});
    EXPECT_NE(LogText(oneState).find("ignored state"), std::string::npos);  // emberfall has one state

    deck.FromPlugin({{"event", "setImage"},
                     {"context", kStreamingContext},
                     {"payload", {{"image", "data:image/png;base64,AA"}}}});
    Outbox own = deck.SetOwnIcon(kStreamingKey, 1, "data:image/png;base64,LIVE");
    EXPECT_EQ(own.toPage.back()["key"]["states"][1]["ownIcon"], "data:image/png;base64,LIVE");
    // The plug-in's image covers state 0 still; state 1 shows the own icon at once.
    EXPECT_EQ(key.ShownImage(), "data:image/png;base64,AA");
    Outbox switched =
        deck.FromPlugin({{"event", "setState"}, {"context", kStreamingContext}, {"payload", {{"state", 1}}}});
    ASSERT_EQ(switched.toPage.size(), 1u);
    EXPECT_EQ(switched.toPage[0]["key"]["state"], 1);
    EXPECT_EQ(switched.toPage[0]["key"]["image"], "");
    EXPECT_EQ(switched.toPage[0]["key"]["defaultImage"], "data:image/png;base64,LIVE");
    EXPECT_TRUE(switched.toPage[0]["key"]["ownIcon"].get<bool>());

    // An image for one state, and an empty setImage that gives every state back.
    deck.FromPlugin({{"event", "setImage"},
                     {"context", kStreamingContext},
                     {"payload", {{"image", "data:image/png;base64,BB"}, {"state", 0}}}});
    EXPECT_EQ(key.ShownImage(), "");
    EXPECT_NE(LogText(deck.FromPlugin({{"event", "setImage"},
                                       {"context", kStreamingContext},
                                       {"payload", {{"image", "data:image/png;base64,CC"}, {"state", 5}}}}))
                  .find("ignored an image"),
              std::string::npos);
    deck.FromPlugin({{"event", "setState"}, {"context", kStreamingContext}, {"payload", {{"state", 0}}}});
    EXPECT_EQ(key.ShownImage(), "data:image/png;base64,BB");
    deck.FromPlugin({{"event", "setImage"}, {"context", kStreamingContext}, {"payload", json::object()}});
    EXPECT_EQ(key.ShownImage(), "");
    EXPECT_EQ(key.HostImage(), "/plugin/images/keys/streaming_state_off@2x.png");

    // Own icons are pictures of a known state; taking one away shows the manifest's again.
    EXPECT_NE(LogText(deck.SetOwnIcon(kStreamingKey, 0, "javascript:alert(1)")).find("ignored"),
              std::string::npos);
    EXPECT_NE(LogText(deck.SetOwnIcon(kStreamingKey, 2, "data:image/png;base64,AA")).find("no state"),
              std::string::npos);
    EXPECT_FALSE(key.ShowsOwnIcon());
    deck.SetOwnIcon(kStreamingKey, 1, "");
    deck.FromPlugin({{"event", "setState"}, {"context", kStreamingContext}, {"payload", {{"state", 1}}}});
    EXPECT_EQ(key.HostImage(), "/plugin/images/keys/streaming_state_on@2x.png");
}

TEST(VirtualDeckStatesTest, TheHostFlipsATwoStateKeyOnReleaseOnlyWhenTheActionLeavesItsStatesToTheHost) {
    VirtualDeck deck = MakeDeck(HostFlavour());
    Register(deck);
    deck.KeyDown(kAlertsMuteKey);
    Outbox released = deck.KeyUp(kAlertsMuteKey);
    EXPECT_EQ(released.toPlugin[0]["payload"]["state"], 0);  // the release reports the state pressed
    EXPECT_EQ(deck.Keys()[kAlertsMuteKey].state, 1);
    deck.KeyDown(kStreamingKey);
    deck.KeyUp(kStreamingKey);
    EXPECT_EQ(deck.Keys()[kStreamingKey].state, 0);
    EXPECT_EQ(deck.KeyDown(kStreamingKey).toPlugin[0]["payload"]["isInMultiAction"], false);
}
