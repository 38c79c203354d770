// Measures the real plug-in executable from outside, as the Stream Deck
// application and the controller server see it, and prints one table:
// start -> registration, key press -> command on the controller pipe,
// controller report -> "setImage" (multi-state key, status overlay), idle CPU
// and wake-ups with 22 keys shown and the controller connected, resident
// memory, and compose-and-encode of one key with the size of a "setImage".
//
// Usage: plugin_probe [--plugin PATH] [--idle-seconds N] [--starts N]
//                     [--presses N] [--reports N] [--overlays N] [--encodes N]
//                     [--launcher "PROGRAM ARGS..."]
// --launcher runs the plug-in through another program, e.g. the win32 build
// under Wine: --launcher "cmake/wine-run /tmp/prefix" --plugin .../kestrel-sdplugin.exe
// (then the controller pipe of this probe is out of the plug-in's reach, and
// only the start, idle and memory rows are measured; Wine's server process is
// not counted).
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "ActionTable.h"
#include "ControllerModel.h"
#include "KeyImageWork.h"
#include "PipeServer.h"
#include "Samples.h"
#include "VirtualDeck.h"
#include "support/ChildProcess.h"
#include "support/HostStandIn.h"

namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;
constexpr char kPluginUUID[] = "BENCHPLUGIN0000000000000000000000";
constexpr auto kLong = std::chrono::milliseconds(5000);
// The plug-in writes to the probe's own stdout and stderr.
const ChildProcess::Options kSharedOutput{nullptr, true, false};

struct Options {
    std::string plugin;
    std::vector<std::string> launcher;
    int idleSeconds = 60;
    int starts = 30;
    int presses = 300;
    int reports = 200;
    int overlays = 60;
    int encodes = 500;
};

struct Results {
    Samples start, press, multiState, overlay, encode, setImageBytes;
    double idleCpuPercent = -1, idleWakeups = -1, idleSeconds = 0;
    int idleThreads = 0;
    size_t idleHostMessages = 0;
    double residentMiB = -1;
    double anonymousMiB = -1, fileMiB = -1;
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
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (i + 1 >= argc) return false;
        std::string value = argv[++i];
        if (name == "--plugin")
            options.plugin = value;
        else if (name == "--idle-seconds")
            options.idleSeconds = std::stoi(value);
        else if (name == "--starts")
            options.starts = std::stoi(value);
        else if (name == "--presses")
            options.presses = std::stoi(value);
        else if (name == "--reports")
            options.reports = std::stoi(value);
        else if (name == "--overlays")
            options.overlays = std::stoi(value);
        else if (name == "--encodes")
            options.encodes = std::stoi(value);
        else if (name == "--launcher")
            options.launcher = SplitWords(value);
        else
            return false;
    }
    return true;
}

// Everything one plug-in run needs: the host stand-in, the controller pipe
// and the environment that points the plug-in at them.
struct Bench {
    Options options;
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
        return options.launcher.empty() ? options.plugin : options.launcher.front();
    }

    // The launcher's own arguments and the plug-in, then the host's four option pairs.
    std::vector<std::string> Arguments() const {
        std::vector<std::string> words;
        if (!options.launcher.empty()) {
            words.assign(options.launcher.begin() + 1, options.launcher.end());
            words.push_back(options.plugin);
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

void StopPlugin(Bench& bench, ChildProcess& process) {
    bench.host.CloseConnection();
    if (!process.Wait(kLong)) process.Kill();
}

void MeasureStarts(Bench& bench, Results& results) {
    for (int run = 0; run < bench.options.starts; ++run) {
        bench.host.Clear();
        ChildProcess process;
        auto startedAt = Clock::now();
        if (!process.Start(bench.Program(), bench.Arguments(), bench.Environment(), kSharedOutput)) {
            results.failure = "cannot start " + bench.options.plugin;
            return;
        }
        auto registration = bench.WaitForEvent("registerPlugin", kLong);
        if (registration) results.start.Add(Millis(registration->at - startedAt));
        StopPlugin(bench, process);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

size_t IndexOf(const std::vector<ActionEntry>& actions, const std::string& shortName) {
    for (size_t i = 0; i < actions.size(); ++i) {
        if (actions[i].uuid == "com.vantora.kestrel." + shortName) return i;
    }
    return 0;
}

void MeasurePresses(Bench& bench, PipeServer& pipe, size_t key, Results& results) {
    std::mt19937 random(7);
    for (int press = 0; press < bench.options.presses; ++press) {
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

void MeasureMultiState(Bench& bench, PipeServer& pipe, ControllerModel& model, size_t key, Results& results) {
    const std::string& action = bench.deck.Keys()[key].action.uuid;
    const std::string& context = bench.deck.Keys()[key].context;
    const char* states[] = {"streaming-state-on", "streaming-state-off"};
    std::mt19937 random(11);
    for (int report = 0; report < bench.options.reports; ++report) {
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

// Signs out and back in: each report is timed to the first new image of |key|.
void MeasureOverlays(Bench& bench, PipeServer& pipe, ControllerModel& model, size_t key, Results& results) {
    const std::string& context = bench.deck.Keys()[key].context;
    std::mt19937 random(13);
    for (int change = 0; change < bench.options.overlays; ++change) {
        bool signIn = change % 2 == 1;
        model.SetSignedIn(signIn);
        bench.host.Clear();
        auto sentAt = Clock::now();
        pipe.Send(model.SignInReport());
        if (signIn) pipe.Send(model.SupportReport());
        auto image = bench.WaitForImage(context, std::chrono::milliseconds(2000));
        if (image) results.overlay.Add(Millis(image->at - sentAt));
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 250));
    }
}

void MeasureIdle(Bench& bench, ChildProcess& process, Results& results) {
    // Let the transient marks of the last commands expire first.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    bench.host.Clear();
    auto before = process.Sample();
    auto startedAt = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(bench.options.idleSeconds));
    auto after = process.Sample();
    double seconds = std::chrono::duration<double>(Clock::now() - startedAt).count();
    if (!before || !after) return;
    results.idleSeconds = seconds;
    results.idleCpuPercent = 100.0 * (after->cpuSeconds - before->cpuSeconds) / seconds;
    results.idleWakeups = static_cast<double>(after->contextSwitches - before->contextSwitches) / seconds;
    results.idleThreads = static_cast<int>(after->threads);
    constexpr double kMiB = 1024.0 * 1024.0;
    results.residentMiB = static_cast<double>(after->residentBytes) / kMiB;
    results.anonymousMiB = static_cast<double>(after->anonymousBytes) / kMiB;
    results.fileMiB = static_cast<double>(after->fileBytes) / kMiB;
    while (
        bench.host.WaitFor([](const HostStandIn::Received&) { return true; }, std::chrono::milliseconds(0))) {
        ++results.idleHostMessages;
    }
}

void MeasureSession(Bench& bench, Results& results) {
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
        results.failure = "the plug-in did not register";
        return;
    }
    bool accepted = false;
    for (const json& message :
         bench.deck.RegisterPlugin(json{{"event", "registerPlugin"}, {"uuid", kPluginUUID}}, accepted)
             .toPlugin) {
        bench.host.Send(message);
    }
    ControllerModel model(true);
    if (!pipe.WaitForClient(kLong)) {
        // Without the controller only the idle and memory rows mean anything.
        results.failure = "the plug-in did not connect to the controller pipe";
        MeasureIdle(bench, process, results);
        StopPlugin(bench, process);
        return;
    }
    if (auto query = pipe.Receive(kLong)) {
        for (const auto& reply : model.Handle(*query)) pipe.Send(reply);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // every key drawn, signed in

    const auto& actions = bench.deck.Keys();
    std::vector<ActionEntry> entries;
    for (const auto& key : actions) entries.push_back(key.action);
    MeasurePresses(bench, pipe, IndexOf(entries, "alerts-skip"), results);
    MeasureMultiState(bench, pipe, model, IndexOf(entries, "streaming-state"), results);
    MeasureOverlays(bench, pipe, model, IndexOf(entries, "alerts-skip"), results);
    // Drain what the commands produced on the pipe, so the idle run starts quiet.
    while (pipe.Receive(std::chrono::milliseconds(0))) {
    }
    MeasureIdle(bench, process, results);
    StopPlugin(bench, process);
}

void MeasureEncoding(const Options& options, Results& results) {
    KeyImageWork work;
    if (!work.Ready()) return;
    work.ComposeAndEncode();  // warm-up
    for (int round = 0; round < options.encodes; ++round) {
        auto startedAt = Clock::now();
        work.ComposeAndEncode();
        results.encode.Add(Millis(Clock::now() - startedAt));
    }
}

void Row(const char* what, const Samples& samples, const char* unit, const char* goal, const char* anchor) {
    if (samples.Count() == 0) {
        std::printf("| %-44s | %5s | %11s | %11s | %-12s | %-14s |\n", what, "0", "-", "-", goal, anchor);
        return;
    }
    std::printf("| %-44s | %5zu | %8.3f %-2s | %8.3f %-2s | %-12s | %-14s |\n", what, samples.Count(),
                samples.Median(), unit, samples.Percentile(99), unit, goal, anchor);
}

void PrintTable(const Options& options, const Results& results, const std::string& loadBefore) {
    std::printf("plug-in: %s\n", options.plugin.c_str());
    std::printf("machine: %ld cores; load average before %s, after %s\n", sysconf(_SC_NPROCESSORS_ONLN),
                loadBefore.c_str(), LoadAverage().c_str());
    std::printf("| %-44s | %5s | %11s | %11s | %-12s | %-14s |\n", "measure", "n", "median", "p99", "goal",
                "Node.js anchor");
    std::printf("|%s|%s|%s|%s|%s|%s|\n", std::string(46, '-').c_str(), std::string(7, '-').c_str(),
                std::string(13, '-').c_str(), std::string(13, '-').c_str(), std::string(14, '-').c_str(),
                std::string(16, '-').c_str());
    Row("start -> registration received", results.start, "ms", "< 50 ms", "~130 ms");
    Row("keyDown written -> command on the pipe", results.press, "ms", "p99 < 1 ms", "0.8 / 1.5 ms");
    Row("state report -> setImage (multi-state key)", results.multiState, "ms", "p99 < 20 ms", "");
    Row("sign-in report -> setImage (status overlay)", results.overlay, "ms", "<= 250 ms", "");
    Row("compose-and-encode of one key (in process)", results.encode, "ms", "", "");
    Row("setImage message size", results.setImageBytes, "B", "", "");
    char line[128];
    std::snprintf(line, sizeof line, "%.3f %% of a core", results.idleCpuPercent);
    std::printf("| %-44s | %5.0f | %-25s | %-12s | %-14s |\n", "idle, 22 keys, controller up: CPU",
                results.idleSeconds, line, "none", "none");
    std::snprintf(line, sizeof line, "%.2f /s (%d threads)", results.idleWakeups, results.idleThreads);
    std::printf("| %-44s | %5.0f | %-25s | %-12s | %-14s |\n", "idle: context switches (wake-ups)",
                results.idleSeconds, line, "<= 2 /s", "0.1-0.2 /s");
    std::snprintf(line, sizeof line, "%zu", results.idleHostMessages);
    std::printf("| %-44s | %5.0f | %-25s | %-12s | %-14s |\n", "idle: messages to the host",
                results.idleSeconds, line, "0", "");
    std::snprintf(line, sizeof line, "%.1f MiB", results.residentMiB);
    std::printf("| %-44s | %5s | %-25s | %-12s | %-14s |\n", "resident memory (VmRSS), 22 keys", "1", line,
                "< 10 MB", "~55 MB");
    std::snprintf(line, sizeof line, "%.1f / %.1f MiB", results.anonymousMiB, results.fileMiB);
    std::printf("| %-44s | %5s | %-25s | %-12s | %-14s |\n", "  of it anonymous / file-backed (libraries)",
                "1", line, "", "");
    if (!results.failure.empty()) std::printf("FAILED: %s\n", results.failure.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: plugin_probe [--plugin PATH] [--idle-seconds N] [--starts N] [--presses N] "
                     "[--reports N] [--overlays N] [--encodes N] [--launcher \"PROGRAM ARGS\"]\n");
        return 2;
    }
    std::string loadBefore = LoadAverage();
    char folderTemplate[] = "/tmp/kestrel-bench-XXXXXX";
    if (!mkdtemp(folderTemplate)) return 1;

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
                         {"KESTREL_CONTROLLER_PIPE", bench.folder + "/absent"}};
    bench.port = bench.host.Listen();
    if (bench.port == 0) return 1;

    Results results;
    MeasureStarts(bench, results);
    if (results.failure.empty()) MeasureSession(bench, results);
    MeasureEncoding(options, results);
    PrintTable(options, results, loadBefore);
    std::string cleanup = "rm -rf '" + bench.folder + "'";
    if (std::system(cleanup.c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", bench.folder.c_str());
    return results.failure.empty() ? 0 : 1;
}
