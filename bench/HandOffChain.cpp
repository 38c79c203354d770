#include "HandOffChain.h"

#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

namespace {

// Passes every message from |in| to |out| until |in| is closed.
void Relay(int in, int out) {
    char buffer[64];
    while (true) {
        ssize_t size = read(in, buffer, sizeof buffer);
        if (size <= 0 || write(out, buffer, static_cast<size_t>(size)) != size) break;
    }
    close(out);
    close(in);
}

}  // namespace

Samples MeasureHandOffs(int hops, int messages) {
    using Clock = std::chrono::steady_clock;
    Samples samples;
    // pairs[i][0] is written by the previous stage, pairs[i][1] read by the next.
    std::vector<std::array<int, 2>> pairs;
    for (int i = 0; i <= hops; ++i) {
        std::array<int, 2> pair{};
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair.data()) != 0) break;
        pairs.push_back(pair);
    }
    if (pairs.size() != static_cast<size_t>(hops) + 1) {
        for (auto& pair : pairs) close(pair[0]), close(pair[1]);
        return samples;
    }
    std::vector<std::thread> relays;
    for (int i = 0; i < hops; ++i) relays.emplace_back(Relay, pairs[i][1], pairs[i + 1][0]);

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
    close(pairs.back()[1]);
    return samples;
}
