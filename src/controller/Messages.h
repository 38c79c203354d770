#pragma once
// Controller messages: one JSON document each, exchanged with the controller
// server. Every document the plug-in builds has the members "payload",
// "source", "target" and "version"; objects keep their members sorted, so the
// compact text form is the same whatever order the members were set in.
// Messages do not change after construction and may be read from any thread.

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "controller/ControllerEvent.h"
#include "controller/ElementAddress.h"

class MessageBase {
public:
    virtual ~MessageBase() = default;
    // Compact text form; raises nlohmann::json::type_error on invalid UTF-8.
    virtual std::string Serialize() const;
    const nlohmann::json& Document() const { return m_document; }

protected:
    MessageBase(const std::shared_ptr<ElementAddress>& source, nlohmann::json payload);
    explicit MessageBase(nlohmann::json document) : m_document(std::move(document)) {}

    nlohmann::json m_document;
};

// A command for the controller server (a key press, the state query).
class CommandMessage : public MessageBase {
public:
    CommandMessage(const char* name, const std::shared_ptr<ElementAddress>& source, nlohmann::json data);
};

// An event: a report received from the server, or a connection event made here.
class EventMessage : public MessageBase {
public:
    EventMessage(const char* name, const std::shared_ptr<ElementAddress>& source, nlohmann::json data);
    // Copies a received document and gives it "payload.event" and
    // "payload.event.data" (null) where missing. A root, payload or event that
    // is neither an object nor null raises nlohmann::json::type_error.
    explicit EventMessage(const nlohmann::json& received);

    // A document received from the controller server, checked without
    // raising: an object whose "payload" has "class" "event" and an "event"
    // object with a string "name" ("data" may be missing), and whose meaning
    // can be decoded (see ControllerEvent::Decode). Nothing, with the reason,
    // for any other document; |refused| names the support members left out.
    static std::optional<EventMessage> Receive(const nlohmann::json& received, std::string& reason,
                                               std::string& refused);

    // True when the document is an event that may be delivered to a listener.
    bool IsValid() const;
    std::string GetName() const;
    nlohmann::json GetData() const;
    // The decoded meaning; Other (carrying nothing) for a document built here
    // whose data cannot be decoded.
    const ControllerEvent& Meaning() const { return m_meaning; }

private:
    void Normalise();
    void DecodeMeaning();

    ControllerEvent m_meaning;
};

// Names with fixed roles on the controller link.
namespace SystemMessages {
inline constexpr char kQueryState[] = "SYS$QUERY:STATE";
inline constexpr char kReportState[] = "SYS$REPORT:STATE";
inline constexpr char kSupportFunctions[] = "SYS$SUPPORT:FUNCTIONS";
inline constexpr char kReportFunctionState[] = "SYS$REPORT:STATE:FUNCTION";
inline constexpr char kConnected[] = "networkClientConnected";
inline constexpr char kDisconnected[] = "networkClientDisconnected";
}  // namespace SystemMessages
