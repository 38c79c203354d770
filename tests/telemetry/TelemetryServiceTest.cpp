// The telemetry service against a real collector on 127.0.0.1: the event
// document, the time stamps, delivery by the workers up to destruction, the
// opt-out, and a collector that never answers: the queue stays bounded and
// the drain at the end keeps to its deadline, counting what it dropped.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "Version.h"
#include "support/LogCapture.h"
#include "support/ScopedEnvironment.h"
#include "support/TestHttpServer.h"
#include "telemetry/TelemetryService.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kWait = std::chrono::seconds(10);
constexpr char kPath[] = "/science/insert/kestrel";

// Every test posts to its own server; the machine identifier is stored in a
// scratch folder (on Windows it goes to the registry of the test's prefix).
class TelemetryServiceTest : public ::testing::Test {
protected:
    TelemetryServiceTest()
        : m_config(fs::temp_directory_path() /
                   ("kestrel-telemetry-test-" + std::to_string(std::random_device()()))),
          m_xdg("XDG_CONFIG_HOME", m_config.string()),
          m_switch("KESTREL_TELEMETRY", std::nullopt),
          m_doNotTrack("DO_NOT_TRACK", std::nullopt),
          m_url("KESTREL_TELEMETRY_URL", m_server.Url(kPath)) {}
    ~TelemetryServiceTest() override {
        std::error_code ignored;
        fs::remove_all(m_config, ignored);
    }

    std::shared_ptr<TelemetryService> CreateFromEnvironment() {
        return TelemetryService::Create(ReadTelemetrySettings());
    }

    TestHttpServer m_server;
    fs::path m_config;
    ScopedEnvironment m_xdg, m_switch, m_doNotTrack, m_url;
};

nlohmann::json Event(const RecordedHttpRequest& request) {
    return nlohmann::json::parse(request.body).at(0);
}

std::string Field(const nlohmann::json& event, const std::string& name) {
    for (const auto& field : event.at("fields")) {
        if (field.at(0) == name) return field.at(1).get<std::string>();
    }
    return "<missing>";
}

TEST_F(TelemetryServiceTest, EventsWaitForTheStreamersChoiceOnlyAsLongAsTheyAreTold) {
    TelemetrySettings settings = ReadTelemetrySettings();
    settings.choiceWait = std::chrono::milliseconds(800);
    auto service = TelemetryService::Create(settings);
    const auto sent = Clock::now();
    service->SendEvent("streamdeck_kestrel_connected", false, nlohmann::json::object());
    ASSERT_TRUE(m_server.WaitForRequests(1, kWait)) << "no answer from the host: the default, on, applies";
    EXPECT_GE(Clock::now() - sent, std::chrono::milliseconds(700));
}

TEST_F(TelemetryServiceTest, PostsOneObjectArrayWithItsMembersInByteOrder) {
    auto service = CreateFromEnvironment();
    service->SendEvent(nullptr, true, nlohmann::json::object());
    nlohmann::json properties = {{"name", "caller's name"}, {"message", "it broke \xC3\xA9"}, {"a", 1}};
    service->SendEvent("streamdeck_kestrel_plugin_crashed", true, properties);

    ASSERT_TRUE(m_server.WaitForRequests(1, kWait));
    ASSERT_EQ(m_server.Requests().size(), 1u);
    RecordedHttpRequest request = m_server.Requests().at(0);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, kPath);
    EXPECT_EQ(request.Header("Content-Type"), "application/json");

    ASSERT_EQ(request.body.front(), '[');
    ASSERT_EQ(request.body.back(), ']');
    nlohmann::ordered_json asSent = nlohmann::ordered_json::parse(request.body);
    ASSERT_EQ(asSent.size(), 1u);
    std::vector<std::string> keys;
    for (const auto& member : asSent.at(0).items()) keys.push_back(member.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"_meta", "a", "feature", "fields", "hostMachineId", "message",
                                              "name", "sessionId"}));
    EXPECT_EQ(request.body.find(' '),
              request.body.find("it broke") + 2);                 // compact: the only space is the text's
    EXPECT_NE(request.body.find("\xC3\xA9"), std::string::npos);  // UTF-8, not escaped

    nlohmann::json event = Event(request);
    EXPECT_EQ(event.at("name"), "streamdeck_kestrel_plugin_crashed");
    EXPECT_EQ(event.at("message"), "it broke \xC3\xA9");
    EXPECT_EQ(event.at("feature"), "streamdeck_kestrel_plugin");
    EXPECT_EQ(event.at("_meta").at("mobile"), false);
    EXPECT_EQ(event.at("_meta").at("platform"), "desktop");
    std::string os = event.at("_meta").at("os");
    EXPECT_TRUE(os == "Windows" || os == "Linux") << os;
    EXPECT_TRUE(std::regex_match(event.at("sessionId").get<std::string>(),
                                 std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")));
    EXPECT_TRUE(std::regex_match(event.at("hostMachineId").get<std::string>(), std::regex("(SWID|VTID)/.+")));

    const nlohmann::json& fields = event.at("fields");
    ASSERT_EQ(fields.size(), 3u);
    const char* names[] = {"plugin_version", "seconds_since_start", "seconds_since_previous_event"};
    for (size_t i = 0; i < 3; ++i) {
        ASSERT_EQ(fields.at(i).size(), 2u);
        EXPECT_EQ(fields.at(i).at(0), names[i]);
        EXPECT_TRUE(fields.at(i).at(1).is_string());
    }
    EXPECT_EQ(Field(event, "plugin_version"), kPluginVersion);
}

TEST_F(TelemetryServiceTest, CountsWholeSecondsSinceStartAndSinceThePreviousEvent) {
    auto service = CreateFromEnvironment();
    auto started = Clock::now();
    service->SendEvent("first", true, nlohmann::json::object());
    service->SendEvent("second", true, nlohmann::json::object());
    auto elapsed = Clock::now() - started;
    ASSERT_TRUE(m_server.WaitForRequests(2, kWait));
    std::vector<RecordedHttpRequest> requests = m_server.Requests();
    nlohmann::json first = Event(requests.at(0)), second = Event(requests.at(1));
    EXPECT_EQ(first.at("sessionId"), second.at("sessionId"));
    EXPECT_EQ(first.at("hostMachineId"), second.at("hostMachineId"));
    if (elapsed < std::chrono::milliseconds(900)) {
        EXPECT_EQ(Field(first, "seconds_since_start"), "0");
        EXPECT_EQ(Field(first, "seconds_since_previous_event"), "0");
        EXPECT_EQ(Field(second, "seconds_since_previous_event"), "0");
    }

    // A pause of more than a second shows in both counts of the next event.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    service->SendEvent("third", true, nlohmann::json::object());
    ASSERT_TRUE(m_server.WaitForRequests(3, kWait));
    nlohmann::json third = Event(m_server.Requests().at(2));
    EXPECT_GE(std::stoi(Field(third, "seconds_since_start")), 1);
    EXPECT_GE(std::stoi(Field(third, "seconds_since_previous_event")), 1);
}

TEST_F(TelemetryServiceTest, UnusableCallerTextIsRepairedOrDroppedNotRaised) {
    auto service = CreateFromEnvironment();
    EXPECT_NO_THROW(service->SendEvent("crash", true, {{"message", "cut \xE2\x82 here"}}));
    EXPECT_NO_THROW(service->SendEvent("listed", true, nlohmann::json::array({1, 2})));
    ASSERT_TRUE(m_server.WaitForRequests(2, kWait));
    std::vector<RecordedHttpRequest> requests = m_server.Requests();
    EXPECT_EQ(Event(requests.at(0)).at("message"), "cut \xEF\xBF\xBD here");  // U+FFFD
    EXPECT_EQ(Event(requests.at(1)).at("name"), "listed");
}

TEST_F(TelemetryServiceTest, WorkersPostEveryQueuedEventBeforeTheServiceIsGone) {
    auto service = CreateFromEnvironment();
    std::vector<std::thread> senders;
    for (int t = 0; t < 3; ++t) {
        senders.emplace_back([service, t] {
            for (int i = 0; i < 4; ++i) {
                service->SendEvent(("event_" + std::to_string(t * 4 + i)).c_str(), false,
                                   nlohmann::json::object());
            }
        });
    }
    for (auto& sender : senders) sender.join();
    service->SendEvent("streamdeck_kestrel_plugin_shutdown", false, nlohmann::json::object());
    service.reset();

    std::vector<RecordedHttpRequest> requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 13u);
    std::vector<std::string> names;
    for (const auto& request : requests) names.push_back(Event(request).at("name"));
    std::sort(names.begin(), names.end());
    EXPECT_TRUE(std::binary_search(names.begin(), names.end(), "streamdeck_kestrel_plugin_shutdown"));
    EXPECT_EQ(std::unique(names.begin(), names.end()), names.end());
}

TEST_F(TelemetryServiceTest, TheOptOutSendsNothing) {
    for (const auto& [name, value] : {std::pair<std::string, std::string>{"KESTREL_TELEMETRY", "off"},
                                      {"KESTREL_TELEMETRY", "OFF"},
                                      {"DO_NOT_TRACK", "1"}}) {
        ScopedEnvironment optOut(name, value);
        TelemetrySettings settings = ReadTelemetrySettings();
        EXPECT_FALSE(settings.enabled) << name << "=" << value;
        EXPECT_EQ(settings.offBy, name) << "the settings pages name it";
        auto service = TelemetryService::Create(settings);
        service->SetUserChoice(true);  // the streamer's switch cannot turn on what the environment keeps off
        service->SendEvent("queued", false, nlohmann::json::object());
        service->SendEvent("synchronous", true, nlohmann::json::object());
    }
    EXPECT_TRUE(m_server.ConnectionBytes().empty());
    EXPECT_FALSE(fs::exists(m_config / "Vantora"));  // no identifier made either

    ScopedEnvironment keepTracking("DO_NOT_TRACK", "0");
    EXPECT_TRUE(ReadTelemetrySettings().enabled);
    EXPECT_EQ(ReadTelemetrySettings().offBy, "");
    EXPECT_EQ(ReadTelemetrySettings().collectorUrl, m_server.Url(kPath));
}

TEST_F(TelemetryServiceTest, ACollectorThatNeverAnswersDelaysOnlyTheExit) {
    m_server.SetNeverAnswer(true);
    auto created = Clock::now();
    auto service = CreateFromEnvironment();
    service->SendEvent("streamdeck_kestrel_plugin_initialized", false, nlohmann::json::object());
    EXPECT_LT(Clock::now() - created, std::chrono::seconds(3));
    ASSERT_TRUE(m_server.WaitForRequests(1, kWait));

    auto destroyed = Clock::now();
    service.reset();
    // Connect, send and receive are each limited to 5 s; allow a margin on top.
    EXPECT_LT(Clock::now() - destroyed, std::chrono::seconds(20));
}

TEST_F(TelemetryServiceTest, AStalledCollectorMeetsABoundedQueueAndADrainThatKeepsItsDeadline) {
    LogCapture log;
    m_server.SetNeverAnswer(true);
    auto service = CreateFromEnvironment();
    constexpr int kSent = 1000;
    for (int i = 0; i < kSent; ++i) {
        service->SendEvent(("event_" + std::to_string(i)).c_str(), false, nlohmann::json::object());
    }
    // Each of the four workers holds one unanswered post; the rest waits.
    ASSERT_TRUE(m_server.WaitForRequests(4, kWait));

    auto destroyed = Clock::now();
    service.reset();
    auto took = Clock::now() - destroyed;
    // The posts under way get the 3 s of the drain, and not much more.
    EXPECT_GE(took, std::chrono::milliseconds(2500));
    EXPECT_LT(took, std::chrono::seconds(3 + 5));

    EXPECT_EQ(m_server.Requests().size(), 4u);
    std::vector<std::string> lines = log.LinesContaining("TelemetryService::Stop:");
    ASSERT_EQ(lines.size(), 1u);
    // Sent = posted + pushed out of the 64 places + left at the deadline.
    EXPECT_NE(
        lines[0].find("996 events dropped: 932 pushed out of the full queue, 64 not posted within the 3 s"),
        std::string::npos)
        << lines[0];
}

// A full queue pushes out the oldest events, but the start event last: once
// the stalled posts give up, it is the first the workers post.
TEST_F(TelemetryServiceTest, AFullQueuePushesOutTheStartEventLast) {
    m_server.SetNeverAnswer(true);
    auto service = CreateFromEnvironment();
    for (int i = 0; i < 4; ++i) service->SendEvent("busy", false, nlohmann::json::object());
    ASSERT_TRUE(m_server.WaitForRequests(4, kWait));  // every worker holds an unanswered post
    service->SendEvent(kStartEvent, false, nlohmann::json::object());
    for (int i = 0; i < 100; ++i) {
        service->SendEvent(("event_" + std::to_string(i)).c_str(), false, nlohmann::json::object());
    }
    m_server.SetNeverAnswer(false);
    // The held posts end at their 5 s limit; then the four workers post the
    // queue, oldest first, and the start event is among the first four of
    // them (their posts may reach the collector in any order).
    ASSERT_TRUE(m_server.WaitForRequests(8, std::chrono::seconds(20)));
    std::vector<RecordedHttpRequest> requests = m_server.Requests();
    std::vector<std::string> firstAfterTheStall;
    for (size_t i = 4; i < 8; ++i)
        firstAfterTheStall.push_back(Event(requests[i]).at("name").get<std::string>());
    EXPECT_NE(std::find(firstAfterTheStall.begin(), firstAfterTheStall.end(), kStartEvent),
              firstAfterTheStall.end());
    service.reset();
    int starts = 0;
    for (const auto& request : m_server.Requests()) starts += Event(request).at("name") == kStartEvent;
    EXPECT_EQ(starts, 1);
}

TEST(TelemetryServiceInstanceTest, ConcurrentFirstCallersShareOneService) {
    ScopedEnvironment off("KESTREL_TELEMETRY", "off");
    std::vector<std::shared_ptr<TelemetryService>> seen(8);
    std::vector<std::thread> callers;
    for (auto& slot : seen) callers.emplace_back([&slot] { slot = TelemetryService::Instance(); });
    for (auto& caller : callers) caller.join();
    ASSERT_NE(seen.front(), nullptr);
    for (const auto& service : seen) EXPECT_EQ(service, seen.front());
    EXPECT_EQ(TelemetryService::Instance(), seen.front());
}

}  // namespace
