// The machine's floor under the key-press row of plugin_probe: how long a
// small message takes to pass through a chain of sleeping threads, each woken
// by a Unix-domain SOCK_SEQPACKET socket, at the probe's pace (one message
// every 20-50 ms). A press crosses three such hand-offs in the plug-in (host
// link thread, controller write thread, pipe I/O thread) and one more into
// the probe, so the plug-in's press latency cannot beat this chain's.
// Usage: handoff_latency [--hops N] [--messages N]    (default 4 hops, 1000)

#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "Samples.h"

namespace {

using Clock = std::chrono::steady_clock;

// Passes every message from |in| to |out| until |in| is closed.
void Relay(int in, int out) {
    char buffer[64];
    while (true) {
        ssize_t size = read(in, buffer, sizeof buffer);
        if (size <= 0 || write(out, buffer, static_cast<size_t>(size)) != size) break;
    }
    close(out);
}

}  // namespace

int main(int argc, char** argv) {
    int hops = 4;
    int messages = 1000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--hops") == 0) hops = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--messages") == 0) messages = std::max(1, std::atoi(argv[i + 1]));
    }
    // pairs[i][0] is written by the previous stage, pairs[i][1] read by the next.
    std::vector<std::array<int, 2>> pairs(static_cast<size_t>(hops) + 1);
    for (auto& pair : pairs) {
        if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair.data()) != 0) {
            std::perror("socketpair");
            return 1;
        }
    }
    std::vector<std::thread> relays;
    for (int i = 0; i < hops; ++i) relays.emplace_back(Relay, pairs[i][1], pairs[i + 1][0]);

    Samples samples;
    std::mt19937 random(7);
    for (int i = 0; i < messages; ++i) {
        auto sentAt = Clock::now();
        char byte = 'x';
        if (write(pairs.front()[0], &byte, 1) != 1 || read(pairs.back()[1], &byte, 1) != 1) break;
        samples.Add(std::chrono::duration<double, std::milli>(Clock::now() - sentAt).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 30));
    }
    close(pairs.front()[0]);  // ends the relays one after the other
    for (auto& relay : relays) relay.join();
    std::printf("%d hand-offs, %zu messages: median %.3f ms, p99 %.3f ms, max %.3f ms\n", hops,
                samples.Count(), samples.Median(), samples.Percentile(99), samples.Max());
    return 0;
}
