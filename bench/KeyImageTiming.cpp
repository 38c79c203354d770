// Plain timing loop for the Windows build, where Google Benchmark is not
// packaged: the same work as KeyImageBench.cpp, figures on standard output.
#include <chrono>
#include <cstdio>

#include "KeyImageWork.h"

int main() {
    KeyImageWork work;
    if (!work.Ready()) {
        std::fprintf(stderr, "key images missing beside the executable\n");
        return 1;
    }
    using Clock = std::chrono::steady_clock;
    size_t length = work.ComposeAndEncode();  // warm-up
    const int rounds = 5;
    const int iterations = 200;
    double best = 0;
    for (int round = 0; round < rounds; ++round) {
        auto start = Clock::now();
        for (int i = 0; i < iterations; ++i) length = work.ComposeAndEncode();
        double perKey = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / iterations;
        if (round == 0 || perKey < best) best = perKey;
        std::printf("round %d: compose-and-encode %.1f us per key\n", round + 1, perKey);
    }
    size_t count = 0;
    double average = KeyImageWork::AverageBase64Size(&count);
    std::printf(
        "compose-and-encode (144x144, status + transient overlay): best %.1f us per key, %zu Base64 bytes\n",
        best, length);
    std::printf("average Base64 size of %zu plug-in images: %.0f bytes\n", count, average);
    return 0;
}
