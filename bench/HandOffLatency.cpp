// The machine's floor under plugin_probe's key-press row (see HandOffChain.h).
// Usage: handoff_latency [--hops N] [--messages N]    (default 4 hops, 1000)

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "HandOffChain.h"

int main(int argc, char** argv) {
    int hops = 4;
    int messages = 1000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--hops") == 0) hops = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--messages") == 0) messages = std::max(1, std::atoi(argv[i + 1]));
    }
    Samples samples = MeasureHandOffs(hops, messages);
    if (samples.Count() == 0) {
        std::perror("socketpair");
        return 1;
    }
    std::printf("%d hand-offs, %zu messages: median %.3f ms, p99 %.3f ms, max %.3f ms\n", hops,
                samples.Count(), samples.Median(), samples.Percentile(99), samples.Max());
    return 0;
}
