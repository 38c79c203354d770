#pragma once
// The transport that the controller client works against: one whole message
// per Write and per onDataReceived call, and a report of every connection
// change. The owner assigns both callbacks before the first Connect; an empty
// callback is skipped.

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
    // Accepts one whole message for sending; false when not connected.
    virtual bool Write(const char* bytes, uint32_t size) = 0;
};
