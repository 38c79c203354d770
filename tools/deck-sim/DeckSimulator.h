#pragma once
// deck-sim's server: the host application's WebSocket endpoint on 127.0.0.1
// (the plug-in and the property inspectors connect there; it behaves as the
// Stream Deck application or as OpenDeck), the page's HTTP and WebSocket
// endpoint, and the child processes (the plug-in and, optionally, the
// controller simulator). The protocol decisions are VirtualDeck's; this class
// moves messages between it and the connections.
//
// Threads: everything (both endpoints, signals, timers such as a Multi
// Action's step presses, a press's verdict or a restart's grace, child
// exits) runs on the one thread that calls Run;
// no locks. The controller simulator's launcher
// reads its lines on its own thread and only posts them to that loop.

#include <memory>

#include "deck-sim/DeckSimOptions.h"

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
