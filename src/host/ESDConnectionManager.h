#pragma once
// The plug-in's only link to the Stream Deck application (the host): a
// WebSocket client of ws://localhost:<port> that registers the plug-in, turns
// each host message into a call on ESDBasePlugin, and sends the host commands.
//
// Threads: Run() and therefore every ESDBasePlugin call run on the thread that
// calls Run (the event-loop thread), one message at a time. The send
// operations may be called from any thread. There is no lock of our own: the
// connection handle is written in Run before the open flag is raised and is
// never changed afterwards; a send reads the handle only while the flag is
// set, and the WebSocket library queues the message under its own lock for
// the event-loop thread. Commands sent while the link is not open are dropped.

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

class ESDBasePlugin;

class ESDConnectionManager {
public:
    using OutgoingSink = std::function<void(const std::string& text)>;

    ESDConnectionManager(int port, const std::string& pluginUUID, const std::string& registerEvent);
    // A connection manager without a socket: commands are built exactly as for
    // the host and handed to |sink| on the calling thread. Used by tests and
    // tools that drive the plug-in in-process.
    explicit ESDConnectionManager(OutgoingSink sink);
    ~ESDConnectionManager();

    ESDConnectionManager(const ESDConnectionManager&) = delete;
    ESDConnectionManager& operator=(const ESDConnectionManager&) = delete;

    // Receives the host's events; set once before Run.
    void SetPlugin(ESDBasePlugin* plugin);

    // Connects, registers and runs the event loop until the connection fails or
    // closes. Called once.
    void Run();

    // Handles one text message from the host: the trace line, then parse and
    // route it to the plug-in. Never raises.
    void HandleMessageText(const std::string& text);

    void SetTitle(const std::string& title, const std::string& context);
    void SetImage(const std::string& image, const std::string& context);
    void SetSettings(const nlohmann::json& settings, const std::string& context);
    void GetSettings(const std::string& context);
    void SendToPropertyInspector(const nlohmann::json& payload, const std::string& context);

private:
    struct Transport;

    void SendCommand(const nlohmann::json& command);
    void Route(const nlohmann::json& message);

    int m_port = 0;
    std::string m_pluginUUID;
    std::string m_registerEvent;
    ESDBasePlugin* m_plugin = nullptr;
    OutgoingSink m_sink;
    std::unique_ptr<Transport> m_transport;
};
