#pragma once
// The least a key press can cost on this machine, measured the way the
// plug-in's press is: a WebSocket client of the stand-in host whose reader
// thread sleeps in epoll_wait, takes each "keyDown" text out of its frame and
// hands it to a queue; a writer thread takes it from there and writes it as
// one message on the controller pipe's socket (SOCK_SEQPACKET), where the
// probe reads it. Between the two: one lock and one condition variable, no
// parse, no log, no allocation beyond the text's string. That is the path of
// a press through a host link thread and a controller write thread, so the
// probe runs its press loop against it (same pace, same count, same minutes)
// and the plug-in's press row is held to its p99.
//
// Threads: Start and Stop (and the destructor) on the owner's thread. The
// reader thread owns the WebSocket's socket and the stop eventfd's reading;
// the writer thread owns the pipe's socket. m_lock guards m_queue and
// m_stopping; the writer waits on m_queued.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

class PressFloor {
public:
    PressFloor() = default;
    ~PressFloor();
    PressFloor(const PressFloor&) = delete;
    PressFloor& operator=(const PressFloor&) = delete;

    // Connects to the WebSocket server on 127.0.0.1:|port| and to the
    // SOCK_SEQPACKET server at |pipePath|, then starts both threads; false
    // (with nothing left running) when a connection or the handshake fails.
    bool Start(unsigned short port, const std::string& pipePath);
    // Ends both threads and closes both connections.
    void Stop();

    // The payload of the first whole server frame in |buffer| (unmasked, as
    // a server sends): |frameSize| is set to the bytes it takes, 0 while the
    // frame is not complete. Exposed for its test.
    static bool TakeFrame(const std::string& buffer, size_t& frameSize, std::string& payload, bool& isText);

private:
    bool OpenWebSocket(unsigned short port);
    bool OpenPipe(const std::string& pipePath);
    void ReaderProc();
    void WriterProc();
    // Queues every "keyDown" text of the frames now in m_received.
    void HandOverFrames();
    void CloseAll();

    int m_socket = -1;  // the WebSocket's TCP connection
    int m_pipe = -1;    // the controller pipe's connection
    int m_stopFd = -1;  // eventfd: Stop wakes the reader
    int m_epoll = -1;
    std::string m_received;  // reader thread only: bytes not yet made into frames

    std::mutex m_lock;
    std::condition_variable m_queued;
    std::deque<std::string> m_queue;  // guarded by m_lock
    bool m_stopping = false;          // guarded by m_lock

    std::thread m_reader;
    std::thread m_writer;
};
