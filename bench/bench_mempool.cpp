// Pool blocks against the process heap, and dictionary lookups: MemPoolGetBlock + MemPoolPutBlock
// on a pool with its lock beside malloc + free of the same size, and ObjManDictionaryGetObject
// on a dictionary of 100000 objects.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "cm.h"
#include "mempool.h"
#include "objmgr.h"

namespace {

constexpr RTS_SIZE kBlockSize = 64;

// The framework runs for the whole program, so pools get their locks.
struct Framework {
    Framework() { CMInit2(nullptr, StaticComponentList, 1); }
    ~Framework() { CMExit(); }
};
Framework g_framework;

void BM_PoolGetPut(benchmark::State& state) {
    RTS_HANDLE pool = MemPoolCreateDynamic("Bench", 64, kBlockSize, nullptr);
    if (MemPoolLock(pool) != RES_OK) state.SkipWithError("pool has no lock");
    MemPoolUnlock(pool);
    for (auto _ : state) {
        void* block = MemPoolGetBlock(pool, nullptr);
        benchmark::DoNotOptimize(block);
        MemPoolPutBlock(block);
    }
    MemPoolDelete(pool, "Bench");
}
BENCHMARK(BM_PoolGetPut);

void BM_MallocFree(benchmark::State& state) {
    for (auto _ : state) {
        void* block = std::malloc(kBlockSize);
        benchmark::DoNotOptimize(block);
        std::free(block);
    }
}
BENCHMARK(BM_MallocFree);

void BM_DictionaryGetObject(benchmark::State& state) {
    constexpr RTS_UINTPTR kObjects = 100000;
    RTS_HANDLE d = ObjManDictionaryOpen(1, kObjects, static_cast<RTS_I32>(state.range(0)));
    std::vector<RTS_UI32> keys;
    keys.reserve(kObjects);
    for (RTS_UINTPTR i = 0; i < kObjects; ++i) keys.push_back(ObjManDictionaryAddObject(d, 0x10000 + i * 16));
    size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ObjManDictionaryGetObject(d, keys[next]));
        next = next + 7919 < kObjects ? next + 7919 : next + 7919 - kObjects;
    }
    state.SetItemsProcessed(state.iterations());
    ObjManDictionaryClose(d);
}
BENCHMARK(BM_DictionaryGetObject)->Arg(0)->Arg(1)->ArgName("locked");

} // namespace
