#pragma once
// A fully built plug-in for the fuzz targets, made once per process: the
// real MyStreamDeckPlugin (as KeyNotingPlugin, which notes the keys an input
// shows) with every element of the catalogue, answering the
// host through a connection manager without a socket, and linked to the
// controller server through FuzzTransport, an in-process link that is always
// up. Received controller messages are delivered the way the pipe client
// delivers them. The element timer is stopped once the plug-in is built; its
// work runs inline (Tick), and the controller client has no threads of its
// own (it writes a key press's command before the press returns), so an
// input's messages, commands and ticks run on the fuzzer's thread alone,
// without sleeps or hand-offs.
//
// Every command the plug-in sends is checked on the spot: a host command must
// be a JSON object with a string "event" and "context" (a "setImage" one a PNG
// data URL), a controller command a command document. After each input the
// keys it showed are taken off again, and then no element may keep a record
// of any key. A violation aborts, so the fuzzer keeps the input.
//
// Threads: the fuzzer's thread alone, also for the controller client's
// writes and completions.

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "KeyNotingPlugin.h"
#include "controller/NetworkClientBase.h"
#include "host/ESDConnectionManager.h"

class FuzzTransport : public NetworkClientBase {
public:
    bool Connect() override;
    void Disconnect() override;
    bool IsConnected() override;
    bool Write(const char* bytes, uint32_t size) override;
    // Hands |text| to the owner as one received message.
    void Deliver(const std::string& text);

private:
    std::recursive_mutex m_lock;  // held while reporting, like the pipe client's lock
    bool m_connected = false;     // guarded by m_lock
};

class FuzzPlugin {
public:
    // The one plug-in of the fuzz process, built on first use: linked, with
    // the user signed in, every action supported, and the link up.
    static FuzzPlugin& Instance();

    // One host message, as the WebSocket handler passes a text frame.
    void HostMessage(const std::string& text);
    // One controller message, as the pipe client passes a received message.
    void ControllerMessage(const std::string& text);
    // Takes the controller link down (as a broken pipe does), or brings it
    // up again when |up|; the client reports either on this thread.
    void SetLinkUp(bool up);
    // Brings the link up and reports sign-in and support of every action
    // again, so that one input's controller messages do not change what the
    // next input finds.
    void RestoreControllerState();
    // RestoreControllerState and a tick to draw it, only when the input
    // changed what it restores: the link, the sign-in or a key's support.
    void RestoreControllerStateIfChanged();
    // Takes every key that a host message made appear since the last call
    // off the deck again, so that keys do not pile up from input to input.
    void RemoveAppearedKeys();
    // One tick of the element timer, on the calling thread.
    void Tick();
    // Aborts when an element still keeps a record (listing, settings, image)
    // of a key although every key has left the deck.
    void CheckNoKeyKept();
    // The end of every input that shows keys: they leave, a tick draws what
    // is pending, and nothing of them may remain.
    void FinishInput();

    // The document of a controller event |name| with |data|, as the server sends it.
    static std::string ControllerEventText(const std::string& name, const nlohmann::json& data);

    static const std::vector<std::string> kActions;  // identifiers, catalogue order

private:
    FuzzPlugin();

    std::shared_ptr<FuzzTransport> m_transport;
    ESDConnectionManager m_connection;
    KeyNotingPlugin* m_plugin;  // lives to the end, as in the process
};

// Splits a fuzz input into lines; each line is one message.
template <typename Handle>
void ForEachLine(const uint8_t* data, size_t size, Handle handle) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos) end = input.size();
        handle(input.substr(start, end - start));
        start = end + 1;
    }
}
