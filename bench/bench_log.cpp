// What one log entry costs: LogAdd of a message with an integer and a short string into the
// standard logger (on one thread and on two), beside the bare formatting of the same message
// into 128 bytes (by the C library and by the framework's formatter), and, where it is installed, the
// ring-buffer sink of the logging library a C++ team would otherwise pick.
#include <benchmark/benchmark.h>

#include <cstdarg>
#include <cstdio>

#include "cm.h"
#include "cmplog.h"
#include "cmutils.h"

#ifdef GC_BENCH_SPDLOG
#include <spdlog/logger.h>
#include <spdlog/sinks/ringbuffer_sink.h>
#endif

namespace {

constexpr const char* kFormat = "Gateway request %d for <name>%s</name> answered";
constexpr const char* kName = "ServiceControl";
constexpr int kRingEntries = 500; // the standard logger's ring

// The framework with the program's own list, started once for all benchmarks.
void start_framework() {
    static const RTS_RESULT started = CMInit2(nullptr, StaticComponentList, 1);
    benchmark::DoNotOptimize(started);
}

void BM_LogAdd(benchmark::State& state) {
    if (state.thread_index() == 0) start_framework();
    int i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(LogAdd(nullptr, 0xFFFF, LOG_INFO, 0, 0, kFormat, ++i, kName));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogAdd)->Threads(1)->Threads(2)->UseRealTime();

// The same on a logger whose entries carry no timestamp: what the ring itself costs beside the
// formatting, without the clock read the standard logger's timestamp kind needs.
void BM_LogAddWithoutTimestamp(benchmark::State& state) {
    start_framework();
    static const LogOptions options{"NoClock", 1, LOG_TYPE_NORMAL, LOG_DEFAULT_FILTER, kRingEntries,
                                    0,         0, nullptr};
    static const RTS_HANDLE logger = LogCreate(&options, nullptr);
    int i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(LogAdd(logger, 0xFFFF, LOG_INFO, 0, 0, kFormat, ++i, kName));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogAddWithoutTimestamp);

// The formatters LogAdd could stand on, each into a 128-byte buffer: the C library's, the floor
// of a ring that formats straight into its slot, and the framework's own, which LogAdd uses.
int c_library(char* buffer, const char* format, va_list* args) {
    return std::vsnprintf(buffer, LOG_INFO_TEXT_SIZE, format, *args);
}

int framework(char* buffer, const char* format, va_list* args) {
    return CMUtlvsnprintf(buffer, LOG_INFO_TEXT_SIZE, format, args);
}

template <int (*Format)(char*, const char*, va_list*)>
int format_bare(char* buffer, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = Format(buffer, format, &args);
    va_end(args);
    return n;
}

template <int (*Format)(char*, const char*, va_list*)> void BM_Bare(benchmark::State& state) {
    char buffer[LOG_INFO_TEXT_SIZE];
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(format_bare<Format>(buffer, kFormat, ++i, kName));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Bare<c_library>)->Name("BM_BareVsnprintf128");
BENCHMARK(BM_Bare<framework>)->Name("BM_BareFrameworkFormatter128");

#ifdef GC_BENCH_SPDLOG
void BM_SpdlogRingbufferSink(benchmark::State& state) {
    static auto sink = std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(kRingEntries);
    static spdlog::logger logger("bench", sink);
    int i = 0;
    for (auto _ : state) logger.info("Gateway request {} for <name>{}</name> answered", ++i, kName);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SpdlogRingbufferSink)->Threads(1)->Threads(2)->UseRealTime();
#endif

} // namespace
