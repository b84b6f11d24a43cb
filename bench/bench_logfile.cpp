/* Log files: entries per second written through the file backend by a logger dumped after
 * every entry and by one dumped in the communication cycle (4 entries per cycle), the cost of
 * one rotation (an entry on a logger whose file is always past its limit, against an entry that
 * never rotates), and, as the reference, the same line written with the C library's buffered
 * stdio. Files go to the temporary directory. */
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "cm.h"
#include "cmplog.h"
#include "cmutils.h"

namespace {

constexpr RTS_UI32 kFileBackend = 0x104;
constexpr RTS_UI32 kAlways = (LOG_DEFAULT_TYPE & ~LOG_DUMP_CYCLIC) | LOG_DUMP_ALWAYS;
constexpr RTS_I32 kLargeFile = 16 << 20; /* one rotation per some 200000 entries */

const std::string& directory() {
    static const std::string dir = [] {
        CMInit2(nullptr, StaticComponentList, 1);
        const auto d = std::filesystem::temp_directory_path() / "gc_bench_logfile";
        std::filesystem::create_directories(d);
        return d.string();
    }();
    return dir;
}

/* A logger of the given type writing <temporary directory>/name.csv through the file backend. */
RTS_HANDLE file_logger(const char* name, RTS_UI32 type, RTS_I32 maxFileSize, RTS_I32 maxFiles) {
    LogOptions o{"", 1, type, LOG_DEFAULT_FILTER, 1000, maxFileSize, maxFiles, nullptr};
    CMUtlSafeStrCpy(o.Name, sizeof o.Name, name);
    o.Path = const_cast<char*>(directory().c_str());
    RTS_HANDLE logger = LogCreate(&o, nullptr);
    LogRegisterBackend(logger, kFileBackend);
    return logger;
}

void add(RTS_HANDLE logger, benchmark::IterationCount i) {
    LogAdd(logger, 0x7001, LOG_INFO, 0, 0, "entry %d of the benchmark, a line of usual length",
           static_cast<int>(i));
}

void BM_FileDumpAlways(benchmark::State& state) {
    static RTS_HANDLE logger = file_logger("Always", kAlways, kLargeFile, 1);
    for (auto _ : state) add(logger, state.iterations());
    state.SetItemsProcessed(state.iterations());
}

/* Four entries, then the communication cycle that writes them. */
void BM_FileDumpCyclic(benchmark::State& state) {
    static RTS_HANDLE logger = file_logger("Cyclic", LOG_DEFAULT_TYPE, kLargeFile, 1);
    for (auto _ : state) {
        for (int i = 0; i < 4; ++i) add(logger, state.iterations());
        CMCallHook(CH_COMM_CYCLE, 0, nullptr, 0);
    }
    state.SetItemsProcessed(state.iterations() * 4);
}

/* Every entry finds the file past its limit of one byte: a rotation through two numbered
 * backups, then the entry. */
void BM_FileRotateEachEntry(benchmark::State& state) {
    static RTS_HANDLE logger = file_logger("Rotating", kAlways, 1, 2);
    for (auto _ : state) add(logger, state.iterations());
    state.SetItemsProcessed(state.iterations());
}

/* The reference: the same line formatted and written with buffered stdio. */
void BM_StdioLine(benchmark::State& state) {
    FILE* f = std::fopen((directory() + "/stdio.csv").c_str(), "wb");
    for (auto _ : state)
        std::fprintf(f,
                     "2026-01-01T00:00:00.000Z, 0x%08x, %d, %d, %u, entry %d of the benchmark, a line of "
                     "usual length\r\n",
                     0x7001u, 1, 0, 0u, static_cast<int>(state.iterations()));
    std::fclose(f);
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_FileDumpAlways);
BENCHMARK(BM_FileDumpCyclic);
BENCHMARK(BM_FileRotateEachEntry);
BENCHMARK(BM_StdioLine);
