#include "host/ESDConnectionManager.h"

// The only translation unit of the plug-in that sees websocketpp and asio.
#include <websocketpp/client.hpp>
#include <websocketpp/config/asio_no_tls_client.hpp>

#include <atomic>

#include "diagnostics/Log.h"
#include "host/ESDBasePlugin.h"
#include "host/JsonAccessors.h"

using json = nlohmann::json;

namespace {
using WebSocketClient = websocketpp::client<websocketpp::config::asio_client>;

const std::string kImagePrefix = "data:image/png;base64,";

// "image" of a setImage command: the Base64 text with the data-URL prefix,
// unless it is empty or already carries the prefix.
std::string ImageUrl(const std::string& image) {
    if (image.empty() || image.compare(0, kImagePrefix.size(), kImagePrefix) == 0) return image;
    return kImagePrefix + image;
}
}  // namespace

struct ESDConnectionManager::Transport {
    WebSocketClient client;
    websocketpp::connection_hdl connection;  // written in Run before any handler runs
    std::atomic<bool> open{false};           // raised after the registration is queued
};

ESDConnectionManager::ESDConnectionManager(int port, const std::string& pluginUUID, const std::string& registerEvent)
    : m_port(port),
      m_pluginUUID(pluginUUID),
      m_registerEvent(registerEvent),
      m_transport(std::make_unique<Transport>()) {}

ESDConnectionManager::ESDConnectionManager(OutgoingSink sink) : m_sink(std::move(sink)) {}

ESDConnectionManager::~ESDConnectionManager() = default;

void ESDConnectionManager::SetPlugin(ESDBasePlugin* plugin) { m_plugin = plugin; }

void ESDConnectionManager::Run() {
    if (!m_transport) return;
    Transport& transport = *m_transport;
    WebSocketClient& client = transport.client;
    try {
        client.clear_access_channels(websocketpp::log::alevel::all);
        client.clear_error_channels(websocketpp::log::elevel::all);
        client.init_asio();

        client.set_open_handler([this, &transport](websocketpp::connection_hdl handle) {
            json registration = {{"event", m_registerEvent}, {"uuid", m_pluginUUID}};
            websocketpp::lib::error_code ignored;
            transport.client.send(handle, registration.dump(), websocketpp::frame::opcode::text, ignored);
            transport.open.store(true, std::memory_order_release);
        });
        client.set_fail_handler([&transport](websocketpp::connection_hdl) { transport.open.store(false); });
        client.set_close_handler([&transport](websocketpp::connection_hdl) { transport.open.store(false); });
        client.set_message_handler([this](websocketpp::connection_hdl, WebSocketClient::message_ptr message) {
            if (message->get_opcode() != websocketpp::frame::opcode::text) return;
            HandleMessageText(message->get_payload());
        });

        std::string url = "ws://localhost:" + std::to_string(m_port);
        websocketpp::lib::error_code error;
        WebSocketClient::connection_ptr connection = client.get_connection(url, error);
        if (error) return;
        transport.connection = connection->get_handle();
        client.connect(connection);
        client.run();
    } catch (const websocketpp::exception&) {
        // The link cannot be used; the process ends as after a normal close.
    }
    transport.open.store(false);
}

void ESDConnectionManager::HandleMessageText(const std::string& text) {
    LogTrace("ESDConnectionManager::OnMessage: %s", text.c_str());
    try {
        Route(json::parse(text));
    } catch (...) {
        // Not JSON, or the plug-in failed on this message: the next one is handled normally.
    }
}

void ESDConnectionManager::Route(const json& message) {
    if (m_plugin == nullptr) return;
    const std::string event = GetJsonString(message, "event");
    const std::string context = GetJsonString(message, "context");
    const std::string action = GetJsonString(message, "action");
    const std::string device = GetJsonString(message, "device");
    json payload;
    GetJsonObject(message, "payload", payload);

    if (event == "keyDown") {
        m_plugin->OnKeyDown(action, context, payload, device);
    } else if (event == "keyUp") {
        m_plugin->OnKeyUp(action, context, payload, device);
    } else if (event == "willAppear") {
        m_plugin->OnWillAppear(action, context, payload, device);
    } else if (event == "willDisappear") {
        m_plugin->OnWillDisappear(action, context, payload, device);
    } else if (event == "deviceDidConnect") {
        json deviceInfo;
        GetJsonObject(message, "deviceInfo", deviceInfo);
        m_plugin->OnDeviceConnected(device, deviceInfo);
    } else if (event == "deviceDidDisconnect") {
        m_plugin->OnDeviceDisconnected(device);
    } else {
        m_plugin->OnCustomEvent(event, action, context, payload, device);
    }
}

void ESDConnectionManager::SendCommand(const json& command) {
    // Serialising first means invalid UTF-8 raises to the caller and nothing is sent.
    const std::string text = command.dump();
    if (m_sink) {
        m_sink(text);
        return;
    }
    if (!m_transport || !m_transport->open.load(std::memory_order_acquire)) return;
    websocketpp::lib::error_code ignored;
    m_transport->client.send(m_transport->connection, text, websocketpp::frame::opcode::text, ignored);
}

void ESDConnectionManager::SetTitle(const std::string& title, const std::string& context) {
    SendCommand({{"event", "setTitle"}, {"context", context}, {"payload", {{"target", 0}, {"title", title}}}});
}

void ESDConnectionManager::SetImage(const std::string& image, const std::string& context) {
    SendCommand(
        {{"event", "setImage"}, {"context", context}, {"payload", {{"image", ImageUrl(image)}, {"target", 0}}}});
}

void ESDConnectionManager::SetSettings(const json& settings, const std::string& context) {
    SendCommand({{"event", "setSettings"}, {"context", context}, {"payload", settings}});
}

void ESDConnectionManager::GetSettings(const std::string& context) {
    SendCommand({{"event", "getSettings"}, {"context", context}});
}

void ESDConnectionManager::SendToPropertyInspector(const json& payload, const std::string& context) {
    SendCommand({{"event", "sendToPropertyInspector"}, {"context", context}, {"payload", payload}});
}
