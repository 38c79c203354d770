#pragma once
// Fakes at the two seams of the control elements: the host connection (an
// ESDConnectionManager without a socket, whose commands are recorded) and the
// controller transport (a NetworkClientBase under a real ControllerClient),
// plus image helpers that decode "setImage" PNGs and compose expectations
// from the plug-in folder's files.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "controller/ControllerClient.h"
#include "controller/Messages.h"
#include "controller/NetworkClientBase.h"
#include "graphics/Graphics.h"
#include "graphics/ResolveModulePath.h"
#include "host/ESDConnectionManager.h"
#include "support/PngDecoder.h"

using json = nlohmann::json;
using namespace std::chrono_literals;

// Waits on |cv| for |ready| (called under |mutex|) for up to |timeout|.
template <typename Predicate>
bool WaitUntil(std::mutex& mutex, std::condition_variable& cv, std::chrono::milliseconds timeout,
               Predicate ready) {
    std::unique_lock<std::mutex> lock(mutex);
    return cv.wait_for(lock, timeout, ready);
}

// Records every command that the elements send to the host, parsed.
class FakeHost {
public:
    FakeHost()
        : connection([this](const std::string& text) {
              std::lock_guard<std::mutex> lock(m_mutex);
              m_commands.push_back(json::parse(text));
              m_changed.notify_all();
          }) {}

    // Commands with this "event" (and this "context", unless empty), in order.
    std::vector<json> Sent(const std::string& event, const std::string& context = "") {
        std::lock_guard<std::mutex> lock(m_mutex);
        return Select(event, context);
    }
    size_t Count() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_commands.size();
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_commands.clear();
    }
    // Waits until some "setImage" for |context| decodes to |expected|.
    bool WaitForImage(const std::string& context, const RgbaImage& expected,
                      std::chrono::milliseconds timeout = 5s);
    // The last "setImage" of |context|, decoded.
    std::optional<RgbaImage> LastImage(const std::string& context);

    ESDConnectionManager connection;

private:
    std::vector<json> Select(const std::string& event, const std::string& context) const {
        std::vector<json> selected;
        for (const json& command : m_commands)
            if (command.value("event", "") == event &&
                (context.empty() || command.value("context", "") == context))
                selected.push_back(command);
        return selected;
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<json> m_commands;
};

// A controller transport in memory: connects on request, records written
// messages, and can be told to refuse writes.
class InMemoryTransport : public NetworkClientBase {
public:
    bool Connect() override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_connected) return false;
            m_connected = true;
        }
        if (onConnectionChanged) onConnectionChanged(true);
        return true;
    }
    void Disconnect() override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_connected = false;
        }
        if (onConnectionChanged) onConnectionChanged(false);
    }
    bool IsConnected() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_connected;
    }
    bool Write(const char* bytes, uint32_t size) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_attempts;
        if (!m_connected || m_refuse) return false;
        json message = json::parse(std::string(bytes, size));
        if (message["payload"]["command"]["name"] != SystemMessages::kQueryState)
            m_written.push_back(message);
        m_changed.notify_all();
        return true;
    }

    void RefuseWrites(bool refuse) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_refuse = refuse;
    }
    // Commands written so far (the controller client's state query left out).
    std::vector<json> Written() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_written;
    }
    bool WaitForWritten(size_t count, std::chrono::milliseconds timeout = 5s) {
        return WaitUntil(m_mutex, m_changed, timeout, [&] { return m_written.size() >= count; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_connected = false;
    bool m_refuse = false;
    int m_attempts = 0;
    std::vector<json> m_written;
};

// A started controller client over an InMemoryTransport, without a listener and
// without telemetry. Stop it before releasing the elements that use it.
struct ControllerRig {
    ControllerRig()
        : transport(std::make_shared<InMemoryTransport>()),
          client(std::make_shared<ControllerClient>(transport, nullptr, [](const char*) {})) {
        transport->Connect();
        client->Start();
    }
    std::shared_ptr<InMemoryTransport> transport;
    std::shared_ptr<ControllerClient> client;
};

// The picture of |files| drawn one over the other, as the elements compose
// them, decoded from its PNG.
inline RgbaImage Composed(std::initializer_list<const char*> files) {
    auto it = files.begin();
    Graphics image(ResolveModulePath(std::string(*it)));
    for (++it; it != files.end(); ++it) image.Compose(Graphics(ResolveModulePath(std::string(*it))));
    std::string text;
    EXPECT_TRUE(image.ToBase64Png(text));
    auto decoded = DecodeBase64Png(text);
    EXPECT_TRUE(decoded.has_value());
    return decoded.value_or(RgbaImage());
}

inline bool SameImage(const std::optional<RgbaImage>& a, const RgbaImage& b) {
    return a && a->width == b.width && a->height == b.height && a->pixels == b.pixels;
}

// Nothing for a "setImage" without an image (the host's own icon shows).
inline std::optional<RgbaImage> DecodeSetImage(const json& command) {
    if (!command["payload"].contains("image")) return std::nullopt;
    const std::string url = command["payload"]["image"].get<std::string>();
    const std::string prefix = "data:image/png;base64,";
    if (url.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    return DecodeBase64Png(url.substr(prefix.size()));
}

inline std::optional<RgbaImage> FakeHost::LastImage(const std::string& context) {
    auto images = Sent("setImage", context);
    if (images.empty()) return std::nullopt;
    return DecodeSetImage(images.back());
}

inline bool FakeHost::WaitForImage(const std::string& context, const RgbaImage& expected,
                                   std::chrono::milliseconds timeout) {
    size_t checked = 0;
    return WaitUntil(m_mutex, m_changed, timeout, [&] {
        auto images = Select("setImage", context);
        for (; checked < images.size(); ++checked)
            if (SameImage(DecodeSetImage(images[checked]), expected)) return true;
        return false;
    });
}

// Controller events as the controller client delivers them.
inline std::shared_ptr<ElementAddress> ControllerAddress() {
    return std::make_shared<ElementAddress>(ElementAddress::kNetworkClient, "controllerClient",
                                            "controllerClient");
}
inline EventMessage Event(const char* name, json data = nullptr) {
    return EventMessage(name, ControllerAddress(), std::move(data));
}
inline EventMessage SignedIn(bool signedIn) {
    return Event(SystemMessages::kReportState, {{"isSignedIn", signedIn}});
}
inline EventMessage Supported(const std::string& function, bool supported) {
    return Event(SystemMessages::kSupportFunctions, {{function, supported}});
}
inline EventMessage FunctionState(const std::string& function, json state) {
    return Event(SystemMessages::kReportFunctionState, {{"function", function}, {"state", std::move(state)}});
}
