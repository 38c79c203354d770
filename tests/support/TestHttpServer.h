#pragma once
// A small HTTP/1.1 server on 127.0.0.1 with a free port, for tests of
// clients that post to a collector. It records every request (method, path,
// headers, body) and every connection's raw bytes, and answers each request with a configurable status,
// headers and body, all at once, with the body one byte at a time, or not
// at all.
//
// Threads: the server runs its asio event loop on its own thread; every
// public operation may be called from the test thread. Recorded data and the
// response settings are guarded by one mutex with a condition variable.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct RecordedHttpRequest {
    std::string method;
    std::string path;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // The value of the first header named |name| (case-insensitive); "" if none.
    std::string Header(const std::string& name) const;
};

class TestHttpServer {
public:
    TestHttpServer();
    ~TestHttpServer();

    int Port() const;
    // "http://127.0.0.1:<port>" followed by |path|.
    std::string Url(const std::string& path) const;

    // Answer later requests with |status| and |body| (default: 200, "ok"),
    // plus the CR LF terminated header lines |extraHeaders|.
    void SetResponse(int status, const std::string& body, const std::string& extraHeaders = "");
    // Keep later connections open without ever answering them.
    void SetNeverAnswer(bool neverAnswer);
    // Write the body of later answers one byte per |interval|, after the
    // status line and headers at once (zero: everything at once).
    void SetTrickle(std::chrono::milliseconds interval);

    // Calls |observer| on the server's thread with each complete request, before
    // the request is recorded and answered (null: no observer). It runs under
    // the server's lock and must not call the server.
    void SetRequestObserver(std::function<void(const RecordedHttpRequest&)> observer);

    bool WaitForRequests(size_t count, std::chrono::milliseconds timeout) const;
    // Waits until |count| connections have sent at least one byte (HTTP or not).
    bool WaitForConnectionBytes(size_t count, std::chrono::milliseconds timeout) const;
    std::vector<RecordedHttpRequest> Requests() const;
    // The bytes received on each connection so far, in the order of acceptance.
    std::vector<std::string> ConnectionBytes() const;

private:
    struct State;
    class Connection;
    void Accept();
    std::unique_ptr<State> m_state;
};
