#pragma once
// A scripted transport for controller client tests: a server that is up or
// down, a record of every Connect, Disconnect and Write with the calling
// thread, and gates that hold Connect or Write until the test opens them.
// WriteIfIdle writes only when the test allows it, as an idle pipe would.
// Like the pipe client, it reports connection changes while holding its own
// recursive lock.

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "controller/NetworkClientBase.h"

class ScriptedTransport : public NetworkClientBase {
public:
    struct Call {
        std::thread::id thread;
        std::string operation;
    };

    bool Connect() override {
        Pass(m_connectGateOpen);
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        Record("Connect");
        if (m_connected) return false;
        bool up = ServerUp();
        m_connected = up;
        if (onConnectionChanged) onConnectionChanged(up);
        return up;
    }
    void Disconnect() override {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        Record("Disconnect");
        m_connected = false;
        if (onConnectionChanged) onConnectionChanged(false);
    }
    bool IsConnected() override {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        return m_connected;
    }
    bool Write(const char* bytes, uint32_t size) override {
        Pass(m_writeGateOpen);
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        Record("Write");
        if (!m_connected) return false;
        std::lock_guard<std::mutex> state(m_mutex);
        m_written.emplace_back(bytes, size);
        m_changed.notify_all();
        return true;
    }
    // Only after SetTakesWritesAtOnce(true), and never through the write gate.
    bool WriteIfIdle(const char* bytes, uint32_t size) override {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        std::lock_guard<std::mutex> state(m_mutex);
        if (!m_connected || !m_takesWritesAtOnce) return false;
        m_calls.push_back(Call{std::this_thread::get_id(), "WriteIfIdle"});
        m_written.emplace_back(bytes, size);
        m_changed.notify_all();
        return true;
    }

    // The link breaks the way the pipe client's I/O thread reports it.
    void Break() {
        SetServerUp(false);
        Disconnect();
    }
    void Deliver(const std::string& bytes) {
        if (onDataReceived) onDataReceived(bytes.c_str(), static_cast<uint32_t>(bytes.size()));
    }

    void SetServerUp(bool up) {
        Set([&] { m_serverUp = up; });
    }
    void SetConnectGate(bool open) {
        Set([&] { m_connectGateOpen = open; });
    }
    void SetTakesWritesAtOnce(bool takes) {
        Set([&] { m_takesWritesAtOnce = takes; });
    }
    void SetWriteGate(bool open) {
        Set([&] { m_writeGateOpen = open; });
    }

    template <typename Condition>
    bool WaitFor(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return condition(*this); });
    }
    // The following read the records; call them with the state lock held
    // (inside WaitFor) or after the client's threads have ended.
    const std::vector<std::string>& Written() const { return m_written; }
    const std::vector<Call>& Calls() const { return m_calls; }
    size_t CountCalls(const std::string& operation) const {
        size_t count = 0;
        for (const auto& call : m_calls) count += call.operation == operation;
        return count;
    }
    size_t Waiting() const { return m_waiting; }

private:
    bool ServerUp() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_serverUp;
    }
    void Record(const char* operation) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(Call{std::this_thread::get_id(), operation});
        m_changed.notify_all();
    }
    void Pass(bool& gateOpen) {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_waiting;
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return gateOpen; });
        --m_waiting;
    }
    template <typename Change>
    void Set(Change change) {
        std::lock_guard<std::mutex> lock(m_mutex);
        change();
        m_changed.notify_all();
    }

    std::recursive_mutex m_lock;  // held while reporting, like the pipe client's lock
    bool m_connected = false;     // guarded by m_lock

    std::mutex m_mutex;  // guards everything below
    std::condition_variable m_changed;
    bool m_serverUp = false;
    bool m_connectGateOpen = true;
    bool m_writeGateOpen = true;
    bool m_takesWritesAtOnce = false;
    size_t m_waiting = 0;
    std::vector<std::string> m_written;
    std::vector<Call> m_calls;
};
