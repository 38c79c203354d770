// The plug-in's start and stop, seen from outside: the real executable runs
// from a folder of its own against a stand-in host and a telemetry collector.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <random>
#include <sstream>

#include "diagnostics/Platform.h"
#include "support/ChildProcess.h"
#include "support/HostStandIn.h"
#include "support/TestHttpServer.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const char kStartLine[] = "[info] StreamDeck Kestrel plug-in started";
const char kStopLine[] = "[info] StreamDeck Kestrel plug-in stopped";

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

class LifetimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        m_directory = fs::temp_directory_path() / ("kestrel-lifetime-test-" + std::to_string(random()));
        fs::create_directories(m_directory / "plugin");
        fs::create_directories(m_directory / "home");
        // A copy of the plug-in in a folder of its own: its log is ours alone.
        std::string name = fs::path(BuiltProgramPath("kestrel-sdplugin")).filename().string();
        m_plugin = m_directory / "plugin" / name;
        fs::copy_file(BuiltProgramPath("kestrel-sdplugin"), m_plugin);
        // The posting helper goes beside it, as in the plug-in folder, with the
        // mode a host that unpacks without the files' modes leaves: the plug-in
        // makes it executable itself.
        if (!KESTREL_WIN32) {
            fs::path helper = m_directory / "plugin" / "kestrel-post";
            fs::copy_file(BuiltProgramPath("kestrel-post"), helper);
            fs::permissions(helper, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                        fs::perms::others_read);
        }
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(m_directory, ignored);
    }

    // One run from start to the host closing the link.
    void RunOnce(const TestHttpServer& collector) {
        HostStandIn host;
        ChildProcess child;
        ASSERT_TRUE(Start(child, host, collector));
        ASSERT_TRUE(host.WaitForConnection(60s)) << child.Output();
        host.Close();
        EXPECT_EQ(child.Wait(60s), 0) << child.Output();
        EXPECT_EQ(child.Output(), RegisteredPluginOutput(m_plugin.u8string()));
    }

    // Starts the plug-in against |host| and |collector|, from another working
    // directory, as the Stream Deck application may do.
    bool Start(ChildProcess& child, const HostStandIn& host, const TestHttpServer& collector,
               std::optional<std::string> crashUrl = std::nullopt, const EnvironmentOverrides& more = {}) {
        std::string home = (m_directory / "home").string();
        EnvironmentOverrides environment = {
            {"KESTREL_TELEMETRY", std::nullopt},
            {"DO_NOT_TRACK", std::nullopt},
            {"KESTREL_TELEMETRY_URL", collector.Url("/science/insert/kestrel")},
            {"KESTREL_CRASH_URL", crashUrl},
            {"XDG_STATE_HOME", home},
            {"XDG_CONFIG_HOME", home},
            {"LOCALAPPDATA", home},
        };
        for (const auto& [name, value] : more) {
            auto same = std::find_if(environment.begin(), environment.end(),
                                     [&name = name](const auto& entry) { return entry.first == name; });
            if (same != environment.end()) {
                same->second = value;
            } else {
                environment.emplace_back(name, value);
            }
        }
        return child.Start(m_plugin.string(),
                           {"-port", std::to_string(host.Port()), "-pluginUUID", "U", "-registerEvent",
                            "registerPlugin", "-info", "{}"},
                           environment);
    }

    fs::path LogFile() const { return m_directory / "plugin" / "logs" / "rotating.txt"; }

    // The key images beside the copy, so that it can draw its keys.
    void CopyKeyImages() const {
        fs::path built = fs::path(BuiltProgramPath("kestrel-sdplugin")).parent_path();
        for (const fs::directory_entry& entry : fs::directory_iterator(built)) {
            if (entry.path().extension() == ".png")
                fs::copy_file(entry.path(), m_plugin.parent_path() / entry.path().filename());
        }
    }

    // A crash report that an earlier run left behind.
    fs::path LeaveCrashReport() const {
        fs::path report = m_directory / "home" / "Vantora" / "Kestrel" / "CrashReports" / "20240101-000000-1";
        fs::create_directories(report);
        std::ofstream(report / "report.ini") << "exception=c0000005\n";
        return report;
    }

    fs::path m_directory;
    fs::path m_plugin;
};

TEST_F(LifetimeTest, EachRunOpensWithTheStartRecordAndClosesWithTheStopRecordAppendingToTheLog) {
    TestHttpServer collector;
    RunOnce(collector);
    std::vector<std::string> lines = Lines(ReadFile(LogFile()));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NE(lines.front().find(kStartLine), std::string::npos) << lines.front();
    EXPECT_NE(lines.back().find(kStopLine), std::string::npos) << lines.back();

    RunOnce(collector);
    std::vector<std::string> both = Lines(ReadFile(LogFile()));
    ASSERT_GT(both.size(), lines.size() + 1);
    EXPECT_EQ(std::vector<std::string>(both.begin(), both.begin() + lines.size()), lines);
    EXPECT_NE(both[lines.size()].find(kStartLine), std::string::npos) << both[lines.size()];
    EXPECT_NE(both.back().find(kStopLine), std::string::npos) << both.back();
}

TEST_F(LifetimeTest, ShutdownEventReachesTheCollectorAfterTheStopRecordWasWritten) {
    TestHttpServer collector;
    // Evaluated by the collector as each event arrives, before it answers.
    std::vector<std::pair<std::string, bool>> arrivals;  // event body, stop record already written
    collector.SetRequestObserver([&](const RecordedHttpRequest& request) {
        arrivals.emplace_back(request.body, ReadFile(LogFile()).find(kStopLine) != std::string::npos);
    });
    RunOnce(collector);
    ASSERT_TRUE(collector.WaitForRequests(2, 10s));
    collector.SetRequestObserver(nullptr);

    int initialized = 0, shutdown = 0;
    for (const auto& [body, stopWritten] : arrivals) {
        if (body.find("\"name\":\"streamdeck_kestrel_plugin_initialized\"") != std::string::npos) {
            ++initialized;
        }
        if (body.find("\"name\":\"streamdeck_kestrel_plugin_shutdown\"") != std::string::npos) {
            ++shutdown;
            EXPECT_TRUE(stopWritten) << "the shutdown event was posted before the stop record";
        }
    }
    EXPECT_EQ(initialized, 1);
    EXPECT_EQ(shutdown, 1);
}

TEST_F(LifetimeTest, ACollectorThatNeverAnswersHoldsUpNeitherTheStartNorTheExitBeyondItsTimeouts) {
    using Clock = std::chrono::steady_clock;
    TestHttpServer collector;
    collector.SetNeverAnswer(true);
    Clock::time_point startEventArrived;  // written under the collector's lock
    collector.SetRequestObserver([&](const RecordedHttpRequest& request) {
        if (request.body.find("streamdeck_kestrel_plugin_initialized") != std::string::npos)
            startEventArrived = Clock::now();
    });
    HostStandIn host;
    ChildProcess child;
    ASSERT_TRUE(Start(child, host, collector));
    ASSERT_TRUE(host.WaitForConnection(60s)) << child.Output();
    ASSERT_TRUE(host.NextMessage(30s).has_value());
    Clock::time_point registered = Clock::now();
    // Other events of the start may come first: the posts wait for the registration together.
    auto startEventSeen = [&collector] {
        for (const RecordedHttpRequest& request : collector.Requests())
            if (request.body.find("streamdeck_kestrel_plugin_initialized") != std::string::npos) return true;
        return false;
    };
    for (size_t count = 1; !startEventSeen(); ++count) ASSERT_TRUE(collector.WaitForRequests(count, 30s));
    collector.SetRequestObserver(nullptr);
    // Had the start waited for the unanswered post, the registration would
    // have come at least the 5 s receive limit after the event arrived.
    EXPECT_LT(registered - startEventArrived, 5s);

    Clock::time_point closed = Clock::now();
    host.Close();
    EXPECT_EQ(child.Wait(60s), 0) << child.Output();
    // The shutdown event is still posted; its wait is bounded by the 3 s
    // the exit gives the telemetry workers.
    EXPECT_LT(Clock::now() - closed, 20s);
    EXPECT_TRUE(collector.WaitForRequests(2, 1s));
}

TEST_F(LifetimeTest, CollectorsThatTrickleOrNeverAnswerHoldTheExitForSecondsNotMinutes) {
    using Clock = std::chrono::steady_clock;
    // The telemetry collector answers one byte every 2 s: each byte comes
    // well within the 5 s stall limit, and the whole answer would take minutes.
    TestHttpServer collector;
    collector.SetResponse(200, std::string(100, 'x'));
    collector.SetTrickle(2s);
    // The crash report server takes an upload left by an earlier run and never answers.
    TestHttpServer crashServer;
    crashServer.SetNeverAnswer(true);
    fs::path report = LeaveCrashReport();

    HostStandIn host;
    ChildProcess child;
    ASSERT_TRUE(Start(child, host, collector, crashServer.Url("/post")));
    ASSERT_TRUE(host.WaitForConnection(60s)) << child.Output();
    // Both posts are under way when the host goes.
    ASSERT_TRUE(collector.WaitForRequests(1, 30s));
    ASSERT_TRUE(crashServer.WaitForRequests(1, 30s));

    Clock::time_point closed = Clock::now();
    host.Close();
    EXPECT_EQ(child.Wait(60s), 0) << child.Output();
    auto took = Clock::now() - closed;
    EXPECT_LT(took, 10s) << "exit took " << std::chrono::duration<double>(took).count() << " s";

    // The shutdown event still went out within the time given at exit, and
    // the report whose upload was cut off stays for the next start.
    int shutdownEvents = 0;
    for (const RecordedHttpRequest& request : collector.Requests())
        shutdownEvents += request.body.find("streamdeck_kestrel_plugin_shutdown") != std::string::npos;
    EXPECT_EQ(shutdownEvents, 1);
    EXPECT_TRUE(fs::exists(report / "report.ini"));
    std::vector<std::string> lines = Lines(ReadFile(LogFile()));
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find(kStopLine), std::string::npos) << lines.back();
}

// A collector that answers every event with 48 000 short header lines (a
// quarter of a megabyte): reading them costs the exit seconds, not minutes.
TEST_F(LifetimeTest, ACollectorAnsweringWithThousandsOfHeaderLinesHoldsTheExitForSecondsNotMinutes) {
    using Clock = std::chrono::steady_clock;
    TestHttpServer collector;
    std::string lines;
    for (int i = 0; i < 48000; ++i) lines += "a:1\r\n";
    collector.SetResponse(200, "ok", lines);
    HostStandIn host;
    ChildProcess child;
    ASSERT_TRUE(Start(child, host, collector));
    ASSERT_TRUE(host.WaitForConnection(60s)) << child.Output();
    ASSERT_TRUE(collector.WaitForRequests(1, 30s));

    Clock::time_point closed = Clock::now();
    host.Close();
    EXPECT_EQ(child.Wait(120s), 0) << child.Output();
    auto took = Clock::now() - closed;
    std::cout << "exit after the host closed: " << std::chrono::duration<double>(took).count() << " s\n";
    EXPECT_LT(took, 10s);
    std::vector<std::string> logLines = Lines(ReadFile(LogFile()));
    ASSERT_FALSE(logLines.empty());
    EXPECT_NE(logLines.back().find(kStopLine), std::string::npos) << logLines.back();
    if (!KESTREL_WIN32) {
        EXPECT_EQ(fs::status(LogFile()).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
    }
}

// The shutdown event is posted from the exit sequence, after the stop
// record: its helper still starts and begins its TLS handshake. (The plain
// collector drops the handshake, so both posts fail after their first bytes.)
TEST_F(LifetimeTest, TheShutdownEventPostedAtExitStillBeginsItsTlsHandshake) {
    if (KESTREL_WIN32) GTEST_SKIP() << "WinINet is part of the system and set up by the first request";
    TestHttpServer collector;
    std::string secureUrl = "https://127.0.0.1:" + std::to_string(collector.Port()) + "/science";
    HostStandIn host;
    ChildProcess child;
    ASSERT_TRUE(Start(child, host, collector, std::nullopt, {{"KESTREL_TELEMETRY_URL", secureUrl}}));
    ASSERT_TRUE(host.WaitForConnection(60s)) << child.Output();
    ASSERT_TRUE(host.NextMessage(30s).has_value());
    ASSERT_TRUE(collector.WaitForConnectionBytes(1, 30s));  // the start event's handshake
    host.Close();
    EXPECT_EQ(child.Wait(60s), 0) << child.Output();

    std::vector<std::string> connections = collector.ConnectionBytes();
    ASSERT_GE(connections.size(), 2u) << "the shutdown event was not posted";
    for (size_t i = 0; i < connections.size(); ++i) {
        ASSERT_FALSE(connections[i].empty()) << "connection " << i << " sent nothing";
        EXPECT_EQ(connections[i][0], '\x16') << "connection " << i << " is no TLS handshake";
    }
}

// A system without libcurl, or a plug-in folder without its posting helper:
// the plug-in starts, registers, draws its keys and ends as usual; posting is
// off (nothing reaches the collector, the crash report waiting for upload
// stays) and one log line names what is missing.
TEST_F(LifetimeTest, WithoutLibcurlOrTheHelperThePluginRunsWithPostingOffAndSaysSoOnce) {
    if (KESTREL_WIN32) GTEST_SKIP() << "the Windows build posts through WinINet";
    const std::string missing = "libcurl-absent-for-test.so.4";
    CopyKeyImages();
    for (bool withoutHelper : {false, true}) {
        SCOPED_TRACE(withoutHelper ? "without the helper" : "without libcurl");
        if (withoutHelper) fs::remove(m_plugin.parent_path() / "kestrel-post");
        fs::remove_all(LogFile().parent_path());
        TestHttpServer collector;
        TestHttpServer crashServer;
        fs::path report = LeaveCrashReport();
        HostStandIn host;
        ChildProcess child;
        EnvironmentOverrides environment;
        if (!withoutHelper) environment = {{"KESTREL_CURL_LIBRARY", missing}};
        ASSERT_TRUE(Start(child, host, collector, crashServer.Url("/post"), environment));
        ASSERT_TRUE(host.WaitForConnection(60s)) << child.Output();
        ASSERT_TRUE(host.NextMessage(30s).has_value());
        host.Send(nlohmann::json{{"event", "willAppear"},
                                 {"action", "com.vantora.kestrel.alerts-skip"},
                                 {"context", "key-1"},
                                 {"device", "deck"},
                                 {"payload",
                                  {{"settings", nlohmann::json::object()},
                                   {"coordinates", {{"column", 0}, {"row", 0}}},
                                   {"controller", "Keypad"}}}});
        auto image = host.WaitForMessage(
            [](const std::string& text) {
                return text.find("\"setImage\"") != std::string::npos &&
                       text.find("key-1") != std::string::npos;
            },
            30s);
        EXPECT_TRUE(image.has_value()) << "no key image drawn";
        host.Close();
        EXPECT_EQ(child.Wait(60s), 0) << child.Output();
        EXPECT_EQ(child.Output(), RegisteredPluginOutput(m_plugin.u8string()));

        EXPECT_TRUE(collector.ConnectionBytes().empty());
        EXPECT_TRUE(crashServer.ConnectionBytes().empty());
        EXPECT_TRUE(fs::exists(report / "report.ini"));
        std::vector<std::string> lines = Lines(ReadFile(LogFile()));
        const std::string named = withoutHelper ? "kestrel-post cannot be started" : missing;
        int naming = 0;
        for (const std::string& line : lines) naming += line.find(named) != std::string::npos;
        EXPECT_EQ(naming, 1) << ReadFile(LogFile());
        ASSERT_FALSE(lines.empty());
        EXPECT_NE(lines.back().find(kStopLine), std::string::npos) << lines.back();
    }
}

}  // namespace
