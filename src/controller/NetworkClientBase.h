#pragma once
// The transport that the controller client works against: one whole message
// per Write and per onDataReceived call, and a report of every connection
// change. The owner assigns both callbacks before the first Connect; an empty
// callback is skipped.

#include <chrono>
#include <cstdint>
#include <functional>

class NetworkClientBase {
public:
    // Called once per received message; |bytes| is followed by a zero byte
    // and is valid only during the call.
    std::function<void(const char* bytes, uint32_t size)> onDataReceived;
    // True when a connection has been made; false when an attempt failed or
    // the connection was closed.
    std::function<void(bool connected)> onConnectionChanged;

    virtual ~NetworkClientBase() = default;
    // Opens the link; false (without any report) when it is already open.
    virtual bool Connect() = 0;
    // Closes the link if open and reports false in any case.
    virtual void Disconnect() = 0;
    virtual bool IsConnected() = 0;
    // Sends one whole message; false when not connected or it could not be sent.
    virtual bool Write(const char* bytes, uint32_t size) = 0;

    // Written: the pipe has taken the message. Expired: it could not be
    // written before |deadline| (or Interrupt ended the wait) and never will
    // be; the link stays as it was. Failed: not connected, or the link broke.
    enum class WriteResult { Written, Expired, Failed };
    using Deadline = std::chrono::steady_clock::time_point;
    // The default, for a transport whose Write does not wait, ignores the deadline.
    virtual WriteResult WriteBefore(const char* bytes, uint32_t size, Deadline deadline) {
        (void)deadline;
        return Write(bytes, size) ? WriteResult::Written : WriteResult::Failed;
    }
    // Sends the message only when the link is open and takes it at once,
    // without waiting and behind nothing still to be written; false, with
    // nothing sent, otherwise. The default never writes.
    virtual bool WriteIfIdle(const char* bytes, uint32_t size) {
        (void)bytes;
        (void)size;
        return false;
    }
    // Ends at once the waits in progress (a Connect waiting for a busy pipe, a
    // WriteBefore waiting for the pipe to take its message); they fail. Calls
    // made afterwards work as usual.
    virtual void Interrupt() {}
};
