#pragma once
// Helpers for tests of the controller link: private pipe names, a recorder of
// a transport's callbacks, and a PipeSystem that forwards to the real one but
// can make chosen calls fail or wait.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "controller/NetworkClientBase.h"
#include "controller/PipeSystem.h"

inline std::string PrivatePipeName() {
    static std::atomic<int> counter{0};
    std::random_device random;
    return "kestrel-test-" + std::to_string(random()) + "-" + std::to_string(++counter);
}

// Waits, with a generous time-out, until |condition| holds under |mutex|.
template <typename Condition>
bool WaitUntil(std::mutex& mutex, std::condition_variable& changed, Condition condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, timeout, condition);
}

// Declare it before the transport: the transport's last report arrives
// while the transport is destroyed.
class TransportRecorder {
public:
    void Attach(NetworkClientBase& transport) {
        transport.onDataReceived = [this](const char* bytes, uint32_t size) {
            std::lock_guard<std::mutex> lock(mutex);
            messages.emplace_back(bytes, size);
            terminated = terminated && bytes[size] == '\0';
            changed.notify_all();
        };
        transport.onConnectionChanged = [this](bool connected) {
            std::lock_guard<std::mutex> lock(mutex);
            reports.push_back(connected);
            changed.notify_all();
        };
    }
    bool WaitForMessages(size_t count) {
        return WaitUntil(mutex, changed, [&] { return messages.size() >= count; });
    }
    std::vector<std::string> Messages() {
        std::lock_guard<std::mutex> lock(mutex);
        return messages;
    }
    std::vector<bool> Reports() {
        std::lock_guard<std::mutex> lock(mutex);
        return reports;
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> messages;
    std::vector<bool> reports;
    bool terminated = true;  // every message was followed by a zero byte
};

// Forwards to the platform's PipeSystem; can answer Open with "busy" a few
// times, report a message as too large, hold writes at a gate until the
// test opens it, and make writes wait as on a pipe whose server has not yet
// started reading. Counts the peeks (how often the I/O thread looked at the pipe).
class ScriptedPipeSystem : public PipeSystem {
public:
    OpenResult Open(const std::string& name, Handle& handle) override {
        if (busyOpens > 0) {
            --busyOpens;
            return OpenResult::Busy;
        }
        return m_native->Open(name, handle);
    }
    // Waits the whole slice, as a pipe that stays busy does.
    bool WaitUntilFree(const std::string& name, uint32_t milliseconds) override {
        waits.push_back(milliseconds);
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return true;
    }
    bool ServerIsOurUser(Handle handle) override { return m_native->ServerIsOurUser(handle); }
    bool SetMessageMode(Handle handle) override { return m_native->SetMessageMode(handle); }
    PeekResult Peek(Handle handle) override {
        ++peeks;
        PeekResult result = m_native->Peek(handle);
        if (result.pending && result.size == oversizedPeekFor) result.size = 16u * 1024u * 1024u + 1u;
        return result;
    }
    bool Read(Handle handle, char* buffer, uint32_t size) override {
        return m_native->Read(handle, buffer, size);
    }
    bool Skip(Handle handle) override { return m_native->Skip(handle); }
    bool Write(Handle handle, const char* bytes, uint32_t size) override {
        {
            std::unique_lock<std::mutex> lock(mutex);
            ++writesStarted;
            changed.notify_all();
            changed.wait(lock, [this] { return gateOpen; });
        }
        return m_native->Write(handle, bytes, size);
    }
    WriteResult WriteWithin(Handle handle, const char* bytes, uint32_t size, uint32_t milliseconds,
                            Handle wakeup) override {
        {
            std::unique_lock<std::mutex> lock(mutex);
            ++writesStarted;
            changed.notify_all();
            changed.wait(lock, [this] { return gateOpen; });
        }
        // The pipe takes nothing before the server reads: the write waits its
        // time (or until woken) and fails with no byte sent.
        using Clock = std::chrono::steady_clock;
        const auto start = Clock::now();
        if (start < readerStarts.load()) {
            auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(readerStarts.load() - start);
            m_native->WaitForWakeup(wakeup,
                                    std::min<uint32_t>(milliseconds, static_cast<uint32_t>(wait.count())));
            if (Clock::now() < readerStarts.load()) {
                return Clock::now() - start >= std::chrono::milliseconds(milliseconds) ? WriteResult::TimedOut
                                                                                       : WriteResult::Woken;
            }
        }
        return m_native->WriteWithin(handle, bytes, size, milliseconds, wakeup);
    }
    void WaitForWakeup(Handle wakeup, uint32_t milliseconds) override {
        ++wakeupWaits;
        m_native->WaitForWakeup(wakeup, milliseconds);
    }
    void Shutdown(Handle handle) override { m_native->Shutdown(handle); }
    void Close(Handle handle) override { m_native->Close(handle); }
    Handle OpenWakeup() override { return m_native->OpenWakeup(); }
    void SignalWakeup(Handle wakeup) override { m_native->SignalWakeup(wakeup); }
    void CloseWakeup(Handle wakeup) override { m_native->CloseWakeup(wakeup); }
    void WaitForInput(Handle handle, Handle wakeup) override { m_native->WaitForInput(handle, wakeup); }

    void SetGate(bool open) {
        std::lock_guard<std::mutex> lock(mutex);
        gateOpen = open;
        changed.notify_all();
    }
    bool WaitForWritesStarted(int count) {
        return WaitUntil(mutex, changed, [&] { return writesStarted >= count; });
    }

    std::atomic<std::chrono::steady_clock::time_point> readerStarts{};  // writes wait until then
    int busyOpens = 0;                                                  // set before Connect
    uint32_t oversizedPeekFor = 0;  // a message of this size is reported as over 16 MiB
    std::vector<uint32_t> waits;    // read after Connect
    std::mutex mutex;
    std::condition_variable changed;
    bool gateOpen = true;
    int writesStarted = 0;
    std::atomic<int> peeks{0};
    std::atomic<int> wakeupWaits{0};  // waits of the I/O thread while the incoming queue was full

private:
    std::shared_ptr<PipeSystem> m_native = PipeSystem::Native();
};
