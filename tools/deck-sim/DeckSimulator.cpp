#include "DeckSimulator.h"

#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>
#include <websocketpp/config/asio_no_tls.hpp>
#include <websocketpp/server.hpp>

#include <unistd.h>
#include <cstdio>
#include <deque>
#include <iostream>
#include <map>
#include <random>
#include <set>

#include "ActionTable.h"
#include "SimChildProcess.h"
#include "StaticFiles.h"
#include "Version.h"
#include "VirtualDeck.h"

using nlohmann::json;
using Server = websocketpp::server<websocketpp::config::asio>;
using Handle = websocketpp::connection_hdl;
using HandleSet = std::set<Handle, std::owner_less<Handle>>;

namespace {

constexpr auto kPluginGrace = std::chrono::seconds(5);
constexpr auto kControllerGrace = std::chrono::seconds(2);
constexpr auto kReadyAtLatest = std::chrono::seconds(10);
constexpr size_t kHistoryLines = 60;

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

// The controller simulator's controls that the page may use, as stdin lines.
std::vector<std::string> ControllerLines(const std::string& command, const std::vector<DeckKey>& keys) {
    if (command == "signin" || command == "signout" || command == "drop") return {command};
    if (command == "support-on" || command == "support-off") {
        std::vector<std::string> lines;
        for (const DeckKey& key : keys) {
            lines.push_back("support " + key.action.uuid + (command == "support-on" ? " on" : " off"));
        }
        return lines;
    }
    return {};
}

}  // namespace

struct DeckSimulator::State {
    explicit State(DeckSimOptions given)
        : options(std::move(given)),
          webFiles(this->options.webFolder),
          pluginFiles(this->options.pluginFolder),
          signals(io, SIGINT, SIGTERM),
          pluginProcess(io),
          controllerProcess(io),
          graceTimer(io),
          readyTimer(io) {}

    DeckSimOptions options;
    asio::io_context io;
    Server host;  // the Stream Deck application's endpoint
    Server web;   // the page
    int hostPort = 0;
    int httpPort = 0;
    StaticFiles webFiles;
    StaticFiles pluginFiles;
    std::unique_ptr<VirtualDeck> deck;
    asio::signal_set signals;

    SimChildProcess pluginProcess;
    SimChildProcess controllerProcess;
    std::string pipeName;
    asio::steady_timer graceTimer;
    asio::steady_timer readyTimer;
    bool announced = false;
    bool shuttingDown = false;
    int exitCode = 1;

    Handle plugin;  // the registered plug-in connection
    bool pluginConnected = false;
    Handle inspector;  // the registered inspector connection
    bool inspectorConnected = false;
    HandleSet pending;  // host connections that have not registered yet
    HandleSet pages;
    std::deque<json> history;  // the latest activity lines, for pages that connect later

    // What the page shows about the controller simulator.
    json controller = {{"available", false},
                       {"running", false},
                       {"linked", false},
                       {"signedIn", false},
                       {"supported", true}};

    // ---- set-up
    bool Listen(Server& server, int port, int& boundPort);
    void SetUpHost();
    void SetUpWeb();
    void BuildDeck();
    bool StartController();
    bool StartPlugin();
    void Announce(const std::string& note);

    // ---- traffic
    void Deliver(Outbox out);
    void Send(Server& server, Handle handle, const json& message);
    void BroadcastPages(const json& message);
    void OnHostMessage(Handle handle, const std::string& text);
    void OnHostRegistration(Handle handle, const json& message);
    void OnHostClose(Handle handle);
    void OnPageMessage(const std::string& text);
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
    host.set_validate_handler(
        [this](Handle handle) { return AllowedOrigin(host.get_con_from_hdl(handle)->get_origin()); });
    host.set_open_handler([this](Handle handle) { pending.insert(handle); });
    host.set_close_handler([this](Handle handle) { OnHostClose(handle); });
    host.set_fail_handler([this](Handle handle) { pending.erase(handle); });
    host.set_message_handler([this](Handle handle, Server::message_ptr message) {
        if (message->get_opcode() == websocketpp::frame::opcode::text)
            OnHostMessage(handle, message->get_payload());
    });
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
    if (!actions.LoadManifest(options.pluginFolder)) {
        Say("deck-sim: no manifest.json in " + options.pluginFolder +
            "; built-in action names, no inspectors");
    }
    std::vector<std::string> contexts;
    for (size_t i = 0; i < actions.Entries().size(); ++i) contexts.push_back(RandomHex(32));
    deck = std::make_unique<VirtualDeck>(actions.Entries(), contexts, RandomHex(32), kPluginVersion);
}

bool DeckSimulator::State::StartController() {
    // One private name for the whole run: the plug-in keeps it across restarts
    // of the controller simulator.
    if (pipeName.empty()) pipeName = "KestrelDeckSim-" + std::to_string(getpid()) + "-" + RandomHex(8);
    bool started = controllerProcess.Start(
        options.controllerSimPath, {"--pipe", pipeName}, {},
        [this](const std::string& line) { OnControllerLine(line); },
        [this](int status) {
            SetController("running", false);
            SetController("linked", false);
            if (shuttingDown) return Finish();
            Say("deck-sim: controller-sim ended with status " + std::to_string(status));
        });
    if (!started) {
        std::cerr << "deck-sim: cannot start " << options.controllerSimPath << "\n";
        return false;
    }
    controller["available"] = true;
    SetController("signedIn", false);  // a fresh controller starts signed out, everything supported
    SetController("supported", true);
    return true;
}

bool DeckSimulator::State::StartPlugin() {
    std::map<std::string, std::string> environment;
    if (!pipeName.empty()) environment["KESTREL_CONTROLLER_PIPE"] = pipeName;
    std::vector<std::string> arguments = {
        "-port",          std::to_string(hostPort), "-pluginUUID", deck->PluginUUID(),
        "-registerEvent", "registerPlugin",         "-info",       deck->InfoDocument().dump()};
    bool started =
        pluginProcess.Start(options.pluginPath, arguments, environment, nullptr, [this](int status) {
            exitCode = status == 0 ? 0 : 1;
            Say("deck-sim: the plug-in exited with status " + std::to_string(status));
            BroadcastPages({{"type", "plugin"}, {"connected", false}, {"exitStatus", status}});
            if (shuttingDown) StopController();
        });
    if (!started) std::cerr << "deck-sim: cannot start the plug-in " << options.pluginPath << "\n";
    return started;
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

void DeckSimulator::State::Deliver(Outbox out) {
    if (pluginConnected) {
        for (const json& message : out.toPlugin) Send(host, plugin, message);
    }
    if (inspectorConnected) {
        for (const json& message : out.toInspector) Send(host, inspector, message);
    }
    for (json& message : out.toPage) {
        // The inspector connects to the host endpoint, whose port only the server knows.
        if (message.value("type", "") == "inspector") message["port"] = hostPort;
        BroadcastPages(message);
    }
}

void DeckSimulator::State::OnHostMessage(Handle handle, const std::string& text) {
    json message = json::parse(text, nullptr, false);
    if (pluginConnected && !plugin.owner_before(handle) && !handle.owner_before(plugin)) {
        Deliver(deck->FromPlugin(message));
    } else if (inspectorConnected && !inspector.owner_before(handle) && !handle.owner_before(inspector)) {
        Deliver(deck->FromInspector(message));
    } else if (pending.count(handle)) {
        OnHostRegistration(handle, message);
    }
}

void DeckSimulator::State::OnHostRegistration(Handle handle, const json& message) {
    pending.erase(handle);
    if (message.is_object() && message.value("event", json()) == "registerPlugin" && !pluginConnected) {
        bool accepted = false;
        Outbox out = deck->RegisterPlugin(message, accepted);
        if (accepted) {
            plugin = handle;
            pluginConnected = true;
        }
        Deliver(std::move(out));
        if (accepted) Announce("plug-in registered");
        return;
    }
    if (deck->RegisterInspector(message)) {
        if (inspectorConnected) CloseConnection(host, inspector);
        inspector = handle;
        inspectorConnected = true;
        Deliver(deck->InspectorAppeared());
        return;
    }
    CloseConnection(host, handle);  // neither the plug-in nor the open inspector
}

void DeckSimulator::State::OnHostClose(Handle handle) {
    pending.erase(handle);
    auto same = [&handle](const Handle& other) {
        return !other.owner_before(handle) && !handle.owner_before(other);
    };
    if (pluginConnected && same(plugin)) {
        pluginConnected = false;
        BroadcastPages({{"type", "plugin"}, {"connected", false}});
    } else if (inspectorConnected && same(inspector)) {
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
        Deliver(type == "keyDown" ? deck->KeyDown(index.get<size_t>()) : deck->KeyUp(index.get<size_t>()));
    } else if (type == "inspect") {
        if (inspectorConnected) CloseConnection(host, inspector);
        inspectorConnected = false;
        Deliver(deck->SelectInspector(index.is_number_unsigned() ? std::optional<size_t>(index.get<size_t>())
                                                                 : std::nullopt));
    } else if (type == "controller" && message.contains("command") && message["command"].is_string()) {
        ControllerCommand(message["command"].get<std::string>());
    } else if (type == "quit") {
        BeginShutdown();
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
        return;
    }
    if (line.rfind("listening ", 0) == 0) {
        SetController("running", true);
        if (!pluginProcess.Running() && !pluginProcess.ExitStatus() && !StartPlugin()) {
            Announce("the plug-in could not be started");
        }
    } else if (line == "connected" || line == "disconnected") {
        SetController("linked", line == "connected");
    } else {
        BroadcastPages({{"type", "log"}, {"kind", "controller"}, {"text", "controller-sim: " + line}});
    }
}

void DeckSimulator::State::ControllerCommand(const std::string& command) {
    if (!controller["available"].get<bool>()) return;
    if (command == "start") {
        if (!controllerProcess.Running()) StartController();
        return;
    }
    if (command == "stop") {
        controllerProcess.WriteLine("quit");
        return;
    }
    if (!controllerProcess.Running()) return;
    for (const std::string& line : ControllerLines(command, deck->Keys())) controllerProcess.WriteLine(line);
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
    shuttingDown = true;
    Say("deck-sim: quitting");
    BroadcastPages({{"type", "bye"}});
    if (inspectorConnected) CloseConnection(host, inspector);
    if (pluginConnected) CloseConnection(host, plugin);
    for (const Handle& handle : pending) CloseConnection(host, handle);
    if (!pluginProcess.Running()) return StopController();
    graceTimer.expires_after(kPluginGrace);
    graceTimer.async_wait([this](const asio::error_code& error) {
        if (error || !pluginProcess.Running()) return;
        Say("deck-sim: the plug-in did not end by itself; ending it");
        pluginProcess.Kill();
    });
}

void DeckSimulator::State::StopController() {
    graceTimer.cancel();
    if (!controllerProcess.Running()) return Finish();
    controllerProcess.WriteLine("quit");
    graceTimer.expires_after(kControllerGrace);
    graceTimer.async_wait([this](const asio::error_code& error) {
        if (!error && controllerProcess.Running()) controllerProcess.Kill();
    });
}

void DeckSimulator::State::Finish() {
    graceTimer.cancel();
    readyTimer.cancel();
    signals.cancel();
    websocketpp::lib::error_code ignored;
    host.stop_listening(ignored);
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
    if (!state.Listen(state.host, state.options.hostPort, state.hostPort) ||
        !state.Listen(state.web, state.options.httpPort, state.httpPort)) {
        return 2;
    }
    Say("deck-sim: Stream Deck host on ws://127.0.0.1:" + std::to_string(state.hostPort));
    state.signals.async_wait([&state](const asio::error_code& error, int) {
        if (error) return;
        state.BeginShutdown();
        state.signals.async_wait([&state](const asio::error_code& again, int) {
            if (!again) state.BeginShutdown();
        });
    });

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
