#pragma once
// The machine's own wake-up latency: how long a one-byte message takes to pass
// through a chain of sleeping threads, each woken by a Unix-domain
// SOCK_SEQPACKET socket, sent at the probe's pace (one message every 20-50 ms).
// The wake-up cost alone, without a WebSocket or any text: plugin_probe holds
// the press row to PressFloor, which crosses what a press crosses.
// Used by handoff_latency.
//
// Threads: MeasureHandOffs starts |hops| relay threads and joins them before it returns.

#include "Samples.h"

// One sample per message (milliseconds); fewer when a socket cannot be made.
Samples MeasureHandOffs(int hops, int messages);
