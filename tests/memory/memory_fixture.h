// Shared helpers of the memory tests: the framework fixture, readers of the pool layout, the
// result a failing call reports, and a program list with a stand-in memory tracker.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cm.h"
#include "cmplog.h"
#include "framework_fixture.h"
#include "log_reader.h"
#include "mempool.h"
#include "test_components.h"

namespace memtest {

using Framework = testfw::Framework;

inline PoolControlBlock* pcb(RTS_HANDLE pool) {
    return static_cast<PoolControlBlock*>(pool);
}

inline MemPoolBlockHeader* header(void* block) {
    return reinterpret_cast<MemPoolBlockHeader*>(static_cast<unsigned char*>(block) -
                                                 MEM_POOL_BLOCK_HEADER_SIZE);
}

// The used list of a pool, walked through the exported iteration.
inline std::vector<void*> used_list(RTS_HANDLE pool) {
    std::vector<void*> blocks;
    RTS_RESULT r = RES_OK;
    for (void* b = MemPoolGetFirstBlock(pool, &r); b != nullptr; b = MemPoolGetNextBlock(pool, b, &r))
        blocks.push_back(b);
    return blocks;
}

// The free list of a pool, walked through the control block (blocks as data addresses).
inline std::vector<void*> free_list(RTS_HANDLE pool) {
    std::vector<void*> blocks;
    for (MemPoolBlockHeader* h = pcb(pool)->FreeHead; h != nullptr; h = h->Next)
        blocks.push_back(reinterpret_cast<unsigned char*>(h) + MEM_POOL_BLOCK_HEADER_SIZE);
    return blocks;
}

inline bool filled_with(const void* block, RTS_SIZE size, unsigned char value) {
    const auto* bytes = static_cast<const unsigned char*>(block);
    for (RTS_SIZE i = 0; i < size; ++i)
        if (bytes[i] != value) return false;
    return true;
}

// What a call that hands back a value reports through its result pointer `r`, or kHandedOut
// when it handed back something other than its failure value (null, all ones, key all ones).
constexpr RTS_RESULT kHandedOut = 0x7FFFFFFF;
inline bool is_failure_value(const void* v) {
    return v == nullptr || v == RTS_INVALID_HANDLE;
}
inline bool is_failure_value(RTS_UI32 key) {
    return key == MEM_POOL_NO_KEY;
}
template <class Call> RTS_RESULT reported(Call call) {
    RTS_RESULT r = kHandedOut;
    return is_failure_value(call(&r)) ? r : kHandedOut;
}
#define RESULT_OF(call) memtest::reported([&](RTS_RESULT* r) { return call; })

// An export entry under the name a component imports, for a stand-in (a lambda without captures).
template <class F> CMExportEntry export_as(const char* name, F function) {
    return {reinterpret_cast<RTS_VOID_FCTPTR>(+function), name, 0, 0};
}

// The program's component list with test slot 0 added under the name "CmpMemGC", so that the
// heap adaptation imports the slot's exports as its memory tracker.
inline std::vector<StaticComponent> list_with_tracker(const CMExportEntry* exports) {
    testcmp::reset();
    testcmp::slot(0).id = 0x2000;
    testcmp::slot(0).exports = exports;
    std::vector<StaticComponent> list;
    for (const StaticComponent* e = StaticComponentList; e->name != nullptr; ++e) list.push_back(*e);
    list.push_back({"CmpMemGC", testcmp::entry(0), 0});
    list.push_back({nullptr, nullptr, 0});
    return list;
}

} // namespace memtest
