#include "host/ESDConnectionManager.h"

// The only translation unit of the plug-in that sees websocketpp and asio.
#include <websocketpp/client.hpp>
#include <websocketpp/config/asio_no_tls_client.hpp>

#include <atomic>
#include <chrono>
#include <deque>
#include <exception>
#include <map>
#include <mutex>

#include "diagnostics/BoundedJson.h"
#include "diagnostics/Log.h"
#include "host/HostEventTable.h"

using json = nlohmann::json;

namespace {

// A streamer's action on a key or a dial: the events whose handling may write
// a controller command at once.
bool IsControlAction(const json& message) {
    const auto event = message.find("event");
    if (event == message.end() || !event->is_string()) return false;
    const std::string& name = event->get_ref<const std::string&>();
    return name == "keyDown" || name == "dialRotate" || name == "dialDown" || name == "touchTap";
}

using WebSocketClient = websocketpp::client<websocketpp::config::asio_client>;

const std::string kImagePrefix = "data:image/png;base64,";

// While the host is not keeping up, how often the backlog is offered again.
constexpr std::chrono::milliseconds kBacklogRetry{20};

// "image" of a setImage command: the Base64 text with the data-URL prefix,
// unless it is empty or already carries the prefix.
std::string ImageUrl(const std::string& image) {
    if (image.empty() || image.compare(0, kImagePrefix.size(), kImagePrefix) == 0) return image;
    return kImagePrefix + image;
}

// One command waiting in our queue.
struct PendingCommand {
    std::string text;
    std::string imageContext;  // set for a setImage, which a newer one replaces
};
}  // namespace

struct ESDConnectionManager::Transport {
    WebSocketClient client;
    // Written in Run before the loop runs; used on the event-loop thread only.
    WebSocketClient::connection_ptr connection;
    std::unique_ptr<asio::steady_timer> retry;
    std::atomic<bool> open{false};  // raised after the registration is queued

    mutable std::mutex mutex;  // guards the members below
    std::deque<PendingCommand> pending;
    // The newest unsent setImage of each context, inside |pending| (a deque
    // keeps its elements in place while others are added and taken at the ends).
    std::map<std::string, PendingCommand*> pendingImages;
    size_t pendingBytes = 0;
    bool backlogged = false;   // the library holds more than kSendBufferLimit
    bool drainPosted = false;  // a drain is posted to the loop
    bool retryArmed = false;   // the retry timer will drain
};

ESDConnectionManager::ESDConnectionManager(int port, const std::string& pluginUUID,
                                           const std::string& registerEvent)
    : m_port(port),
      m_pluginUUID(pluginUUID),
      m_registerEvent(registerEvent),
      m_transport(std::make_unique<Transport>()) {}

ESDConnectionManager::ESDConnectionManager(OutgoingSink sink) : m_sink(std::move(sink)) {}

ESDConnectionManager::~ESDConnectionManager() = default;

void ESDConnectionManager::SetPlugin(ESDBasePlugin* plugin) {
    m_plugin = plugin;
}

void ESDConnectionManager::SetRegisteredHandler(std::function<void()> handler) {
    m_registered = std::move(handler);
}

void ESDConnectionManager::Run() {
    if (!m_transport) return;
    Transport& transport = *m_transport;
    WebSocketClient& client = transport.client;
    try {
        client.clear_access_channels(websocketpp::log::alevel::all);
        client.clear_error_channels(websocketpp::log::elevel::all);
        client.init_asio();
        transport.retry = std::make_unique<asio::steady_timer>(client.get_io_service());

        client.set_open_handler([this, &transport](websocketpp::connection_hdl handle) {
            json registration = {{"event", m_registerEvent}, {"uuid", m_pluginUUID}};
            websocketpp::lib::error_code ignored;
            transport.client.send(handle, registration.dump(), websocketpp::frame::opcode::text, ignored);
            transport.open.store(true, std::memory_order_release);
            if (m_registered) m_registered();
        });
        client.set_fail_handler([this](websocketpp::connection_hdl) { ClearQueue(); });
        client.set_close_handler([this, &transport](websocketpp::connection_hdl) {
            // A message beyond the library's size limit ends the link too; say so.
            const auto code = transport.connection->get_local_close_code();
            if (code == websocketpp::close::status::message_too_big) {
                LogWarning("ESDConnectionManager::OnClose: a host message exceeded %zu bytes",
                           transport.connection->get_max_message_size());
            }
            ClearQueue();
        });
        client.set_message_handler([this](websocketpp::connection_hdl, WebSocketClient::message_ptr message) {
            if (message->get_opcode() != websocketpp::frame::opcode::text) return;
            HandleMessageText(message->get_payload());
        });

        // The host listens on the IPv4 loopback address. Not "localhost": where
        // that name gives ::1 first, any local program listening there would
        // get the connection and the plug-in's registration.
        std::string url = "ws://127.0.0.1:" + std::to_string(m_port);
        websocketpp::lib::error_code error;
        WebSocketClient::connection_ptr connection = client.get_connection(url, error);
        if (error) return;
        transport.connection = connection;
        client.connect(connection);
        client.run();
    } catch (const websocketpp::exception& error) {
        // The link cannot be used; the process ends as after a normal close.
        LogWarning("ESDConnectionManager::Run: %s", error.what());
    }
    transport.open.store(false);
}

void ESDConnectionManager::HandleMessageText(const std::string& text) {
    json message;
    std::string reason;
    const bool parsed = BoundedJson::Parse(text, message, reason);
    // A press or a turn writes its controller command on this thread: its
    // record is written after the command, since a log write can wait tens of
    // milliseconds for a busy disk. Every other message is logged first.
    const bool logAfter = parsed && IsControlAction(message);
    if (!logAfter) LogTrace("ESDConnectionManager::OnMessage: %s", text.c_str());
    if (!parsed) {
        LogWarning("ESDConnectionManager::OnMessage: dropped a message of %zu bytes: %s", text.size(),
                   reason.c_str());
        return;
    }
    std::string failure;
    try {
        Route(message);
    } catch (const std::exception& error) {
        failure = std::string("handling failed: ") + error.what();
    } catch (...) {
        failure = "handling failed with an unknown exception";
    }
    if (logAfter) LogTrace("ESDConnectionManager::OnMessage: %s", text.c_str());
    // The plug-in failed on this message; the next one is handled normally.
    if (!failure.empty()) LogWarning("ESDConnectionManager::OnMessage: %s", failure.c_str());
}

void ESDConnectionManager::Route(const json& message) {
    if (m_plugin == nullptr) return;
    HostEventTable::Dispatch(*m_plugin, HostEvent(message));
}

void ESDConnectionManager::SendCommand(const json& command, const std::string& imageContext) {
    // Serialising first means invalid UTF-8 raises to the caller and nothing is sent.
    SendText(command.dump(), imageContext);
}

void ESDConnectionManager::SendText(std::string text, const std::string& imageContext) {
    if (m_sink) {
        m_sink(text);
        return;
    }
    if (!m_transport) return;
    Transport& transport = *m_transport;
    std::lock_guard<std::mutex> lock(transport.mutex);
    // Checked under the lock: once ClearQueue has run, nothing is queued.
    if (!transport.open.load(std::memory_order_acquire)) return;
    auto unsent = transport.pendingImages.end();
    const bool behind = transport.backlogged || transport.pendingBytes > kUnmergedQueueLimit;
    if (behind && !imageContext.empty()) unsent = transport.pendingImages.find(imageContext);
    if (unsent != transport.pendingImages.end()) {
        // The host is behind: only the newest image of a key matters, so the
        // older one goes unsent.
        transport.pendingBytes += text.size();
        transport.pendingBytes -= unsent->second->text.size();
        unsent->second->text = std::move(text);
        return;
    }
    transport.pendingBytes += text.size();
    transport.pending.push_back(PendingCommand{std::move(text), imageContext});
    if (!imageContext.empty()) transport.pendingImages[imageContext] = &transport.pending.back();
    if (transport.drainPosted || transport.retryArmed) return;
    transport.drainPosted = true;
    asio::post(transport.client.get_io_service(), [this] { DrainQueue(); });
}

void ESDConnectionManager::DrainQueue() {
    Transport& transport = *m_transport;
    std::unique_lock<std::mutex> lock(transport.mutex);
    transport.drainPosted = false;
    while (!transport.pending.empty()) {
        if (!transport.open.load(std::memory_order_acquire)) break;
        if (transport.connection->get_buffered_amount() > kSendBufferLimit) {
            // The host is not reading: wait for the library's queue to shrink.
            transport.backlogged = true;
            if (!transport.retryArmed) ArmRetry();
            return;
        }
        PendingCommand next = std::move(transport.pending.front());
        auto newest = transport.pendingImages.find(next.imageContext);
        if (newest != transport.pendingImages.end() && newest->second == &transport.pending.front()) {
            transport.pendingImages.erase(newest);
        }
        transport.pending.pop_front();
        transport.pendingBytes -= next.text.size();
        lock.unlock();
        // Fails only once the connection is closing; the command is lost then.
        transport.connection->send(next.text, websocketpp::frame::opcode::text);
        lock.lock();
    }
    transport.backlogged = false;
    if (!transport.open.load(std::memory_order_acquire)) {
        lock.unlock();
        ClearQueue();
    }
}

void ESDConnectionManager::ArmRetry() {
    Transport& transport = *m_transport;
    transport.retryArmed = true;
    transport.retry->expires_after(kBacklogRetry);
    transport.retry->async_wait([this](const std::error_code& error) {
        {
            std::lock_guard<std::mutex> lock(m_transport->mutex);
            m_transport->retryArmed = false;
        }
        if (!error) DrainQueue();
    });
}

void ESDConnectionManager::ClearQueue() {
    Transport& transport = *m_transport;
    transport.open.store(false);
    std::lock_guard<std::mutex> lock(transport.mutex);
    transport.pending.clear();
    transport.pendingImages.clear();
    transport.pendingBytes = 0;
    transport.backlogged = false;
    if (transport.retry) transport.retry->cancel();
}

size_t ESDConnectionManager::QueuedBytes() const {
    if (!m_transport) return 0;
    std::lock_guard<std::mutex> lock(m_transport->mutex);
    return m_transport->pendingBytes;
}

void ESDConnectionManager::SetTitle(const std::string& title, const std::string& context) {
    SendCommand(
        {{"event", "setTitle"}, {"context", context}, {"payload", {{"target", 0}, {"title", title}}}});
}

void ESDConnectionManager::ResetTitle(const std::string& context) {
    SendCommand({{"event", "setTitle"}, {"context", context}, {"payload", {{"target", 0}}}});
}

void ESDConnectionManager::SetImage(const std::string& image, const std::string& context) {
    SendCommand({{"event", "setImage"},
                 {"context", context},
                 {"payload", {{"image", ImageUrl(image)}, {"target", 0}}}},
                context);
}

void ESDConnectionManager::ClearImage(const std::string& context) {
    // Replaces an older image of the key still waiting, as a newer image would.
    SendCommand({{"event", "setImage"}, {"context", context}, {"payload", json::object()}}, context);
}

void ESDConnectionManager::SetState(int state, const std::string& context) {
    SendCommand({{"event", "setState"}, {"context", context}, {"payload", {{"state", state}}}});
}

void ESDConnectionManager::SetSettings(const json& settings, const std::string& context) {
    SendCommand({{"event", "setSettings"}, {"context", context}, {"payload", settings}});
}

void ESDConnectionManager::GetSettings(const std::string& context) {
    SendCommand({{"event", "getSettings"}, {"context", context}});
}

void ESDConnectionManager::GetGlobalSettings() {
    SendCommand({{"event", "getGlobalSettings"}, {"context", m_pluginUUID}});
}

void ESDConnectionManager::SendToPropertyInspector(const json& payload, const std::string& context) {
    SendCommand({{"event", "sendToPropertyInspector"}, {"context", context}, {"payload", payload}});
}

void ESDConnectionManager::SetFeedback(const json& payload, const std::string& context) {
    SendCommand({{"event", "setFeedback"}, {"context", context}, {"payload", payload}});
}

void ESDConnectionManager::SetFeedbackLayout(const std::string& layout, const std::string& context) {
    SendCommand({{"event", "setFeedbackLayout"}, {"context", context}, {"payload", {{"layout", layout}}}});
}

void ESDConnectionManager::SetTriggerDescription(const json& descriptions, const std::string& context) {
    SendCommand({{"event", "setTriggerDescription"}, {"context", context}, {"payload", descriptions}});
}

void ESDConnectionManager::ShowAlert(const std::string& context) {
    SendCommand({{"event", "showAlert"}, {"context", context}});
}

void ESDConnectionManager::ShowOk(const std::string& context) {
    SendCommand({{"event", "showOk"}, {"context", context}});
}
