#pragma once
// The machine's own wake-up latency: how long a one-byte message takes to pass
// through a chain of sleeping threads, each woken by a Unix-domain
// SOCK_SEQPACKET socket, sent at the probe's pace (one message every 20-50 ms).
// The press row is held to a four-hop chain measured in the same minutes: the
// hand-offs a press once crossed (host link thread, controller write thread,
// pipe I/O thread, and one into the probe). The native plug-in now writes the
// command on the host link's thread, so its press crosses two of them.
// Used by handoff_latency and plugin_probe.
//
// Threads: MeasureHandOffs starts |hops| relay threads and joins them before it returns.

#include "Samples.h"

// One sample per message (milliseconds); fewer when a socket cannot be made.
Samples MeasureHandOffs(int hops, int messages);
