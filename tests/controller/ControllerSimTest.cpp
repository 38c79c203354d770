// The reference controller server: its model of the controller's state and
// the controller-sim program answering a real pipe client.

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

#include "PipeTestSupport.h"
#include "controller-sim/ControllerModel.h"
#include "controller/Messages.h"
#include "controller/NamedPipesClient.h"
#include "catalogue/ActionCatalogue.h"
#include "support/ChildProcess.h"

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

std::string Command(const char* name, const char* function) {
    auto source = std::make_shared<ElementAddress>(ElementAddress::kButton, "context", function);
    return CommandMessage(name, source, nullptr).Serialize();
}

json Event(const std::string& text) {
    json document = json::parse(text);
    return document["payload"]["event"];
}

TEST(ControllerModelTest, StateQueryIsAnsweredWithTheFullReport) {
    ControllerModel model(true);
    auto replies = model.Handle(Command(SystemMessages::kQueryState, "controllerClient"));
    std::set<std::string> multiState;
    for (const ActionDescription& action : ActionCatalogue()) {
        if (action.kind == ActionKind::kMultipleState) multiState.insert(action.Id());
    }
    ASSERT_EQ(replies.size(), 2 + multiState.size());  // sign-in, support, one per multi-state function
    EXPECT_EQ(Event(replies[0]), json::parse(R"({"name":"SYS$REPORT:STATE","data":{"isSignedIn":true}})"));
    json support = Event(replies[1]);
    EXPECT_EQ(support["name"], "SYS$SUPPORT:FUNCTIONS");
    json everyAction = json::object();
    for (const ActionDescription& action : ActionCatalogue()) everyAction[action.Id()] = true;
    EXPECT_EQ(support["data"], everyAction);
    json states = json::array();
    std::set<std::string> reported;
    for (size_t i = 2; i < replies.size(); ++i) {
        states.push_back(Event(replies[i])["data"]);
        reported.insert(states.back().value("function", ""));
    }
    EXPECT_EQ(reported, multiState);
    EXPECT_NE(
        std::find(states.begin(), states.end(),
                  json{{"function", "com.vantora.kestrel.media-request"}, {"state", "media-request-on"}}),
        states.end());
}

TEST(ControllerModelTest, CommandsChangeStateOnlyWhenSignedInAndSupported) {
    ControllerModel model;
    const char* mute = "com.vantora.kestrel.alerts-mute";
    EXPECT_TRUE(model.Handle(Command("alerts-mute-on", mute)).empty());
    model.SetSignedIn(true);
    auto replies = model.Handle(Command("alerts-mute-on", mute));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(Event(replies[0])["data"], json({{"function", mute}, {"state", "alerts-mute-on"}}));

    // The single "play" key moves the play/pause function.
    model.Handle(Command("media-request-pause-off", "com.vantora.kestrel.media-request-play"));
    EXPECT_EQ(model.StateOf("media-request-play-pause"), "media-request-pause-off");

    ASSERT_TRUE(model.SetSupported("alerts-mute", false));
    EXPECT_TRUE(model.Handle(Command("alerts-mute-off", mute)).empty());
    EXPECT_EQ(model.StateOf(mute), "alerts-mute-on");
    EXPECT_TRUE(model.SetState("media-request-video", "2"));
    EXPECT_EQ(model.StateOf("media-request-video"), "media-request-video-single-state");
    EXPECT_FALSE(model.SetState("emberfall", "0"));
    EXPECT_TRUE(model.Handle("not json").empty());
    EXPECT_TRUE(model.Handle(R"({"payload":{"class":"event","event":{"name":"SYS$QUERY:STATE"}}})").empty());
}

TEST(ControllerSimTest, ProgramAnswersAClientAndPrintsWhatItReceives) {
    std::string name = PrivatePipeName();
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(BuiltProgramPath("controller-sim"), {"--pipe", name, "--signed-in"}));
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (sim.Output().find("listening " + name) == std::string::npos) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << sim.Output();
        std::this_thread::sleep_for(20ms);
    }

    TransportRecorder recorder;

    NamedPipesClient client(name);

    recorder.Attach(client);
    ASSERT_TRUE(client.Connect());
    std::string query = Command(SystemMessages::kQueryState, "controllerClient");
    ASSERT_TRUE(client.Write(query.data(), static_cast<uint32_t>(query.size())));
    ASSERT_TRUE(recorder.WaitForMessages(10));
    EXPECT_EQ(Event(recorder.Messages()[0])["data"]["isSignedIn"], true);

    while (sim.Output().find(query) == std::string::npos) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << sim.Output();
        std::this_thread::sleep_for(20ms);
    }
    std::string output = sim.Output();
    EXPECT_LT(output.find("connected"), output.find(query)) << output;
}

}  // namespace
