#include "controller/Messages.h"

using nlohmann::json;

MessageBase::MessageBase(const std::shared_ptr<ElementAddress>& source, json payload) {
    m_document["version"] = 1;
    // The trailing space belongs to the class name the server expects.
    m_document["source"] = json{{"class", "controller "}, {"element", source->ToJson()}};
    m_document["target"] = json{{"scope", "broadcast"}};
    m_document["payload"] = std::move(payload);
}

std::string MessageBase::Serialize() const {
    return m_document.dump();
}

CommandMessage::CommandMessage(const char* name, const std::shared_ptr<ElementAddress>& source, json data)
    : MessageBase(source,
                  json{{"class", "command"}, {"command", {{"name", name}, {"data", std::move(data)}}}}) {}

EventMessage::EventMessage(const char* name, const std::shared_ptr<ElementAddress>& source, json data)
    : MessageBase(source, json{{"class", "event"}, {"event", {{"name", name}, {"data", std::move(data)}}}}) {
    Normalise();
    DecodeMeaning();
}

EventMessage::EventMessage(const json& received) : MessageBase(received) {
    Normalise();
    if (IsValid() && m_document["payload"]["event"]["name"].is_string()) DecodeMeaning();
}

std::optional<EventMessage> EventMessage::Receive(const json& received, std::string& reason,
                                                  std::string& refused) {
    refused.clear();
    auto payload = received.is_object() ? received.find("payload") : received.end();
    if (!received.is_object() || payload == received.end() || !payload->is_object()) {
        reason = "not an object with an object \"payload\"";
        return std::nullopt;
    }
    auto kind = payload->find("class");
    auto event = payload->find("event");
    if (kind == payload->end() || *kind != "event" || event == payload->end() || !event->is_object()) {
        reason = "payload is not of class \"event\" with an \"event\" object";
        return std::nullopt;
    }
    auto name = event->find("name");
    if (name == event->end() || !name->is_string()) {
        reason = "event without a string \"name\"";
        return std::nullopt;
    }
    auto data = event->find("data");
    ControllerEvent meaning;
    if (!ControllerEvent::Decode(name->get<std::string>(), data == event->end() ? json() : *data, meaning,
                                 reason, refused)) {
        reason = "'" + name->get<std::string>() + "': " + reason;
        return std::nullopt;
    }
    EventMessage message(received);
    message.m_meaning = std::move(meaning);
    return message;
}

void EventMessage::DecodeMeaning() {
    std::string reason, refused;
    if (!ControllerEvent::Decode(GetName(), GetData(), m_meaning, reason, refused))
        m_meaning = ControllerEvent();
}

void EventMessage::Normalise() {
    // operator[] turns a null value into an object and raises type_error on
    // any other non-object, which is how malformed documents are refused.
    json& payload = m_document["payload"];
    if (!payload.contains("event")) payload["event"] = nullptr;
    json& event = payload["event"];
    if (!event.contains("data")) event["data"] = nullptr;
}

bool EventMessage::IsValid() const {
    if (!m_document.is_object()) return false;
    auto payload = m_document.find("payload");
    if (payload == m_document.end()) return false;
    if (!payload->contains("class")) return false;
    auto event = payload->find("event");
    if (event == payload->end()) return false;
    if (!event->contains("name")) return false;
    return (*payload)["class"] == "event";
}

std::string EventMessage::GetName() const {
    return m_document["payload"]["event"]["name"].get<std::string>();
}

json EventMessage::GetData() const {
    return m_document["payload"]["event"]["data"];
}
