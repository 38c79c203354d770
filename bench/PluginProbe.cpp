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
// Usage: plugin_probe [--plugin PATH] [--idle-seconds N] [--starts N]
//                     [--presses N] [--turns N] [--reports N] [--overlays N] [--encodes N]
//                     [--launcher "PROGRAM ARGS..."] [--peer SCRIPT] [--node PROGRAM]
//                     [--rounds N]
// --launcher runs the plug-in through another program, e.g. the win32 build
// under Wine: --launcher "cmake/wine-run /tmp/prefix" --plugin .../kestrel-sdplugin.exe
// (then the controller pipe of this probe is out of the plug-in's reach, and
// only the start, idle and memory rows are measured; Wine's server process is
// not counted).
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "KeyImageWork.h"
#include "PeerActions.h"
#include "PressFloor.h"
#include "Samples.h"
#include "SignInBursts.h"
#include "catalogue/ActionCatalogue.h"
#include "controller-sim/ControllerModel.h"
#include "controller-sim/PipeServer.h"
#include "deck-sim/VirtualDeck.h"
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
};

struct Results {
    Samples start, press, turn, multiState, overlay, setImageBytes;
    Samples burst, burstPerKey;  // sign-in and sign-out: every key redrawn, and each key
    int incompleteBursts = 0;
    double idleCpuSeconds = 0, idleSwitches = 0, idleSeconds = 0;
    int idleThreads = 0;
    size_t idleHostMessages = 0;
    std::optional<ChildProcess::Usage> memory;  // at the end of the last idle run
    std::string failure;
};

double Millis(Clock::duration span) {
    return std::chrono::duration<double, std::milli>(span).count();
}

std::string ExecutableDirectory() {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    std::string text(path, static_cast<size_t>(length));
    return text.substr(0, text.rfind('/'));
}

std::string LoadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

std::vector<std::string> SplitWords(const std::string& text) {
    std::istringstream words(text);
    std::vector<std::string> result;
    for (std::string word; words >> word;) result.push_back(word);
    return result;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    options.plugin = ExecutableDirectory() + "/kestrel-sdplugin";
    std::map<std::string, int*> counts = {
        {"--idle-seconds", &options.idleSeconds}, {"--starts", &options.starts},
        {"--presses", &options.presses},          {"--turns", &options.turns},
        {"--reports", &options.reports},          {"--overlays", &options.overlays},
        {"--encodes", &options.encodes},          {"--rounds", &options.rounds}};
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
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
    auto before = process.Sample();
    auto startedAt = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    auto after = process.Sample();
    double measured = std::chrono::duration<double>(Clock::now() - startedAt).count();
    if (!before || !after) return;
    results.idleSeconds += measured;
    results.idleCpuSeconds += after->cpuSeconds - before->cpuSeconds;
    results.idleSwitches += static_cast<double>(after->contextSwitches - before->contextSwitches);
    results.idleThreads = static_cast<int>(after->threads);
    results.memory = after;
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
// sessions, against PressFloor in place of a plug-in.
void MeasurePressFloor(Bench& bench, int count, Results& floor) {
    std::string pipeName = bench.folder + "/floor";
    PipeServer pipe(pipeName);
    PressFloor path;
    bench.host.Clear();
    if (!pipe.Listen() || !path.Start(static_cast<unsigned short>(bench.port), pipeName) ||
        !pipe.WaitForClient(kLong) || !bench.host.WaitForConnection(kLong)) {
        floor.failure = "the press floor could not be set up";
        return;
    }
    std::vector<ActionEntry> entries;
    for (const auto& key : bench.deck.Keys()) entries.push_back(key.action);
    MeasurePresses(bench, pipe, IndexOf(entries, "alerts-skip"), count, floor);
    bench.host.CloseConnection();
    path.Stop();
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

void Line(const std::string& what, const std::string& ours, const std::string& peer, const std::string& ratio,
          const std::string& goal) {
    std::printf("| %-44s | %-26s | %-26s | %-7s | %-22s |\n", what.c_str(), ours.c_str(), peer.c_str(),
                ratio.c_str(), goal.c_str());
}

void LatencyRow(const std::string& what, const Samples& ours, const Samples& peer, const char* goal) {
    Line(what + " (" + std::to_string(ours.Count()) + ")", Figure(ours, "ms"), Figure(peer, "ms"),
         Ratio(ours.Median(), peer.Median()), goal);
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
    int threads = 0;
};

Footprint FootprintOf(const Results& results) {
    Footprint footprint;
    if (results.idleSeconds > 0) {
        footprint.cpuPercent = 100.0 * results.idleCpuSeconds / results.idleSeconds;
        footprint.wakeups = results.idleSwitches / results.idleSeconds;
        footprint.threads = results.idleThreads;
    }
    if (results.memory) {
        constexpr double kMiB = 1024.0 * 1024.0;
        footprint.privateMiB = static_cast<double>(results.memory->privateBytes) / kMiB;
        footprint.proportionalMiB = static_cast<double>(results.memory->proportionalBytes) / kMiB;
        footprint.residentMiB = static_cast<double>(results.memory->residentBytes) / kMiB;
    }
    return footprint;
}

void PrintTable(const Options& options, const std::vector<Results>& results, const Samples& floor,
                const Samples& encode, const std::string& loadBefore) {
    static const Results none;
    const Results& ours = results.front();
    const Results& peer = results.size() > 1 ? results[1] : none;
    std::printf("plug-in: %s\n", options.plugin.c_str());
    if (!options.peer.empty()) std::printf("peer: %s %s\n", options.node.c_str(), options.peer.c_str());
    std::printf("machine: %ld cores; load average before %s, after %s; %d round(s) each, alternating\n",
                sysconf(_SC_NPROCESSORS_ONLN), loadBefore.c_str(), LoadAverage().c_str(), options.rounds);
    Line("measure (samples), median / p99", "Kestrel", "Node SDK peer", "peer/us", "goal");
    std::printf("|%s|%s|%s|%s|%s|\n", std::string(46, '-').c_str(), std::string(28, '-').c_str(),
                std::string(28, '-').c_str(), std::string(9, '-').c_str(), std::string(24, '-').c_str());
    LatencyRow("start -> registration received", ours.start, peer.start, "median < 25 ms");
    LatencyRow("keyDown written -> command on the pipe", ours.press, peer.press, "p99 <= floor p99 + 0.2");
    LatencyRow("dialRotate written -> command on the pipe", ours.turn, peer.turn,
               "median < 2 ms, ahead of peer");
    Line("  floor: reader -> queue -> writer, same run (" + std::to_string(floor.Count()) + ")",
         Figure(floor, "ms"), "", "", "");
    LatencyRow("state report -> setImage (multi-state key)", ours.multiState, peer.multiState,
               "ahead of peer");
    LatencyRow("sign-in report -> setImage (status overlay)", ours.overlay, peer.overlay, "");
    LatencyRow("sign-in/out report -> all keys redrawn", ours.burst, peer.burst, "p99 < 16.7 ms");
    LatencyRow("  per key: report -> its last setImage", ours.burstPerKey, peer.burstPerKey,
               "median ahead of peer");
    Line("setImage message size (" + std::to_string(ours.setImageBytes.Count()) + ")",
         Figure(ours.setImageBytes, "B"), Figure(peer.setImageBytes, "B"), "", "");
    Line("compose-and-encode of one key (in process)", Figure(encode, "ms"), "-", "", "");
    Footprint us = FootprintOf(ours), them = FootprintOf(peer);
    std::string seconds = Quantity(ours.idleSeconds, "%.0f s");
    const std::string keys = std::to_string(ActionCatalogue().size()) + " keys";
    Line("idle " + seconds + ", " + keys + ", controller up: CPU",
         Quantity(us.cpuPercent, "%.3f %% of a core"), Quantity(them.cpuPercent, "%.3f %% of a core"),
         Ratio(us.cpuPercent, them.cpuPercent), "none");
    Line("idle: wake-ups (context switches)",
         Quantity(us.wakeups, "%.2f /s") + " (" + std::to_string(us.threads) + " threads)",
         Quantity(them.wakeups, "%.2f /s") + " (" + std::to_string(them.threads) + " threads)",
         Ratio(us.wakeups, them.wakeups), "0 /s");
    Line("idle: messages to the host", std::to_string(ours.idleHostMessages),
         options.peer.empty() ? "-" : std::to_string(peer.idleHostMessages), "", "0");
    Line("private memory (USS), " + keys, Quantity(us.privateMiB, "%.2f MiB"),
         Quantity(them.privateMiB, "%.2f MiB"), Ratio(us.privateMiB, them.privateMiB), "< 4 MiB");
    Line("proportional memory (Pss)", Quantity(us.proportionalMiB, "%.2f MiB"),
         Quantity(them.proportionalMiB, "%.2f MiB"), Ratio(us.proportionalMiB, them.proportionalMiB), "");
    Line("resident memory (VmRSS)", Quantity(us.residentMiB, "%.2f MiB"),
         Quantity(them.residentMiB, "%.2f MiB"), Ratio(us.residentMiB, them.residentMiB), "");
    for (const Results& each : results) {
        if (each.incompleteBursts > 0)
            std::printf("INCOMPLETE: %d sign-in/out bursts left a key undrawn for %lld ms\n",
                        each.incompleteBursts, static_cast<long long>(SignInBursts::kLimit.count()));
        if (!each.failure.empty()) std::printf("FAILED: %s\n", each.failure.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(
            stderr,
            "usage: plugin_probe [--plugin PATH] [--idle-seconds N] [--starts N] [--presses N] [--turns N] "
            "[--reports N] [--overlays N] [--encodes N] [--launcher \"PROGRAM ARGS\"] "
            "[--peer SCRIPT] [--node PROGRAM] [--rounds N]\n");
        return 2;
    }
    std::string loadBefore = LoadAverage();
    char folderTemplate[] = "/tmp/kestrel-bench-XXXXXX";
    if (!mkdtemp(folderTemplate)) return 1;

    std::vector<Subject> subjects = {{"Kestrel", options.launcher, options.plugin}};
    if (!options.peer.empty()) subjects.push_back({"the Node SDK peer", {options.node}, options.peer});

    ActionTable table;
    table.LoadManifest(ExecutableDirectory());
    std::vector<std::string> contexts;
    for (size_t i = 0; i < table.Entries().size(); ++i) contexts.push_back("CTX" + std::to_string(1000 + i));
    Bench bench(options, table.Entries(), contexts);
    bench.folder = folderTemplate;
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

    // Alternating, so that both plug-ins meet the same load of the machine.
    std::vector<Results> results(subjects.size());
    auto failed = [&results] {
        return std::any_of(results.begin(), results.end(),
                           [](const Results& each) { return !each.failure.empty(); });
    };
    for (int run = 0; run < options.starts && !failed(); ++run) {
        for (size_t i = 0; i < subjects.size(); ++i) {
            bench.subject = &subjects[i];
            MeasureStart(bench, results[i]);
        }
    }
    Results floor;
    for (int round = 0; round < options.rounds && !failed() && floor.failure.empty(); ++round) {
        for (size_t i = 0; i < subjects.size(); ++i) {
            bench.subject = &subjects[i];
            MeasureSession(bench, round, results[i]);
        }
        MeasurePressFloor(bench, Share(options.presses, round, options.rounds), floor);
    }
    if (results.front().failure.empty()) results.front().failure = floor.failure;
    Samples encode;
    MeasureEncoding(options, encode);
    PrintTable(options, results, floor.press, encode, loadBefore);
    std::string cleanup = "rm -rf '" + bench.folder + "'";
    if (std::system(cleanup.c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", bench.folder.c_str());
    return failed() ? 1 : 0;
}
