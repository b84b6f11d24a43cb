// The bounded formatter against the C library's snprintf on a typical log message, so the cost
// of the result-code layer stays visible.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "cmutils.h"

namespace {

constexpr const char* kFormat = "Error: Component <cmp>%s</cmp> init (%ld) failed";

void BM_CMUtlsnprintf(benchmark::State& state) {
    char buffer[128];
    long code = 17;
    for (auto _ : state) {
        RTS_RESULT r = CMUtlsnprintf(buffer, sizeof buffer, kFormat, "CmpSettings", code);
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(buffer);
        ++code;
    }
}
BENCHMARK(BM_CMUtlsnprintf);

void BM_snprintf(benchmark::State& state) {
    char buffer[128];
    long code = 17;
    for (auto _ : state) {
        int n = std::snprintf(buffer, sizeof buffer, kFormat, "CmpSettings", code);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(buffer);
        ++code;
    }
}
BENCHMARK(BM_snprintf);

// A buffer too small for the message: the cut path.
void BM_CMUtlsnprintfCut(benchmark::State& state) {
    char buffer[24];
    for (auto _ : state) {
        RTS_RESULT r = CMUtlsnprintf(buffer, sizeof buffer, kFormat, "CmpSettings", 17L);
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_CMUtlsnprintfCut);

} // namespace
