// Google Benchmark driver: one key redraw, and the average encoded size of the plug-in's images.
#include <benchmark/benchmark.h>

#include "KeyImageWork.h"

namespace {

void BM_ComposeAndEncodeKey(benchmark::State& state) {
    KeyImageWork work;
    if (!work.Ready()) {
        state.SkipWithError("key images missing beside the executable");
        return;
    }
    size_t length = 0;
    for (auto _ : state) benchmark::DoNotOptimize(length = work.ComposeAndEncode());
    state.counters["base64_bytes"] = static_cast<double>(length);
}
BENCHMARK(BM_ComposeAndEncodeKey)->Unit(benchmark::kMicrosecond);

void BM_AverageBase64SizeOfPluginImages(benchmark::State& state) {
    KeyImageWork work;  // keeps the image library running
    size_t count = 0;
    double average = 0;
    for (auto _ : state) benchmark::DoNotOptimize(average = KeyImageWork::AverageBase64Size(&count));
    state.counters["images"] = static_cast<double>(count);
    state.counters["avg_base64_bytes"] = average;
}
BENCHMARK(BM_AverageBase64SizeOfPluginImages)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
