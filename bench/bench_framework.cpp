// One start-up and shut-down of the framework with the program's own component list.
#include <benchmark/benchmark.h>

#include "cm.h"
#include "cmplog.h"

namespace {

void BM_StartAndStopProgramList(benchmark::State& state) {
    for (auto _ : state) {
        RTS_RESULT r = CMInit2(nullptr, StaticComponentList, 1);
        benchmark::DoNotOptimize(r);
        CMExit();
    }
}
BENCHMARK(BM_StartAndStopProgramList)->Repetitions(9)->ReportAggregatesOnly(true);

} // namespace
