#pragma once
// The plug-in's only link to the Stream Deck application (the host): a
// WebSocket client of ws://127.0.0.1:<port> that registers the plug-in, turns
// each host message into a call on ESDBasePlugin (routed by HostEventTable),
// and sends the host commands.
//
// Threads: Run() and therefore every ESDBasePlugin call run on the thread that
// calls Run (the event-loop thread), one message at a time. The send
// operations may be called from any thread: they put the command into our
// outgoing queue (guarded by the transport's mutex) and post a drain to the
// event-loop thread, which alone hands commands to the WebSocket library and
// reads how much it holds unsent. When the host stops reading and more than
// kSendBufferLimit bytes wait there, commands wait in our queue instead,
// where a newer setImage of a context replaces its older unsent one (every
// other command is kept, in order), and a short timer retries while that
// backlog lasts; nothing wakes while idle. Commands sent while the link is not
// open are dropped.

#include <cstddef>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

class ESDBasePlugin;

class ESDConnectionManager {
public:
    // Bytes that may wait unsent in the WebSocket library before further
    // commands are held back in our own queue.
    static constexpr size_t kSendBufferLimit = 2 * 1024 * 1024;
    // Up to this many bytes in our queue, every command is sent as it came;
    // beyond it (or while the library holds back), a newer image of a key
    // replaces its older unsent one.
    static constexpr size_t kUnmergedQueueLimit = 256 * 1024;

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
    // Runs on the event-loop thread once the registration has been sent; set
    // once before Run.
    void SetRegisteredHandler(std::function<void()> handler);

    // Connects, registers and runs the event loop until the connection fails or
    // closes. Called once.
    void Run();

    // Handles one text message from the host: the trace line, then parse and
    // route it to the plug-in. Text that is not JSON or is nested deeper than
    // BoundedJson allows is dropped with one warning line. Never raises.
    void HandleMessageText(const std::string& text);

    void SetTitle(const std::string& title, const std::string& context);
    // A "setTitle" without a title: the host shows the user's own title again.
    void ResetTitle(const std::string& context);
    void SetImage(const std::string& image, const std::string& context);
    // A "setImage" without an image: the host shows the manifest's or the
    // user's own icon of the key's current state again.
    void ClearImage(const std::string& context);
    // The host's state of a key whose action declares two states (0 or 1).
    void SetState(int state, const std::string& context);
    void SetSettings(const nlohmann::json& settings, const std::string& context);
    void GetSettings(const std::string& context);
    // Asks for the plug-in's global settings (one set for the whole plug-in);
    // the host answers with "didReceiveGlobalSettings".
    void GetGlobalSettings();
    void SendToPropertyInspector(const nlohmann::json& payload, const std::string& context);
    // The touch strip of a dial: |payload| maps the layout's item keys to
    // values (a text, or an object such as {"value": 70, "opacity": 0.5}).
    void SetFeedback(const nlohmann::json& payload, const std::string& context);
    // A built-in layout such as "$B1", or a layout file of the plug-in folder.
    void SetFeedbackLayout(const std::string& layout, const std::string& context);
    // What the dial's "rotate", "push", "touch" and "longTouch" do, as shown by the host.
    void SetTriggerDescription(const nlohmann::json& descriptions, const std::string& context);
    // The host briefly marks the context (a key, or a dial's strip) as failed.
    void ShowAlert(const std::string& context);
    // The host briefly marks the context as done.
    void ShowOk(const std::string& context);

    // Bytes of the commands waiting in our own queue (not yet handed to the
    // WebSocket library); for tests and diagnostics.
    size_t QueuedBytes() const;

private:
    struct Transport;

    // Serialises |command| and sends it; |imageContext| names the context of
    // a setImage, which a later image of that context may replace unsent.
    void SendCommand(const nlohmann::json& command, const std::string& imageContext = "");
    // Sends a serialised command.
    void SendText(std::string text, const std::string& imageContext);
    // Event-loop thread: hands queued commands to the WebSocket library while
    // it holds less than kSendBufferLimit bytes; retries later otherwise.
    void DrainQueue();
    // Event-loop thread, transport's mutex held: drains again shortly.
    void ArmRetry();
    void ClearQueue();
    // Hands |message| to the plug-in operation that HostEventTable names for it.
    void Route(const nlohmann::json& message);

    int m_port = 0;
    std::string m_pluginUUID;
    std::string m_registerEvent;
    ESDBasePlugin* m_plugin = nullptr;
    std::function<void()> m_registered;
    OutgoingSink m_sink;
    std::unique_ptr<Transport> m_transport;
};
