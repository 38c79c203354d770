#pragma once
// The routing of host events: one table from the protocol's "event" name to
// the ESDBasePlugin operation that receives it, each row reading the members
// its operation takes from the message. A name the table lacks (including "")
// reaches OnCustomEvent, where the plug-in handles the events it knows by
// name. The connection manager dispatches every message through it, and the
// routing tests walk its rows.
//
// Threads: none of its own. The table is built once and only read; Dispatch
// runs on the caller's thread (the connection manager's event-loop thread).

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

class ESDBasePlugin;

// One host message, its common members read once (strings "" and the payload
// JSON null when absent or of another type).
struct HostEvent {
    explicit HostEvent(const nlohmann::json& parsed);

    const nlohmann::json& message;  // the whole message, for members only one event reads
    std::string event;
    std::string action;
    std::string context;
    std::string device;
    nlohmann::json payload;
};

class HostEventTable {
public:
    using Handler = void (*)(ESDBasePlugin& plugin, const HostEvent& event);

    // The event names that have a row, in byte order.
    static std::vector<std::string> Names();
    // Calls the operation of |event|'s row on |plugin|, or OnCustomEvent.
    static void Dispatch(ESDBasePlugin& plugin, const HostEvent& event);
};
