#pragma once
// deck-sim's server: the Stream Deck application's WebSocket endpoint on
// 127.0.0.1 (the plug-in and the property inspectors connect there), the
// page's HTTP and WebSocket endpoint, and the child processes (the plug-in
// and, optionally, the controller simulator). The protocol decisions are
// VirtualDeck's; this class moves messages between it and the connections.
//
// Threads: everything (both endpoints, child process I/O, signals, timers)
// runs on the one thread that calls Run; no locks.

#include <memory>

#include "DeckSimOptions.h"

class DeckSimulator {
public:
    explicit DeckSimulator(DeckSimOptions options);
    ~DeckSimulator();

    // Serves until Ctrl-C, SIGTERM or the page's Quit; returns 0 when the
    // plug-in then ended with status 0, 1 otherwise (2 when it cannot start).
    int Run();

private:
    struct State;
    std::unique_ptr<State> m_state;
};
