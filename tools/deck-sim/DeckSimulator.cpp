#include "deck-sim/DeckSimulator.h"

#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>
#include <websocketpp/config/asio_no_tls.hpp>
#include <websocketpp/server.hpp>

#include <unistd.h>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <iostream>
#include <map>
#include <random>
#include <set>

#include "Version.h"
#include "catalogue/ActionCatalogue.h"
#include "deck-sim/ActionTable.h"
#include "deck-sim/PluginManifest.h"
#include "deck-sim/PressOutcomes.h"
#include "deck-sim/StaticFiles.h"
#include "deck-sim/VirtualDeck.h"
#include "support/ChildProcess.h"
#include "support/HostStandIn.h"

using nlohmann::json;
using Server = websocketpp::server<websocketpp::config::asio>;
using Handle = websocketpp::connection_hdl;
using HandleSet = std::set<Handle, std::owner_less<Handle>>;
using ConnectionId = HostStandIn::ConnectionId;

namespace {

constexpr auto kPluginGrace = std::chrono::seconds(5);
constexpr auto kControllerGrace = std::chrono::seconds(2);
constexpr auto kReadyAtLatest = std::chrono::seconds(10);
constexpr size_t kHistoryLines = 300;
constexpr auto kExitPoll = std::chrono::milliseconds(100);
// Ports OpenDeck tries from its first one on.
constexpr unsigned short kHostPortsTried = 100;
// Messages kept for a plug-in that is not connected; older ones give way.
constexpr size_t kUndeliveredLimit = 256;

std::string RandomHex(size_t digits) {
    static std::mt19937_64 generator{std::random_device{}()};
    static const char* hex = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < digits; ++i) text += hex[generator() % 16];
    return text;
}

void Say(const std::string& line) {
    std::cout << line << std::endl;  // flushed: scripts and tests read it as it comes
}

// What the page's controls of the controller simulator did, as the log tells it.
struct PanelAction {
    const char* command;
    const char* id;  // of the page's text
    const char* words;
};

constexpr PanelAction kPanelActions[] = {
    {"signin", "signedIn", "you signed in to Kestrel"},
    {"signout", "signedOut", "you signed out of Kestrel"},
    {"support-on", "supportOn", "Kestrel now offers every action"},
    {"support-off", "supportOff", "Kestrel now offers no action"},
    {"drop", "dropped", "you dropped the connection between the plug-in and Kestrel"},
    {"stop", "kestrelClosing", "you closed Kestrel"},
    {"start", "kestrelStarting", "you started Kestrel"},
};

// The name of the command a controller message carries; empty for anything else.
std::string CommandName(const json& message) {
    const json* at = &message;
    for (const char* key : {"payload", "command", "name"}) {
        if (!at->is_object() || !at->contains(key)) return "";
        at = &(*at)[key];
    }
    return at->is_string() ? at->get<std::string>() : "";
}

// The support of every action on the deck, as controller-sim's stdin lines.
std::vector<std::string> SupportLines(const std::vector<DeckKey>& keys, bool supported) {
    std::vector<std::string> lines;
    for (const DeckKey& key : keys)
        lines.push_back("support " + key.action.uuid + (supported ? " on" : " off"));
    return lines;
}

// The controller simulator's controls that the page may use, as stdin lines;
// |supported|: whether the simulated Kestrel offers the actions now.
std::vector<std::string> ControllerLines(const std::string& command, const std::vector<DeckKey>& keys,
                                         bool supported) {
    if (command == "signout" || command == "drop") return {command};
    if (command == "signin") {
        // The plug-in forgets what Kestrel offers when the streamer signs out;
        // signed in again, Kestrel tells it anew.
        std::vector<std::string> lines = {command};
        for (std::string& line : SupportLines(keys, supported)) lines.push_back(std::move(line));
        return lines;
    }
    if (command == "support-on" || command == "support-off")
        return SupportLines(keys, command == "support-on");
    return {};
}

}  // namespace

struct DeckSimulator::State {
    explicit State(DeckSimOptions given)
        : options(std::move(given)),
          webFiles(this->options.webFolder),
          pluginFiles(this->options.pluginFolder),
          signals(io, SIGINT, SIGTERM),
          wakeSignals(io, SIGCONT),
          graceTimer(io),
          readyTimer(io),
          exitTimer(io),
          restartTimer(io),
          verdictTimer(io) {}

    DeckSimOptions options;
    asio::io_context io;
    std::unique_ptr<HostStandIn> host;  // the host application's endpoint
    Server web;                         // the page
    int hostPort = 0;
    int httpPort = 0;
    StaticFiles webFiles;
    StaticFiles pluginFiles;
    std::unique_ptr<VirtualDeck> deck;
    asio::signal_set signals;
    asio::signal_set wakeSignals;  // SIGCONT: deck-sim resumes, as the computer does after sleep

    ChildProcess pluginProcess;
    ChildProcess controllerProcess;
    bool pluginRunning = false;
    bool pluginStarted = false;
    bool controllerRunning = false;
    std::string pipeName;
    asio::steady_timer graceTimer;
    asio::steady_timer readyTimer;
    asio::steady_timer exitTimer;
    asio::steady_timer restartTimer;  // ends a plug-in that does not leave for its restart
    bool restartWanted = false;       // start the plug-in again once it has ended
    PressOutcomes presses;            // key presses waiting to be seen at the controller
    asio::steady_timer verdictTimer;  // the next press whose time is up
    bool announced = false;
    bool shuttingDown = false;
    int exitCode = 1;

    ConnectionId plugin = 0;  // the registered plug-in connection
    bool pluginConnected = false;
    ConnectionId inspector = 0;  // the registered inspector connection
    bool inspectorConnected = false;
    std::set<ConnectionId> pending;  // host connections that have not registered yet
    std::vector<json> undelivered;   // for the plug-in, kept while it is not connected (OpenDeck)
    HandleSet pages;
    std::deque<json> history;  // the latest activity lines, for pages that connect later
    // Composite keys whose steps are still being sent, until when.
    std::map<size_t, std::chrono::steady_clock::time_point> runningUntil;

    // What the page shows about the controller simulator.
    json controller = {{"available", false},
                       {"running", false},
                       {"linked", false},
                       {"signedIn", false},
                       {"supported", true}};

    // ---- set-up
    bool Listen(Server& server, int port, int& boundPort);
    bool ListenHost();
    void SetUpHost();
    void SetUpWeb();
    void BuildDeck();
    void AddPresetComposites();
    bool StartController();
    bool StartPlugin();
    void RestartPlugin();
    void RestartPluginGently();
    void ChangeLanguage(const std::string& language);
    void WatchChildren();
    void WaitForWake();
    void OnPluginExit(int status, bool ended = false);
    void OnControllerExit(int status);
    void Announce(const std::string& note);

    // ---- traffic
    void Deliver(Outbox out);
    void SendToPlugin(const json& message);
    void Send(Server& server, Handle handle, const json& message);
    void BroadcastPages(const json& message);
    void Tell(const std::string& words, const json& say = nullptr);
    void FollowPress(size_t index, bool down);
    void WaitForVerdicts();
    void OnHostMessage(ConnectionId connection, const std::string& text);
    void OnHostRegistration(ConnectionId connection, const json& message);
    void OnHostClose(ConnectionId connection);
    void OnPageMessage(const std::string& text);
    void OnPageDialMessage(const std::string& type, size_t dial, const json& message);
    void OnPageCompositeMessage(const std::string& type, size_t composite, const json& message);
    void SendLater(const StepPress& press);
    void SelectInspector(const json& message);
    void CloseInspector();
    void OnPageOpen(Handle handle);
    void ServeHttp(Handle handle);
    bool AllowedOrigin(const std::string& origin) const;

    // ---- controller simulator
    void OnControllerLine(const std::string& line);
    void ControllerCommand(const std::string& command);
    void SetController(const char* key, bool value);

    // ---- shutdown
    void BeginShutdown();
    void StopController();
    void Finish();
    void CloseConnection(Server& server, Handle handle);
};

bool DeckSimulator::State::Listen(Server& server, int port, int& boundPort) {
    server.clear_access_channels(websocketpp::log::alevel::all);
    server.clear_error_channels(websocketpp::log::elevel::all);
    server.init_asio(&io);
    server.set_reuse_addr(true);
    websocketpp::lib::error_code error;
    server.listen(
        asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)),
        error);
    if (error) {
        std::cerr << "deck-sim: cannot listen on 127.0.0.1:" << port << ": " << error.message() << "\n";
        return false;
    }
    boundPort = server.get_local_endpoint(error).port();
    server.start_accept(error);
    return !error;
}

bool DeckSimulator::State::AllowedOrigin(const std::string& origin) const {
    // Programs send no Origin; browsers must come from the page itself, so a
    // web site open in another tab cannot press keys or register an inspector.
    std::string port = std::to_string(httpPort);
    return origin.empty() || origin == "http://127.0.0.1:" + port || origin == "http://localhost:" + port;
}

void DeckSimulator::State::SetUpHost() {
    HostStandIn::Handlers handlers;
    handlers.accepts = [this](const std::string& origin) { return AllowedOrigin(origin); };
    handlers.opened = [this](ConnectionId connection) { pending.insert(connection); };
    handlers.received = [this](ConnectionId connection, const std::string& text) {
        OnHostMessage(connection, text);
    };
    handlers.closed = [this](ConnectionId connection) { OnHostClose(connection); };
    host = std::make_unique<HostStandIn>(io, std::move(handlers));
}

bool DeckSimulator::State::ListenHost() {
    unsigned short first = static_cast<unsigned short>(options.hostPort);
    unsigned short tries = 1;
    if (first == 0 && options.host.FirstPort() != 0) {
        first = options.host.FirstPort();
        tries = kHostPortsTried;
    }
    for (unsigned short port = first; port - first < tries; ++port) {
        if ((hostPort = host->Listen(port)) != 0) return true;
    }
    std::cerr << "deck-sim: cannot listen on 127.0.0.1:" << first
              << (tries > 1 ? " or the ports after it" : "") << "\n";
    return false;
}

void DeckSimulator::State::SetUpWeb() {
    web.set_validate_handler([this](Handle handle) {
        auto connection = web.get_con_from_hdl(handle);
        return connection->get_resource() == "/ws" && AllowedOrigin(connection->get_origin());
    });
    web.set_http_handler([this](Handle handle) { ServeHttp(handle); });
    web.set_open_handler([this](Handle handle) { OnPageOpen(handle); });
    web.set_close_handler([this](Handle handle) { pages.erase(handle); });
    web.set_message_handler(
        [this](Handle, Server::message_ptr message) { OnPageMessage(message->get_payload()); });
}

void DeckSimulator::State::BuildDeck() {
    ActionTable actions;
    std::string note;
    auto manifest = PluginManifest::Read(options.pluginFolder, options.host, note);
    if (!note.empty()) Say("deck-sim: " + note);
    if (!manifest || !actions.ApplyManifest(manifest->dump())) {
        Say("deck-sim: no manifest.json in " + options.pluginFolder +
            "; built-in action names, no inspectors");
    }
    // OpenDeck starts the program the manifest names, from the plug-in folder.
    if (options.host.IsOpenDeck() && !options.pluginPathGiven && manifest) {
        std::string codePath = PluginManifest::CodePath(*manifest, options.host);
        if (!codePath.empty()) options.pluginPath = options.pluginFolder + "/" + codePath;
    }
    std::vector<std::string> contexts;
    for (size_t i = 0; i < actions.Entries().size(); ++i)
        contexts.push_back(options.host.KeyContext(VirtualDeck::kDeviceId, i, RandomHex(32)));
    deck = std::make_unique<VirtualDeck>(actions.Entries(), contexts, options.host.PluginUUID(RandomHex(32)),
                                         kPluginVersion, options.host, options.device);
    AddPresetComposites();
}

// A "Go live" Multi Action on the first free key (and under OpenDeck a toggle
// action beside it), so that the demo shows them at once; the page edits them.
// The plug-in is not there yet: its registration announces the steps.
void DeckSimulator::State::AddPresetComposites() {
    const std::string prefix = kActionPrefix;
    if (auto goLive = deck->AddComposite(DeckComposite::Kind::MultiAction, "Go live")) {
        deck->AddStep(*goLive, prefix + "streaming-state", RandomHex(32), 1);  // live
        deck->AddStep(*goLive, prefix + "alerts-pause", RandomHex(32), 0);     // alerts running
        deck->AddStep(*goLive, prefix + "media-request", RandomHex(32), 0);    // requests on
    }
    if (!options.host.IsOpenDeck()) return;
    if (auto toggle = deck->AddComposite(DeckComposite::Kind::Toggle, "Pause alerts / resume")) {
        deck->AddStep(*toggle, prefix + "alerts-pause-on", RandomHex(32));
        deck->AddStep(*toggle, prefix + "alerts-pause-off", RandomHex(32));
    }
}

bool DeckSimulator::State::StartController() {
    // One private name for the whole run: the plug-in keeps it across restarts
    // of the controller simulator.
    if (pipeName.empty()) pipeName = "KestrelDeckSim-" + std::to_string(getpid()) + "-" + RandomHex(8);
    ChildProcess::Options launch;
    launch.detached = true;
    // Lines come on the launcher's reader thread; they are handled on the loop.
    launch.onLine = [this](const std::string& line) {
        asio::post(io, [this, line] { OnControllerLine(line); });
    };
    controllerRunning = controllerProcess.Start(options.controllerSimPath, {"--pipe", pipeName}, {}, launch);
    if (!controllerRunning) {
        std::cerr << "deck-sim: cannot start " << options.controllerSimPath << "\n";
        return false;
    }
    controller["available"] = true;
    SetController("signedIn", false);  // a fresh controller starts signed out, everything supported
    SetController("supported", true);
    return true;
}

bool DeckSimulator::State::StartPlugin() {
    EnvironmentOverrides environment;
    if (!pipeName.empty()) environment.emplace_back("KESTREL_CONTROLLER_PIPE", pipeName);
    std::vector<std::string> arguments = {
        "-port",          std::to_string(hostPort), "-pluginUUID", deck->PluginUUID(),
        "-registerEvent", "registerPlugin",         "-info",       deck->InfoDocument().dump()};
    ChildProcess::Options launch;
    launch.inheritOutput = true;
    launch.detached = true;
    pluginStarted = pluginRunning = pluginProcess.Start(options.pluginPath, arguments, environment, launch);
    if (!pluginRunning) {
        std::cerr << "deck-sim: cannot start the plug-in " << options.pluginPath << "\n";
        return false;
    }
    const std::string product = options.host.ProductName();
    Tell(product + " started the plug-in (language " + deck->Language() + ")",
         {{"id", "pluginStarted"}, {"host", product}, {"language", deck->Language()}});
    return true;
}

void DeckSimulator::State::WatchChildren() {
    exitTimer.expires_after(kExitPoll);
    exitTimer.async_wait([this](const asio::error_code& error) {
        if (error) return;
        if (pluginRunning && !pluginProcess.Running()) {
            pluginRunning = false;
            OnPluginExit(pluginProcess.Wait(std::chrono::milliseconds(0)).value_or(1));
        }
        if (controllerRunning && !controllerProcess.Running()) {
            controllerRunning = false;
            OnControllerExit(controllerProcess.Wait(std::chrono::milliseconds(0)).value_or(1));
        }
        WatchChildren();
    });
}

// Ends the plug-in at once, as a crash would, and starts it again; with
// OpenDeck's replay the new one gets what was sent in between.
void DeckSimulator::State::RestartPlugin() {
    if (!pluginStarted) return;
    if (pluginConnected) {
        host->Close(plugin);
        pluginConnected = false;
        BroadcastPages({{"type", "plugin"}, {"connected", false}});
    }
    restartWanted = false;  // a gentle restart under way gives way to this one
    restartTimer.cancel();
    if (pluginRunning) {
        pluginProcess.Kill();
        pluginRunning = false;
        OnPluginExit(pluginProcess.Wait(std::chrono::milliseconds(0)).value_or(1), true);
    }
    if (!StartPlugin()) Tell("the plug-in could not be started", {{"id", "pluginNotStarted"}});
}

// Closes the plug-in's connection, as the host does when it quits, and
// starts the plug-in again once it has left (ending it if it lingers).
void DeckSimulator::State::RestartPluginGently() {
    if (!pluginStarted) return;  // it starts later with what it needs
    if (!pluginRunning) {
        if (!StartPlugin()) Tell("the plug-in could not be started", {{"id", "pluginNotStarted"}});
        return;
    }
    restartWanted = true;
    if (pluginConnected) {
        host->Close(plugin);
        pluginConnected = false;
        BroadcastPages({{"type", "plugin"}, {"connected", false}});
    }
    restartTimer.expires_after(kPluginGrace);
    restartTimer.async_wait([this](const asio::error_code& error) {
        if (error || !restartWanted || !pluginRunning) return;
        Tell("the plug-in did not end by itself; ending it", {{"id", "pluginLingered"}});
        pluginProcess.Kill();
    });
}

// The plug-in reads the host's language only from its -info, when it starts.
void DeckSimulator::State::ChangeLanguage(const std::string& language) {
    if (language == deck->Language()) return;
    if (!deck->SetLanguage(language)) {
        Tell("ignored a language the host does not offer: " + json(language.substr(0, 32)).dump());
        return;
    }
    BroadcastPages({{"type", "language"}, {"language", language}});
    Tell("language set to " + language + "; the plug-in reads it when it starts, so it starts again",
         {{"id", "languageSet"}, {"language", language}});
    RestartPluginGently();
}

void DeckSimulator::State::WaitForWake() {
    wakeSignals.async_wait([this](const asio::error_code& error, int) {
        if (error) return;
        Deliver(deck->SystemWokeUp());
        WaitForWake();
    });
}

// |ended|: the simulator ended it itself, to start it again.
void DeckSimulator::State::OnPluginExit(int status, bool ended) {
    exitCode = status == 0 ? 0 : 1;
    Say("deck-sim: the plug-in exited with status " + std::to_string(status));
    BroadcastPages({{"type", "plugin"}, {"connected", false}, {"exitStatus", status}});
    if (ended) {
        Tell("the plug-in was ended for its restart", {{"id", "pluginEnded"}});
    } else if (status == 0) {
        Tell("the plug-in closed normally", {{"id", "pluginClosed"}});
    } else {
        Tell("the plug-in stopped unexpectedly (exit status " + std::to_string(status) + ")",
             {{"id", "pluginFailed"}, {"status", status}});
    }
    if (shuttingDown) return StopController();
    if (!restartWanted) return;
    restartWanted = false;
    restartTimer.cancel();
    if (!StartPlugin()) Tell("the plug-in could not be started", {{"id", "pluginNotStarted"}});
}

void DeckSimulator::State::OnControllerExit(int status) {
    SetController("running", false);
    SetController("linked", false);
    if (shuttingDown) return Finish();
    Say("deck-sim: controller-sim ended with status " + std::to_string(status));
    if (status == 0) {
        Tell("Kestrel has closed", {{"id", "kestrelClosed"}});
    } else {
        Tell("Kestrel stopped unexpectedly (exit status " + std::to_string(status) + ")",
             {{"id", "kestrelFailed"}, {"status", status}});
    }
}

void DeckSimulator::State::Announce(const std::string& note) {
    if (announced) return;
    announced = true;
    readyTimer.cancel();
    if (!note.empty()) Say("deck-sim: " + note);
    Say("Open http://127.0.0.1:" + std::to_string(httpPort) + "/");
}

// ---- traffic

void DeckSimulator::State::Send(Server& server, Handle handle, const json& message) {
    websocketpp::lib::error_code ignored;
    server.send(handle, message.dump(), websocketpp::frame::opcode::text, ignored);
}

void DeckSimulator::State::BroadcastPages(const json& message) {
    std::string type = message.value("type", "");
    if (type == "log" || type == "controllerMessage") {
        history.push_back(message);
        if (history.size() > kHistoryLines) history.pop_front();
    }
    for (const Handle& page : pages) Send(web, page, message);
}

void DeckSimulator::State::Tell(const std::string& words, const json& say) {
    BroadcastPages(Outbox::PageLog("host", words, say));
}

// Follows a press of a plug-in key to the controller simulator, whose
// traffic shows whether its command went out.
void DeckSimulator::State::FollowPress(size_t index, bool down) {
    if (!controller["available"].get<bool>() || index >= deck->Keys().size()) return;
    if (!down) {
        presses.Released(index, std::chrono::steady_clock::now());
        return WaitForVerdicts();
    }
    const DeckKey& key = deck->Keys()[index];
    PressSituation situation;
    situation.pluginConnected = pluginConnected;
    situation.controllerRunning = controller["running"].get<bool>();
    situation.controllerLinked = controller["linked"].get<bool>();
    situation.signedIn = controller["signedIn"].get<bool>();
    situation.supported = controller["supported"].get<bool>();
    situation.holdToConfirm =
        key.settings.is_object() && key.settings.value("hold_to_confirm", json()) == true;
    presses.Pressed(index, key.action.uuid, situation);
}

void DeckSimulator::State::WaitForVerdicts() {
    std::optional<std::chrono::steady_clock::time_point> due = presses.NextDue();
    if (!due) return;
    verdictTimer.expires_at(*due);
    verdictTimer.async_wait([this](const asio::error_code& error) {
        if (error || shuttingDown) return;
        for (const PressOutcomes::NotSent& press : presses.TakeDue(std::chrono::steady_clock::now())) {
            const ActionEntry& action = deck->Keys()[press.key].action;
            Tell(action.name + ": not sent because " + PressOutcomes::Words(press.reason),
                 {{"id", "notSent"},
                  {"name", action.name},
                  {"action", action.uuid},
                  {"reason", PressOutcomes::Name(press.reason)}});
        }
        WaitForVerdicts();
    });
}

void DeckSimulator::State::SendToPlugin(const json& message) {
    if (pluginConnected) return host->Send(plugin, message.dump());
    if (!options.host.ReplaysUndelivered()) return;
    if (undelivered.size() == kUndeliveredLimit) {
        undelivered.erase(undelivered.begin());
        BroadcastPages(
            {{"type", "log"}, {"kind", "host"}, {"text", "dropped the oldest undelivered message"}});
    }
    undelivered.push_back(message);
}

void DeckSimulator::State::Deliver(Outbox out) {
    for (const json& message : out.toPlugin) SendToPlugin(message);
    for (const StepPress& press : out.later) SendLater(press);
    if (inspectorConnected) {
        for (const json& message : out.toInspector) host->Send(inspector, message.dump());
    }
    for (json& message : out.toPage) {
        // The inspector connects to the host endpoint, whose port only the server knows.
        if (message.value("type", "") == "inspector") message["port"] = hostPort;
        BroadcastPages(message);
    }
}

// A composite key's step press: the event is made when its time comes.
void DeckSimulator::State::SendLater(const StepPress& press) {
    auto timer = std::make_shared<asio::steady_timer>(io, press.after);
    timer->async_wait([this, timer, press](const asio::error_code& error) {
        if (!error && !shuttingDown) Deliver(deck->StepEvent(press.context, press.down));
    });
}

void DeckSimulator::State::OnHostMessage(ConnectionId connection, const std::string& text) {
    json message = json::parse(text, nullptr, false);
    if (pluginConnected && connection == plugin) {
        Deliver(deck->FromPlugin(message));
    } else if (inspectorConnected && connection == inspector) {
        Deliver(deck->FromInspector(message));
    } else if (pending.count(connection)) {
        OnHostRegistration(connection, message);
    }
}

void DeckSimulator::State::OnHostRegistration(ConnectionId connection, const json& message) {
    pending.erase(connection);
    if (message.is_object() && message.value("event", json()) == "registerPlugin" && !pluginConnected) {
        bool accepted = false;
        Outbox out = deck->RegisterPlugin(message, accepted);
        if (accepted) {
            plugin = connection;
            pluginConnected = true;
        }
        Deliver(std::move(out));
        if (accepted) {
            // What could not be delivered before, in its order, after the keys have appeared.
            for (const json& kept : undelivered) host->Send(plugin, kept.dump());
            undelivered.clear();
            Announce("plug-in registered");
        }
        return;
    }
    if (deck->RegisterInspector(message)) {
        if (inspectorConnected) host->Close(inspector);
        inspector = connection;
        inspectorConnected = true;
        Deliver(deck->InspectorAppeared());
        return;
    }
    host->Close(connection);  // neither the plug-in nor the open inspector
}

void DeckSimulator::State::OnHostClose(ConnectionId connection) {
    pending.erase(connection);
    if (pluginConnected && connection == plugin) {
        pluginConnected = false;
        BroadcastPages({{"type", "plugin"}, {"connected", false}});
    } else if (inspectorConnected && connection == inspector) {
        inspectorConnected = false;
        Deliver(deck->InspectorGone());
    }
}

void DeckSimulator::State::OnPageOpen(Handle handle) {
    pages.insert(handle);
    json snapshot = deck->Snapshot(pluginConnected);
    snapshot["controller"] = controller;
    Send(web, handle, snapshot);
    for (const json& line : history) Send(web, handle, line);
}

void DeckSimulator::State::OnPageMessage(const std::string& text) {
    json message = json::parse(text, nullptr, false);
    if (!message.is_object() || shuttingDown) return;
    std::string type = message.value("type", "");
    const json& index = message.contains("index") ? message["index"] : json();
    if ((type == "keyDown" || type == "keyUp") && index.is_number_unsigned()) {
        const size_t key = index.get<size_t>();
        Deliver(type == "keyDown" ? deck->KeyDown(key) : deck->KeyUp(key));
        FollowPress(key, type == "keyDown");
    } else if (type == "inspect") {
        SelectInspector(message);
    } else if (message.contains("composite") && message["composite"].is_number_unsigned()) {
        OnPageCompositeMessage(type, message["composite"].get<size_t>(), message);
    } else if (type == "ownIcon" && index.is_number_unsigned() && message.contains("state") &&
               message["state"].is_number_integer()) {
        std::string image =
            message.value("image", json()).is_string() ? message["image"].get<std::string>() : "";
        Deliver(deck->SetOwnIcon(index.get<size_t>(),
                                 std::clamp(message["state"].get<int64_t>(), int64_t(-1), int64_t(2)),
                                 image));
    } else if (message.contains("dial") && message["dial"].is_number_unsigned()) {
        OnPageDialMessage(type, message["dial"].get<size_t>(), message);
    } else if (type == "wake") {
        Deliver(deck->SystemWokeUp());
    } else if (type == "restart") {
        Tell("you restarted the plug-in: it is ended at once, as in a crash, and started again",
             {{"id", "restartAsked"}});
        RestartPlugin();
    } else if (type == "language" && message.value("language", json()).is_string()) {
        ChangeLanguage(message["language"].get<std::string>());
    } else if (type == "controller" && message.contains("command") && message["command"].is_string()) {
        ControllerCommand(message["command"].get<std::string>());
    } else if (type == "quit") {
        BeginShutdown();
    }
}

// The page's ⚙ of a key ("index") or of a dial ("dial"); anything else closes the inspector.
void DeckSimulator::State::SelectInspector(const json& message) {
    CloseInspector();
    auto number = [&message](const char* key) -> std::optional<size_t> {
        auto found = message.find(key);
        if (found == message.end() || !found->is_number_unsigned()) return std::nullopt;
        return found->get<size_t>();
    };
    if (auto dial = number("dial")) return Deliver(deck->SelectDialInspector(*dial));
    auto composite = number("composite");
    auto step = number("step");
    if (composite && step) return Deliver(deck->SelectStepInspector(*composite, *step));
    Deliver(deck->SelectInspector(number("index")));
}

void DeckSimulator::State::CloseInspector() {
    if (inspectorConnected) host->Close(inspector);
    inspectorConnected = false;
}

// The page's dial controls; values it gets wrong are left out, not guessed.
void DeckSimulator::State::OnPageDialMessage(const std::string& type, size_t dial, const json& message) {
    // Whole numbers only, held to a range that no control of the page exceeds.
    auto integer = [&message](const char* key) -> std::optional<int> {
        auto found = message.find(key);
        if (found == message.end() || !found->is_number_integer()) return std::nullopt;
        return static_cast<int>(std::clamp<int64_t>(found->get<int64_t>(), -1000, 1000));
    };
    auto flag = [&message](const char* key) { return message.value(key, json()) == true; };
    if (type == "placeDial") {
        std::string action =
            message.value("action", json()).is_string() ? message["action"].get<std::string>() : "";
        std::string context = options.host.KeyContext(VirtualDeck::kDeviceId, dial, RandomHex(32), "Encoder");
        Deliver(deck->PlaceOnDial(dial, action, context));
        // A dial's page goes with the action it showed.
        if (!deck->InspectorSelected()) CloseInspector();
    } else if (type == "dialRotate" && integer("ticks")) {
        Deliver(deck->DialRotate(dial, std::clamp(*integer("ticks"), -100, 100), flag("pressed")));
    } else if (type == "dialDown" || type == "dialUp") {
        Deliver(deck->DialPush(dial, type == "dialDown"));
    } else if (type == "touchTap" && integer("x") && integer("y")) {
        Deliver(deck->TouchTap(dial, *integer("x"), *integer("y"), flag("hold")));
    }
}

// The page's composite keys: a press, and the editing of their steps.
void DeckSimulator::State::OnPageCompositeMessage(const std::string& type, size_t composite,
                                                  const json& message) {
    // A plain index and a flag: an optional here trips GCC's maybe-uninitialized at -O1.
    const bool hasStep = message.contains("step") && message["step"].is_number_unsigned();
    const size_t step = hasStep ? message["step"].get<size_t>() : 0;
    if (type == "compositePress") {
        // A run goes to its end before the key runs again, as on the device.
        auto now = std::chrono::steady_clock::now();
        auto running = runningUntil.find(composite);
        if (running != runningUntil.end() && running->second > now) {
            BroadcastPages({{"type", "log"}, {"kind", "host"}, {"text", "still running the last press"}});
            return;
        }
        Outbox out = deck->PressComposite(composite);
        std::chrono::milliseconds last{0};
        for (const StepPress& press : out.later) last = std::max(last, press.after);
        runningUntil[composite] = now + last;
        Deliver(std::move(out));
    } else if (type == "compositeAdd" && message.value("action", json()).is_string()) {
        Deliver(deck->AddStep(composite, message["action"].get<std::string>(), RandomHex(32)));
    } else if (type == "compositeRemove" && hasStep) {
        Deliver(deck->RemoveStep(composite, step));
        if (!deck->InspectorSelected()) CloseInspector();
    } else if (type == "compositePick" && hasStep && message.value("state", json()).is_number_integer()) {
        int state = static_cast<int>(std::clamp(message["state"].get<int64_t>(), int64_t(-1), int64_t(2)));
        Deliver(deck->PickStepState(composite, step, state));
    }
}

void DeckSimulator::State::ServeHttp(Handle handle) {
    auto connection = web.get_con_from_hdl(handle);
    std::string resource = connection->get_resource();
    const std::string method = connection->get_request().get_method();
    std::optional<std::string> file;
    if (method == "GET" || method == "HEAD") {
        file = resource.rfind("/plugin/", 0) == 0 ? pluginFiles.Resolve(resource.substr(7))
                                                  : webFiles.Resolve(resource);
    }
    std::optional<std::string> body = file ? StaticFiles::Read(*file) : std::nullopt;
    connection->append_header("Cache-Control", "no-store");
    if (!body) {
        connection->set_status(websocketpp::http::status_code::not_found);
        connection->set_body("not found\n");
        return;
    }
    connection->set_status(websocketpp::http::status_code::ok);
    connection->append_header("Content-Type", StaticFiles::ContentType(*file));
    connection->set_body(method == "HEAD" ? std::string() : *body);
}

// ---- controller simulator

void DeckSimulator::State::SetController(const char* key, bool value) {
    if (controller[key] == value) return;
    controller[key] = value;
    BroadcastPages({{"type", "controller"}, {"controller", controller}});
}

void DeckSimulator::State::OnControllerLine(const std::string& line) {
    Say("controller-sim: " + line);
    if (line.rfind('{', 0) == 0) {
        json message = json::parse(line, nullptr, false);
        BroadcastPages({{"type", "controllerMessage"}, {"message", message}});
        std::string command = CommandName(message);
        if (!command.empty()) presses.CommandReceived(command);
        return;
    }
    if (line.rfind("listening ", 0) == 0) {
        SetController("running", true);
        Tell("Kestrel is running", {{"id", "kestrelRunning"}});
        if (!pluginStarted && !StartPlugin()) {
            Announce("the plug-in could not be started");
        }
    } else if (line == "connected" || line == "disconnected") {
        SetController("linked", line == "connected");
        if (line == "connected") {
            Tell("the plug-in connected to Kestrel", {{"id", "linked"}});
        } else {
            Tell("the plug-in lost its connection to Kestrel", {{"id", "unlinked"}});
        }
    } else {
        BroadcastPages({{"type", "log"}, {"kind", "controller"}, {"text", "controller-sim: " + line}});
    }
}

void DeckSimulator::State::ControllerCommand(const std::string& command) {
    if (!controller["available"].get<bool>()) return;
    // Each control the page offers while it can act is listed as the user's doing.
    if (controllerRunning != (command == "start")) {
        for (const PanelAction& action : kPanelActions)
            if (command == action.command) Tell(action.words, {{"id", action.id}});
    }
    if (command == "start") {
        if (!controllerRunning) StartController();
        return;
    }
    if (command == "stop") {
        controllerProcess.WriteInput("quit\n");
        return;
    }
    if (!controllerRunning) return;
    for (const std::string& line :
         ControllerLines(command, deck->Keys(), controller["supported"].get<bool>()))
        controllerProcess.WriteInput(line + "\n");
    if (command == "signin" || command == "signout") SetController("signedIn", command == "signin");
    if (command == "support-on" || command == "support-off")
        SetController("supported", command == "support-on");
}

// ---- shutdown: the plug-in first (the host closes its connection and, if it
// lingers, ends it), then the controller simulator, then the endpoints.

void DeckSimulator::State::CloseConnection(Server& server, Handle handle) {
    websocketpp::lib::error_code ignored;
    server.close(handle, websocketpp::close::status::normal, "closing", ignored);
}

void DeckSimulator::State::BeginShutdown() {
    if (shuttingDown) {
        // A second Ctrl-C: no more waiting.
        pluginProcess.Kill();
        controllerProcess.Kill();
        io.stop();
        return;
    }
    Tell("the simulator is quitting", {{"id", "quitting"}});
    shuttingDown = true;
    Say("deck-sim: quitting");
    BroadcastPages({{"type", "bye"}});
    if (inspectorConnected) host->Close(inspector);
    if (pluginConnected) host->Close(plugin);
    for (ConnectionId connection : pending) host->Close(connection);
    if (!pluginRunning) return StopController();
    graceTimer.expires_after(kPluginGrace);
    graceTimer.async_wait([this](const asio::error_code& error) {
        if (error || !pluginRunning) return;
        Say("deck-sim: the plug-in did not end by itself; ending it");
        pluginProcess.Kill();
    });
}

void DeckSimulator::State::StopController() {
    graceTimer.cancel();
    if (!controllerRunning) return Finish();
    controllerProcess.WriteInput("quit\n");
    graceTimer.expires_after(kControllerGrace);
    graceTimer.async_wait([this](const asio::error_code& error) {
        if (!error && controllerRunning) controllerProcess.Kill();
    });
}

void DeckSimulator::State::Finish() {
    graceTimer.cancel();
    readyTimer.cancel();
    exitTimer.cancel();
    restartTimer.cancel();
    verdictTimer.cancel();
    signals.cancel();
    wakeSignals.cancel();
    host->StopListening();
    websocketpp::lib::error_code ignored;
    web.stop_listening(ignored);
    for (const Handle& page : pages) CloseConnection(web, page);
    // Let the close frames go out, then end the loop.
    graceTimer.expires_after(std::chrono::milliseconds(100));
    graceTimer.async_wait([this](const asio::error_code&) { io.stop(); });
}

// ---- public

DeckSimulator::DeckSimulator(DeckSimOptions options) : m_state(std::make_unique<State>(std::move(options))) {}

DeckSimulator::~DeckSimulator() = default;

int DeckSimulator::Run() {
    State& state = *m_state;
    state.BuildDeck();
    state.SetUpHost();
    state.SetUpWeb();
    if (!state.ListenHost() || !state.Listen(state.web, state.options.httpPort, state.httpPort)) return 2;
    Say(std::string("deck-sim: ") + state.options.host.ProductName() +
        " host on ws://127.0.0.1:" + std::to_string(state.hostPort) + " with a " + state.options.device.name);
    state.signals.async_wait([&state](const asio::error_code& error, int) {
        if (error) return;
        state.BeginShutdown();
        state.signals.async_wait([&state](const asio::error_code& again, int) {
            if (!again) state.BeginShutdown();
        });
    });

    state.WaitForWake();
    state.WatchChildren();
    if (!state.options.controllerSimPath.empty()) {
        if (!state.StartController()) return 2;  // the plug-in starts once it listens
    } else if (!state.StartPlugin()) {
        return 2;
    }
    state.readyTimer.expires_after(kReadyAtLatest);
    state.readyTimer.async_wait([&state](const asio::error_code& error) {
        if (!error) state.Announce("the plug-in has not registered yet");
    });
    state.io.run();
    return state.exitCode;
}
