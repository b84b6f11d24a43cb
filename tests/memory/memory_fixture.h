// Shared helpers of the memory tests: a fixture that runs the framework with the program's own
// component list, and readers of the pool layout.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include <cstdint>
#include <string>
#include <vector>

#include "cm.h"
#include "cmplog.h"
#include "framework_fixture.h"
#include "log_reader.h"
#include "mempool.h"

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

} // namespace memtest
