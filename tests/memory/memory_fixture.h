// Shared helpers of the memory tests: the framework fixture, readers of the pool layout, the
// result a failing call reports, and stand-in components that a memory component imports from.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "framework_fixture.h"
#include "log_reader.h"
#include "mempool.h"
#include "test_components.h"

namespace memtest {

using Framework = testfw::Framework;

inline constexpr auto pcb = [](RTS_HANDLE pool) { return static_cast<PoolControlBlock*>(pool); };
inline constexpr auto header = [](void* block) {
    return reinterpret_cast<MemPoolBlockHeader*>(static_cast<unsigned char*>(block) -
                                                 MEM_POOL_BLOCK_HEADER_SIZE);
};

// The used list of a pool, walked through the exported iteration.
inline std::vector<void*> used_list(RTS_HANDLE pool) {
    std::vector<void*> blocks;
    for (void* b = MemPoolGetFirstBlock(pool, nullptr); b != nullptr;
         b = MemPoolGetNextBlock(pool, b, nullptr))
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
    return std::all_of(bytes, bytes + size, [value](unsigned char b) { return b == value; });
}

// What a call reports through its result pointer `r`, or kHandedOut when it handed back
// something other than its failure value (null, all ones, the key of no block).
constexpr RTS_RESULT kHandedOut = 0x7FFFFFFF;
inline bool is_failure_value(const void* v) {
    return v == nullptr || v == RTS_INVALID_HANDLE;
}
inline bool is_failure_value(RTS_UI32 key) {
    return key == MEM_POOL_NO_KEY;
}
#define RESULT_OF(call)                                                                                      \
    [&] {                                                                                                    \
        RTS_RESULT result = memtest::kHandedOut;                                                             \
        RTS_RESULT* r = &result;                                                                             \
        return memtest::is_failure_value(call) ? result : memtest::kHandedOut;                               \
    }()

// An export entry under the name a component imports, for a stand-in function or lambda.
template <class F> CMExportEntry export_as(const char* name, F function) {
    return {reinterpret_cast<RTS_VOID_FCTPTR>(+function), name, 0, 0};
}

// Starts the framework with test slot 0 exporting the stand-ins, as a system component (so the
// memory components find them at CH_INIT_SYSTEM) named "CmpMemGC" (so SysMem takes it for its
// memory tracker), after the program's own components.
inline RTS_RESULT start_with(const CMExportEntry* standIns) {
    static std::vector<StaticComponent> list;
    testcmp::reset();
    testcmp::slot(0) = {.id = 0x2000, .exports = standIns};
    list.clear();
    for (const StaticComponent* e = StaticComponentList; e->name != nullptr; ++e) list.push_back(*e);
    list.push_back({"CmpMemGC", testcmp::entry(0), 1});
    list.push_back({nullptr, nullptr, 0});
    return CMInit2(nullptr, list.data(), 1);
}

} // namespace memtest
