// Measures the real plug-in executable from outside, as the Stream Deck
// application and the controller server see it, and prints one table:
// start -> registration, key press and dial turn -> command on the controller pipe,
// controller report -> "setImage" (multi-state key, status overlay), idle CPU
// and wake-ups with every key shown and the controller connected, private,
// proportional and resident memory, the floor under a key press (PressFloor)
// measured in the same run, every key redrawn after a sign-in or sign-out
// (SignInBursts), and compose-and-encode of one key with the size of a "setImage".
//
// With --peer SCRIPT the same rows are measured, alternating in one run, for a
// plug-in written on the official Node SDK (bench/peer), and the table shows
// both and their ratio.
//
// Built for Windows and run under Wine (scripts/bench --windows), it measures
// the Windows build the same way from inside Wine (the controller's named
// pipe is Wine's), and with --empty PROGRAM Wine's own floor beside it
// (EmptyProgramFloor); --save FILE keeps both for the native probe, whose
// --windows FILE adds them to its table.
//
// Usage: plugin_probe [--plugin PATH] [--idle-seconds N] [--starts N]
//                     [--presses N] [--turns N] [--reports N] [--overlays N] [--encodes N]
//                     [--launcher "PROGRAM ARGS..."] [--peer SCRIPT] [--node PROGRAM]
//                     [--rounds N] [--empty PROGRAM] [--save FILE] [--windows FILE]
//                     [--windows-wakeups "EXE FLOOR"] [--markdown]
// --launcher runs the plug-in through another program, e.g. the win32 build
// under Wine: --launcher "cmake/wine-run /tmp/prefix" --plugin .../kestrel-sdplugin.exe
// (then the controller pipe of this probe is out of the plug-in's reach, and
// only the start, idle and memory rows are measured; Wine's server process is
// not counted).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "EmptyProgramFloor.h"
#include "KeyImageWork.h"
#include "PeerActions.h"
#include "ProbePlatform.h"
#include "ProbeResults.h"
#include "ProbeTable.h"
#include "Samples.h"
#include "SignInBursts.h"
#include "catalogue/ActionCatalogue.h"
#include "controller-sim/ControllerModel.h"
#include "controller-sim/PipeServer.h"
#include "deck-sim/VirtualDeck.h"
#include "diagnostics/ModuleDirectory.h"
#include "support/ChildProcess.h"
#include "support/HostStandIn.h"

namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;
constexpr char kPluginUUID[] = "BENCHPLUGIN0000000000000000000000";
// Generous: node starts in seconds on a loaded 2-core machine.
constexpr auto kLong = std::chrono::milliseconds(20000);
// How long a plug-in may take to leave after the host closed its connection.
constexpr auto kLeaveGrace = std::chrono::milliseconds(2000);
// The plug-in writes to the probe's own stdout and stderr.
const ChildProcess::Options kSharedOutput{nullptr, true, false};

// One plug-in under measurement and how it is started.
struct Subject {
    std::string name;
    std::vector<std::string> launcher;  // the program and its own arguments before the plug-in
    std::string plugin;
};

struct Options {
    std::string plugin;
    std::vector<std::string> launcher;
    std::string peer;  // the Node SDK peer's script; empty: the native plug-in alone
    std::string node = "node";
    int rounds = 0;  // sessions per plug-in; 0: 2 with a peer, else 1
    int idleSeconds = 60;
    int starts = 30;
    int presses = 300;
    int turns = 100;
    int reports = 200;
    int overlays = 400;  // sign-in and sign-out reports: 200 of each
    int encodes = 500;
    std::string empty;           // empty_program: Wine's floor, measured beside the plug-in
    std::string save;            // where to keep the results as JSON
    std::string windows;         // the results the probe saved under Wine, for more columns
    std::string windowsWakeups;  // scripts/wine-idle's rates: the Windows build's and the floor's
    bool markdown = false;
};

using Results = ProbeResults;

double Millis(Clock::duration span) {
    return std::chrono::duration<double, std::milli>(span).count();
}

std::string ExecutableDirectory() {
    return GetModuleDirectory().generic_string();
}

std::vector<std::string> SplitWords(const std::string& text) {
    std::istringstream words(text);
    std::vector<std::string> result;
    for (std::string word; words >> word;) result.push_back(word);
    return result;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    options.plugin = BuiltProgramPath("kestrel-sdplugin");
    std::map<std::string, int*> counts = {
        {"--idle-seconds", &options.idleSeconds}, {"--starts", &options.starts},
        {"--presses", &options.presses},          {"--turns", &options.turns},
        {"--reports", &options.reports},          {"--overlays", &options.overlays},
        {"--encodes", &options.encodes},          {"--rounds", &options.rounds}};
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "--markdown") {
            options.markdown = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        std::string value = argv[++i];
        if (auto count = counts.find(name); count != counts.end())
            *count->second = std::stoi(value);
        else if (name == "--plugin")
            options.plugin = value;
        else if (name == "--launcher")
            options.launcher = SplitWords(value);
        else if (name == "--peer")
            options.peer = value;
        else if (name == "--node")
            options.node = value;
        else if (name == "--empty")
            options.empty = value;
        else if (name == "--save")
            options.save = value;
        else if (name == "--windows")
            options.windows = value;
        else if (name == "--windows-wakeups")
            options.windowsWakeups = value;
        else
            return false;
    }
    if (options.rounds <= 0) options.rounds = options.peer.empty() ? 1 : 2;
    return true;
}

// This round's share of |total|: the rounds together make exactly |total|.
int Share(int total, int round, int rounds) {
    return total * (round + 1) / rounds - total * round / rounds;
}

// Everything one plug-in run needs: the host stand-in, the controller pipe
// and the environment that points the plug-in at them.
struct Bench {
    Options options;
    const Subject* subject = nullptr;
    std::string folder;  // private temporary folder
    HostStandIn host;
    unsigned short port = 0;
    VirtualDeck deck;
    std::map<std::string, std::string> environment;

    Bench(const Options& given, const std::vector<ActionEntry>& actions,
          const std::vector<std::string>& contexts)
        : options(given), deck(actions, contexts, kPluginUUID, "bench") {}

    EnvironmentOverrides Environment() const {
        return EnvironmentOverrides(environment.begin(), environment.end());
    }

    const std::string& Program() const {
        return subject->launcher.empty() ? subject->plugin : subject->launcher.front();
    }

    // The launcher's own arguments and the plug-in, then the host's four option pairs.
    std::vector<std::string> Arguments() const {
        std::vector<std::string> words;
        if (!subject->launcher.empty()) {
            words.assign(subject->launcher.begin() + 1, subject->launcher.end());
            words.push_back(subject->plugin);
        }
        for (auto& word : PluginArguments()) words.push_back(word);
        return words;
    }

    std::vector<std::string> PluginArguments() const {
        return {"-port",          std::to_string(port), "-pluginUUID", kPluginUUID,
                "-registerEvent", "registerPlugin",     "-info",       deck.InfoDocument().dump()};
    }

    std::optional<HostStandIn::Received> WaitForEvent(const std::string& event,
                                                      std::chrono::milliseconds timeout) {
        return host.WaitFor(
            [&event](const HostStandIn::Received& received) {
                return received.text.find("\"" + event + "\"") != std::string::npos &&
                       json::parse(received.text, nullptr, false).value("event", "") == event;
            },
            timeout);
    }

    std::optional<HostStandIn::Received> WaitForImage(const std::string& context,
                                                      std::chrono::milliseconds timeout) {
        return host.WaitFor(
            [&context](const HostStandIn::Received& received) {
                if (received.text.find("setImage") == std::string::npos) return false;
                json message = json::parse(received.text, nullptr, false);
                return message.value("event", "") == "setImage" && message.value("context", "") == context;
            },
            timeout);
    }
};

// The Stream Deck application closes the connection, then ends a plug-in
// that does not leave by itself (the Node SDK's does not).
void StopPlugin(Bench& bench, ChildProcess& process) {
    bench.host.CloseConnection();
    if (!process.Wait(kLeaveGrace)) process.Kill();
}

// One start of the current subject: spawn to the registration text received.
void MeasureStart(Bench& bench, Results& results) {
    bench.host.Clear();
    ChildProcess process;
    auto startedAt = Clock::now();
    if (!process.Start(bench.Program(), bench.Arguments(), bench.Environment(), kSharedOutput)) {
        results.failure = "cannot start " + bench.subject->plugin;
        return;
    }
    auto registration = bench.WaitForEvent("registerPlugin", kLong);
    if (registration) results.start.Add(Millis(registration->at - startedAt));
    StopPlugin(bench, process);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

size_t IndexOf(const std::vector<ActionEntry>& actions, const std::string& shortName) {
    for (size_t i = 0; i < actions.size(); ++i) {
        if (actions[i].uuid == "com.vantora.kestrel." + shortName) return i;
    }
    return 0;
}

void MeasurePresses(Bench& bench, PipeServer& pipe, size_t key, int count, Results& results) {
    std::mt19937 random(7);
    for (int press = 0; press < count; ++press) {
        Outbox down = bench.deck.KeyDown(key);
        auto sentAt = bench.host.Send(down.toPlugin.front());
        if (!sentAt) break;
        auto command = pipe.Receive(std::chrono::milliseconds(2000));
        auto receivedAt = Clock::now();
        if (command && command->find(bench.deck.Keys()[key].action.uuid) != std::string::npos) {
            results.press.Add(Millis(receivedAt - *sentAt));
        }
        bench.host.Send(bench.deck.KeyUp(key).toPlugin.front());
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 30));
    }
}

// A dial of the volume level action (Stream Deck +): each turn of one tick,
// back and forth so that the level stays within its range, more than a pace
// after the one before, so that it is the first tick of a turn and leaves at once.
void MeasureDialTurns(Bench& bench, PipeServer& pipe, int count, Results& results) {
    const std::string action = "com.vantora.kestrel.media-request-set-volume-level";
    const std::string context = "bench-dial";
    const json place = {{"settings", json::object()},
                        {"coordinates", {{"column", 0}, {"row", 0}}},
                        {"controller", "Encoder"}};
    // A Stream Deck + joins first, as the host reports it; the Node SDK
    // refuses actions on a device it has not been told of.
    bench.host.Send(json{
        {"event", "deviceDidConnect"},
        {"device", "bench-plus"},
        {"deviceInfo", {{"name", "Stream Deck +"}, {"type", 7}, {"size", {{"columns", 4}, {"rows", 2}}}}}});
    bench.host.Send(json{{"event", "willAppear"},
                         {"action", action},
                         {"context", context},
                         {"device", "bench-plus"},
                         {"payload", place}});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the strip drawn
    while (pipe.Receive(std::chrono::milliseconds(0))) {
    }
    std::mt19937 random(11);
    for (int turn = 0; turn < count; ++turn) {
        json payload = place;
        payload["ticks"] = turn % 2 == 0 ? 1 : -1;
        payload["pressed"] = false;
        auto sentAt = bench.host.Send(json{{"event", "dialRotate"},
                                           {"action", action},
                                           {"context", context},
                                           {"device", "bench-plus"},
                                           {"payload", payload}});
        if (!sentAt) break;
        auto command = pipe.Receive(std::chrono::milliseconds(2000));
        auto receivedAt = Clock::now();
        if (command && command->find(context) != std::string::npos)
            results.turn.Add(Millis(receivedAt - *sentAt));
        std::this_thread::sleep_for(std::chrono::milliseconds(120 + random() % 30));
    }
    // Off the deck again: the idle and memory rows compare the same keys with the peer.
    bench.host.Send(json{{"event", "willDisappear"},
                         {"action", action},
                         {"context", context},
                         {"device", "bench-plus"},
                         {"payload", place}});
}

void MeasureMultiState(Bench& bench, PipeServer& pipe, ControllerModel& model, size_t key, int count,
                       Results& results) {
    const std::string& action = bench.deck.Keys()[key].action.uuid;
    const std::string& context = bench.deck.Keys()[key].context;
    const char* states[] = {"streaming-state-on", "streaming-state-off"};
    std::mt19937 random(11);
    for (int report = 0; report < count; ++report) {
        model.SetState(action, states[report % 2]);
        bench.host.Clear();
        auto sentAt = Clock::now();
        pipe.Send(model.FunctionReport(action));
        auto image = bench.WaitForImage(context, std::chrono::milliseconds(2000));
        if (image) {
            results.multiState.Add(Millis(image->at - sentAt));
            results.setImageBytes.Add(static_cast<double>(image->text.size()));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10 + random() % 40));
    }
}

// Signs out and back in; the first new image of |key| is the status overlay row.
void MeasureOverlays(Bench& bench, PipeServer& pipe, ControllerModel& model, size_t key, int count,
                     Results& results) {
    std::vector<std::string> contexts;
    for (const auto& each : bench.deck.Keys()) contexts.push_back(each.context);
    SignInBursts bursts(bench.host, contexts, bench.deck.Keys()[key].context);
    bursts.Measure(pipe, model, count);
    results.overlay.Append(bursts.MeasuredKey());
    results.burst.Append(bursts.Burst());
    results.burstPerKey.Append(bursts.PerKey());
    results.incompleteBursts += bursts.Incomplete();
}

void MeasureIdle(Bench& bench, ChildProcess& process, int seconds, Results& results) {
    // Let the transient marks of the last commands expire first.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    bench.host.Clear();
    results.MeasureIdle(process, seconds);
    while (
        bench.host.WaitFor([](const HostStandIn::Received&) { return true; }, std::chrono::milliseconds(0))) {
        ++results.idleHostMessages;
    }
}

// One session of the current subject: registration, every key laid out,
// the controller signed in; then presses, reports and the idle run, each this
// round's share of the counts.
void MeasureSession(Bench& bench, int round, Results& results) {
    const Options& options = bench.options;
    std::string pipeName = bench.folder + "/controller";
    PipeServer pipe(pipeName);
    if (!pipe.Listen()) {
        results.failure = "cannot listen on " + pipeName;
        return;
    }
    bench.environment["KESTREL_CONTROLLER_PIPE"] = pipeName;
    bench.host.Clear();
    ChildProcess process;
    if (!process.Start(bench.Program(), bench.Arguments(), bench.Environment(), kSharedOutput) ||
        !bench.WaitForEvent("registerPlugin", kLong)) {
        results.failure = bench.subject->name + " did not register";
        return;
    }
    bool accepted = false;
    for (const json& message :
         bench.deck.RegisterPlugin(json{{"event", "registerPlugin"}, {"uuid", kPluginUUID}}, accepted)
             .toPlugin) {
        bench.host.Send(message);
    }
    ControllerModel model(true);
    int idleSeconds = Share(options.idleSeconds, round, options.rounds);
    if (!pipe.WaitForClient(kLong)) {
        // Without the controller only the idle and memory rows mean anything.
        results.failure = bench.subject->name + " did not connect to the controller pipe";
        MeasureIdle(bench, process, idleSeconds, results);
        StopPlugin(bench, process);
        return;
    }
    if (auto query = pipe.Receive(kLong)) {
        for (const auto& reply : model.Handle(*query)) pipe.Send(reply);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // every key drawn, signed in

    std::vector<ActionEntry> entries;
    for (const auto& key : bench.deck.Keys()) entries.push_back(key.action);
    size_t skip = IndexOf(entries, "alerts-skip");
    MeasurePresses(bench, pipe, skip, Share(options.presses, round, options.rounds), results);
    MeasureDialTurns(bench, pipe, Share(options.turns, round, options.rounds), results);
    MeasureMultiState(bench, pipe, model, IndexOf(entries, "streaming-state"),
                      Share(options.reports, round, options.rounds), results);
    MeasureOverlays(bench, pipe, model, skip, Share(options.overlays, round, options.rounds), results);
    // Drain what the commands produced on the pipe, so the idle run starts quiet.
    while (pipe.Receive(std::chrono::milliseconds(0))) {
    }
    MeasureIdle(bench, process, idleSeconds, results);
    StopPlugin(bench, process);
}

// The floor under a press, after a round's sessions: the press loop of the
// sessions, against PressFloor in place of a plug-in (native only: under Wine
// the empty program's pipe round trip is the floor).
void MeasurePressFloor(Bench& bench, int count, Results& floor) {
    std::string pipeName = bench.folder + "/floor";
    PipeServer pipe(pipeName);
    bench.host.Clear();
    std::function<void()> stop;
    if (!pipe.Listen() ||
        !(stop = ProbePlatform::StartPressFloor(static_cast<unsigned short>(bench.port), pipeName)) ||
        !pipe.WaitForClient(kLong) || !bench.host.WaitForConnection(kLong)) {
        floor.failure = "the press floor could not be set up";
        if (stop) stop();
        return;
    }
    std::vector<ActionEntry> entries;
    for (const auto& key : bench.deck.Keys()) entries.push_back(key.action);
    MeasurePresses(bench, pipe, IndexOf(entries, "alerts-skip"), count, floor);
    bench.host.CloseConnection();
    stop();
}

void MeasureEncoding(const Options& options, Samples& encode) {
    KeyImageWork work;
    if (!work.Ready()) return;
    work.ComposeAndEncode();  // warm-up
    for (int round = 0; round < options.encodes; ++round) {
        auto startedAt = Clock::now();
        work.ComposeAndEncode();
        encode.Add(Millis(Clock::now() - startedAt));
    }
}

std::string Figure(const Samples& samples, const char* unit) {
    if (samples.Count() == 0) return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%.3f / %.3f %s", samples.Median(), samples.Percentile(99), unit);
    return text;
}

std::string Ratio(double ours, double peer) {
    if (ours <= 0 || peer <= 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1fx", peer / ours);
    return text;
}

std::string Quantity(double value, const char* format) {
    if (value < 0) return "-";
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The idle and memory rows of one plug-in: -1 where it was not measured.
struct Footprint {
    double cpuPercent = -1, wakeups = -1, privateMiB = -1, proportionalMiB = -1, residentMiB = -1;
    double threads = -1;
};

Footprint FootprintOf(const Results& results) {
    Footprint footprint;
    if (results.idleSeconds > 0) {
        footprint.cpuPercent = 100.0 * results.idleCpuSeconds / results.idleSeconds;
        if (results.idleSwitches >= 0) footprint.wakeups = results.idleSwitches / results.idleSeconds;
        footprint.threads = results.idleThreads;
    }
    if (results.memory) {
        constexpr double kMiB = 1024.0 * 1024.0;
        footprint.privateMiB = static_cast<double>(results.memory->privateBytes) / kMiB;
        if (results.memory->proportionalBytes > 0)
            footprint.proportionalMiB = static_cast<double>(results.memory->proportionalBytes) / kMiB;
        footprint.residentMiB = static_cast<double>(results.memory->residentBytes) / kMiB;
    }
    return footprint;
}

// The plug-ins of the table: the native one, and where measured the peer, and
// the Windows build under Wine with Wine's floor (an empty program).
struct Columns {
    const Results& ours;
    const Results* peer = nullptr;
    const Results* windows = nullptr;
    const Results* wineFloor = nullptr;
};

// One row's cells after the measure's name, before the goal.
struct Cells {
    explicit Cells(std::string native) : ours(std::move(native)) {}
    std::string ours, peer, ratio, windows, wineFloor, beyond;
};

// What the Windows code path adds beyond Wine's floor and the native build's
// own figure: exe - floor - native. Near 0 where Wine alone explains the gap.
std::string Beyond(double windows, double floor, double native, const char* format) {
    if (windows < 0 || floor < 0 || native < 0) return "-";
    char text[64];
    std::snprintf(text, sizeof text, format, windows - floor - native);
    return (windows - floor - native >= 0 ? "+" : "") + std::string(text);
}

std::string Beyond(const Samples& windows, const Samples& floor, const Samples& native, const char* unit) {
    if (windows.Count() == 0 || floor.Count() == 0 || native.Count() == 0) return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%+.3f / %+.3f %s", windows.Median() - floor.Median() - native.Median(),
                  windows.Percentile(99) - floor.Percentile(99) - native.Percentile(99), unit);
    return text;
}

std::vector<std::string> Header(const Columns& columns) {
    std::vector<std::string> header = {"measure (samples), median / p99", "Kestrel"};
    if (columns.peer) header.insert(header.end(), {"Node SDK peer", "peer/us"});
    if (columns.windows)
        header.insert(header.end(), {"kestrel-sdplugin.exe under Wine", "Wine's floor: an empty program",
                                     "exe - floor - native"});
    header.push_back("goal");
    return header;
}

void Row(ProbeTable& table, const Columns& columns, const std::string& what, const Cells& cells,
         const std::string& goal) {
    std::vector<std::string> row = {what, cells.ours};
    if (columns.peer) row.insert(row.end(), {cells.peer, cells.ratio});
    if (columns.windows) row.insert(row.end(), {cells.windows, cells.wineFloor, cells.beyond});
    row.push_back(goal);
    table.Add(row);
}

// A row of one series; |floor|: Wine's floor for it (the empty program's), if any.
void SeriesRow(ProbeTable& table, const Columns& columns, const std::string& what, Samples Results::*series,
               Samples Results::*floor, const char* unit, const std::string& goal) {
    const Samples& ours = columns.ours.*series;
    Cells cells{Figure(ours, unit)};
    if (columns.peer) {
        cells.peer = Figure(columns.peer->*series, unit);
        if (std::strcmp(unit, "ms") == 0)
            cells.ratio = Ratio(ours.Median(), (columns.peer->*series).Median());
    }
    if (columns.windows) {
        cells.windows = Figure(columns.windows->*series, unit);
        if (floor) {
            cells.wineFloor = Figure(columns.wineFloor->*floor, unit);
            cells.beyond = Beyond(columns.windows->*series, columns.wineFloor->*floor, ours, unit);
        }
    }
    Row(table, columns, what + " (" + std::to_string(ours.Count()) + ")", cells, goal);
}

// A row of one footprint figure; |windowsFloor| is Wine's own.
void FootprintRow(ProbeTable& table, const Columns& columns, const std::string& what,
                  double Footprint::*figure, const char* format, const std::string& goal,
                  bool beyond = true) {
    double ours = FootprintOf(columns.ours).*figure;
    Cells cells{Quantity(ours, format)};
    if (columns.peer) {
        double peer = FootprintOf(*columns.peer).*figure;
        cells.peer = Quantity(peer, format);
        cells.ratio = Ratio(ours, peer);
    }
    if (columns.windows) {
        double windows = FootprintOf(*columns.windows).*figure,
               floor = FootprintOf(*columns.wineFloor).*figure;
        cells.windows = Quantity(windows, format);
        cells.wineFloor = Quantity(floor, format);
        if (beyond) cells.beyond = Beyond(windows, floor, ours, format);
    }
    Row(table, columns, what, cells, goal);
}

// scripts/wine-idle's two rates ("EXE FLOOR", per second), or nothing.
void WakeupsRow(ProbeTable& table, const Columns& columns, const std::string& windowsWakeups) {
    Cells cells{Quantity(FootprintOf(columns.ours).wakeups, "%.2f /s")};
    if (columns.peer) cells.peer = Quantity(FootprintOf(*columns.peer).wakeups, "%.2f /s");
    std::istringstream rates(windowsWakeups);
    double exe = -1, floor = -1;
    if (columns.windows && rates >> exe >> floor) {
        cells.windows = Quantity(exe, "%.2f /s (wine-idle)");
        cells.wineFloor = Quantity(floor, "%.2f /s (wine-idle)");
    }
    Row(table, columns, "idle: wake-ups (context switches)", cells, "0 /s");
}

void PrintTable(const Options& options, const Columns& columns, const Samples& floor,
                const std::string& loadBefore) {
    const char* item = options.markdown ? "- " : "";
    std::printf("%splug-in: %s\n", item, options.plugin.c_str());
    if (columns.peer) std::printf("%speer: %s %s\n", item, options.node.c_str(), options.peer.c_str());
    if (columns.windows) std::printf("%sWindows build under Wine: %s\n", item, options.windows.c_str());
    std::printf("%smachine: %u cores; load average before %s, after %s; %d round(s) each, alternating\n\n",
                item, std::thread::hardware_concurrency(), loadBefore.c_str(),
                ProbePlatform::LoadAverage().c_str(), options.rounds);
    ProbeTable table(Header(columns));
    SeriesRow(table, columns, "start -> registration received", &Results::start, &Results::start, "ms",
              "median < 25 ms");
    SeriesRow(table, columns, "keyDown written -> command on the pipe", &Results::press, &Results::press,
              "ms", "p99 <= floor p99 + 0.2");
    SeriesRow(table, columns, "dialRotate written -> command on the pipe", &Results::turn, &Results::press,
              "ms", "median < 2 ms, ahead of peer");
    Row(table, columns,
        "  floor: reader -> queue -> writer, same run (" + std::to_string(floor.Count()) + ")",
        Cells{Figure(floor, "ms")}, "");
    SeriesRow(table, columns, "state report -> setImage (multi-state key)", &Results::multiState,
              &Results::press, "ms", "ahead of peer");
    SeriesRow(table, columns, "sign-in report -> setImage (status overlay)", &Results::overlay,
              &Results::press, "ms", "");
    SeriesRow(table, columns, "sign-in/out report -> all keys redrawn", &Results::burst, &Results::press,
              "ms", "p99 < 16.7 ms");
    SeriesRow(table, columns, "  per key: report -> its last setImage", &Results::burstPerKey,
              &Results::press, "ms", "median ahead of peer");
    SeriesRow(table, columns, "setImage message size", &Results::setImageBytes, nullptr, "B", "");
    SeriesRow(table, columns, "compose-and-encode of one key (in process)", &Results::encode, nullptr, "ms",
              "");
    const std::string keys = std::to_string(ActionCatalogue().size()) + " keys";
    FootprintRow(
        table, columns,
        "idle " + Quantity(columns.ours.idleSeconds, "%.0f s") + ", " + keys + ", controller up: CPU",
        &Footprint::cpuPercent, "%.3f %% of a core", "none", false);
    WakeupsRow(table, columns, options.windowsWakeups);
    FootprintRow(table, columns, "threads", &Footprint::threads, "%.0f", "");
    Cells messages{std::to_string(columns.ours.idleHostMessages)};
    if (columns.peer) messages.peer = std::to_string(columns.peer->idleHostMessages);
    if (columns.windows) messages.windows = std::to_string(columns.windows->idleHostMessages);
    Row(table, columns, "idle: messages to the host", messages, "0");
    FootprintRow(table, columns, "private memory (USS; Windows: commit), " + keys, &Footprint::privateMiB,
                 "%.2f MiB", "< 4 MiB");
    FootprintRow(table, columns, "proportional memory (Pss)", &Footprint::proportionalMiB, "%.2f MiB", "",
                 false);
    FootprintRow(table, columns, "resident memory (VmRSS; Windows: working set)", &Footprint::residentMiB,
                 "%.2f MiB", "");
    std::printf("%s", table.Markdown().c_str());
}

// The results the probe saved under Wine: the Windows build's and the floor's.
bool LoadWindowsResults(const std::string& path, Results& windows, Results& floor) {
    std::ifstream file(path);
    json saved = json::parse(file, nullptr, false);
    if (!saved.is_object()) {
        std::fprintf(stderr, "cannot read the Windows build's results from %s\n", path.c_str());
        return false;
    }
    windows = Results::FromJson(saved.value("exe", json()));
    floor = Results::FromJson(saved.value("floor", json()));
    return true;
}

bool SaveResults(const std::string& path, const Results& exe, const Results& floor) {
    std::ofstream file(path);
    file << json{{"exe", exe.ToJson()}, {"floor", floor.ToJson()}}.dump() << "\n";
    return static_cast<bool>(file);
}

std::string PrivateFolder() {
    std::random_device random;
    auto folder = std::filesystem::temp_directory_path() / ("kestrel-bench-" + std::to_string(random()));
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    // Forward slashes: on Windows the folder also names the controller's pipe,
    // whose name may hold no backslash.
    return error ? "" : folder.generic_string();
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(
            stderr,
            "usage: plugin_probe [--plugin PATH] [--idle-seconds N] [--starts N] [--presses N] [--turns N] "
            "[--reports N] [--overlays N] [--encodes N] [--launcher \"PROGRAM ARGS\"] "
            "[--peer SCRIPT] [--node PROGRAM] [--rounds N] [--empty PROGRAM] [--save FILE] "
            "[--windows FILE] [--windows-wakeups \"EXE FLOOR\"] [--markdown]\n");
        return 2;
    }
    std::string loadBefore = ProbePlatform::LoadAverage();
    std::string folder = PrivateFolder();
    if (folder.empty()) return 1;

    std::vector<Subject> subjects = {{"Kestrel", options.launcher, options.plugin}};
    if (!options.peer.empty()) subjects.push_back({"the Node SDK peer", {options.node}, options.peer});

    ActionTable table;
    table.LoadManifest(ExecutableDirectory());
    std::vector<std::string> contexts;
    for (size_t i = 0; i < table.Entries().size(); ++i) contexts.push_back("CTX" + std::to_string(1000 + i));
    Bench bench(options, table.Entries(), contexts);
    bench.folder = folder;
    bench.environment = {{"XDG_CONFIG_HOME", bench.folder + "/config"},
                         {"XDG_RUNTIME_DIR", bench.folder},
                         // Telemetry stays on (its workers are part of the cost) but goes nowhere.
                         {"KESTREL_TELEMETRY_URL", "http://127.0.0.1:9/science/insert/kestrel"},
                         {"KESTREL_CONTROLLER_PIPE", bench.folder + "/absent"},
                         // The peer's folder: the key images and manifest beside this probe.
                         {"KESTREL_PLUGIN_FOLDER", ExecutableDirectory()},
                         // The peer's actions: this build's action catalogue.
                         {"KESTREL_ACTIONS_FILE", bench.folder + "/actions.json"}};
    if (!WritePeerActions(bench.environment["KESTREL_ACTIONS_FILE"])) return 1;
    bench.port = bench.host.Listen();
    if (bench.port == 0) return 1;

    // Alternating, so that both plug-ins (and Wine's floor) meet the same load of the machine.
    std::vector<Results> results(subjects.size());
    Results wineFloor;
    std::optional<EmptyProgramFloor> empty;
    if (!options.empty.empty()) empty.emplace(options.empty, bench.folder + "/empty");
    auto failed = [&results, &wineFloor] {
        return !wineFloor.failure.empty() ||
               std::any_of(results.begin(), results.end(),
                           [](const Results& each) { return !each.failure.empty(); });
    };
    for (int run = 0; run < options.starts && !failed(); ++run) {
        for (size_t i = 0; i < subjects.size(); ++i) {
            bench.subject = &subjects[i];
            MeasureStart(bench, results[i]);
        }
        if (empty) empty->MeasureStart(wineFloor);
    }
    Results floor;
    for (int round = 0; round < options.rounds && !failed() && floor.failure.empty(); ++round) {
        for (size_t i = 0; i < subjects.size(); ++i) {
            bench.subject = &subjects[i];
            MeasureSession(bench, round, results[i]);
        }
        int presses = Share(options.presses, round, options.rounds);
        if (ProbePlatform::HasPressFloor()) MeasurePressFloor(bench, presses, floor);
        // The empty program's idle is short: it only has to show its memory and threads.
        if (empty) empty->MeasureSession(presses, std::min(5, options.idleSeconds), wineFloor);
    }
    MeasureEncoding(options, results.front().encode);

    Columns columns{results.front()};
    if (results.size() > 1) columns.peer = &results[1];
    Results windows, windowsFloor;
    if (!options.windows.empty() && LoadWindowsResults(options.windows, windows, windowsFloor)) {
        columns.windows = &windows;
        columns.wineFloor = &windowsFloor;
    }
    if (results.front().failure.empty()) results.front().failure = floor.failure;
    PrintTable(options, columns, floor.press, loadBefore);
    const Results* all[] = {&results.front(), columns.peer, &wineFloor, columns.windows, columns.wineFloor};
    for (const Results* each : all) {
        if (each && each->incompleteBursts > 0)
            std::printf("INCOMPLETE: %d sign-in/out bursts left a key undrawn for %lld ms\n",
                        each->incompleteBursts, static_cast<long long>(SignInBursts::kLimit.count()));
        if (each && !each->failure.empty()) std::printf("FAILED: %s\n", each->failure.c_str());
    }
    if (!options.save.empty() && !SaveResults(options.save, results.front(), wineFloor)) {
        std::fprintf(stderr, "cannot write %s\n", options.save.c_str());
        return 1;
    }
    std::error_code error;
    if (std::filesystem::remove_all(bench.folder, error) == static_cast<std::uintmax_t>(-1))
        std::fprintf(stderr, "could not remove %s\n", bench.folder.c_str());
    return failed() ? 1 : 0;
}
