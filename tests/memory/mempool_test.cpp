// Memory pools: layout and rounding, the free and used lists, extension, deletion with leak
// reports, locking before and after the component's init, lock-free removal, hashed blocks,
// and bad input that must be refused without touching any list.
#include <thread>

#include "memory_fixture.h"
#include "syssem.h"

namespace {

using memtest::filled_with;
using memtest::free_list;
using memtest::header;
using memtest::pcb;
using memtest::used_list;

class MemPool : public memtest::Framework {};

alignas(8) unsigned char g_area[4096];

TEST_F(MemPool, StaticPoolHoldsOnlyWhatFitsUntilExtended) {
    RTS_RESULT r = RES_FAILED;
    RTS_HANDLE pool = MemPoolCreateStatic(168, 272, g_area, &r);
    ASSERT_EQ(r, RES_OK);
    EXPECT_EQ(pool, static_cast<void*>(g_area));
    void* first = MemPoolGetBlock(pool, &r);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, g_area + 64 + 24);
    EXPECT_EQ(MemPoolGetBlock(pool, &r), nullptr);
    EXPECT_EQ(r, RES_INVALID_HANDLE);
    ASSERT_EQ(MemPoolExtendDynamic(pool, "Test", 1), RES_OK);
    void* second = MemPoolGetBlock(pool, &r);
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(r, RES_OK);
    EXPECT_EQ(MemPoolDelete(pool, "Test"), RES_OK);
}

TEST_F(MemPool, BlockSizeIsRoundedAndReleasedDataIsMarked) {
    RTS_RESULT r = RES_FAILED;
    RTS_HANDLE pool = MemPoolCreateDynamic("Test", 4, 13, &r);
    ASSERT_EQ(r, RES_OK);
    EXPECT_EQ(pcb(pool)->BlockSize, 16u);
    auto* block = static_cast<unsigned char*>(MemPoolGetBlock(pool, &r));
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(filled_with(block, 16, 0x00));
    std::memset(block, 0x5C, 16);
    ASSERT_EQ(MemPoolPutBlock(block), RES_OK);
    EXPECT_TRUE(filled_with(block, 16, 0xAA));
    // Taken again (the free list is last in, first out), it reads as zeros once more.
    EXPECT_EQ(MemPoolGetBlock(pool, &r), block);
    EXPECT_TRUE(filled_with(block, 16, 0x00));
    MemPoolDelete(pool, "Test");
}

TEST_F(MemPool, CreationRefusesBadArguments) {
    struct Case {
        const char* name;
        RTS_SIZE blockSize;
        RTS_SIZE memSize;
        void* memory;
        RTS_RESULT expected;
    };
    const Case cases[] = {
        {"null memory", 16, 256, nullptr, RES_PARAMETER},
        {"zero memory size", 16, 0, g_area, RES_PARAMETER},
        {"zero block size", 0, 256, g_area, RES_PARAMETER},
        {"below the control block", 16, 63, g_area, RES_NOMEMORY},
        {"control block misses the end after alignment", 16, 64, g_area + 1, RES_NOMEMORY},
    };
    for (const Case& c : cases) {
        RTS_RESULT r = RES_OK;
        EXPECT_EQ(MemPoolCreateStatic(c.blockSize, c.memSize, c.memory, &r), RTS_INVALID_HANDLE) << c.name;
        EXPECT_EQ(r, c.expected) << c.name;
    }
    RTS_RESULT r = RES_OK;
    EXPECT_EQ(MemPoolCreateDynamic(nullptr, 4, 16, &r), RTS_INVALID_HANDLE);
    EXPECT_EQ(r, RES_PARAMETER);
    EXPECT_EQ(MemPoolCreateDynamic("Test", 0, 16, &r), RTS_INVALID_HANDLE);
    EXPECT_EQ(r, RES_PARAMETER);
    EXPECT_EQ(MemPoolCreate(nullptr, &r), RTS_INVALID_HANDLE);
    EXPECT_EQ(r, RES_PARAMETER);
    MemPoolCreateInfo both{MEM_POOL_STATIC | MEM_POOL_DYNAMIC, nullptr, 16, 256,
                           reinterpret_cast<RTS_UINTPTR>(g_area)};
    EXPECT_EQ(MemPoolCreate(&both, &r), RTS_INVALID_HANDLE);
    EXPECT_EQ(r, RES_PARAMETER);
}

TEST_F(MemPool, ControlBlockSitsAtFirstEightByteBoundary) {
    RTS_RESULT r = RES_FAILED;
    RTS_HANDLE pool = MemPoolCreateStatic(8, 200, g_area + 1, &r);
    ASSERT_EQ(r, RES_OK);
    EXPECT_EQ(pool, static_cast<void*>(g_area + 8));
    // First header at 8 + 64 = 72; blocks of 32 bytes until 201: four of them.
    const auto blocks = free_list(pool);
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[0], g_area + 72 + 24);
    EXPECT_EQ(blocks[3], g_area + 72 + 3 * 32 + 24);
    MemPoolDelete(pool, "Test");
}

TEST_F(MemPool, UsedListKeepsOrderAndTail) {
    RTS_HANDLE pool = MemPoolCreateDynamic("Test", 8, 16, nullptr);
    void* a = MemPoolGetBlock(pool, nullptr);
    void* b = MemPoolGetBlock(pool, nullptr);
    void* c = MemPoolGetBlock(pool, nullptr);
    void* d = MemPoolGetBlock(pool, nullptr);
    ASSERT_EQ(MemPoolAppendUsedBlock(a), RES_OK);
    ASSERT_EQ(MemPoolAppendUsedBlock(b), RES_OK);
    ASSERT_EQ(MemPoolAppendUsedBlock(c), RES_OK);
    ASSERT_EQ(MemPoolRemoveUsedBlock(b), RES_OK);
    EXPECT_EQ(used_list(pool), (std::vector<void*>{a, c}));
    ASSERT_EQ(MemPoolRemoveUsedBlock(c), RES_OK);
    EXPECT_EQ(pcb(pool)->UsedTail, header(a));
    ASSERT_EQ(MemPoolAppendUsedBlock(d), RES_OK);
    EXPECT_EQ(used_list(pool), (std::vector<void*>{a, d}));
    ASSERT_EQ(MemPoolInsertUsedBlock(d, b), RES_OK); // after the tail: becomes the tail
    ASSERT_EQ(MemPoolAddUsedBlock(c), RES_OK);
    EXPECT_EQ(used_list(pool), (std::vector<void*>{c, a, d, b}));
    EXPECT_EQ(pcb(pool)->UsedTail, header(b));
    for (void* block : {a, b, c, d}) ASSERT_EQ(MemPoolRemoveUsedBlock(block), RES_OK);
    RTS_RESULT r = RES_OK;
    EXPECT_EQ(MemPoolGetFirstBlock(pool, &r), nullptr);
    EXPECT_EQ(r, RES_NO_OBJECT);
    MemPoolDelete(pool, "Test");
}

TEST_F(MemPool, InsertAfterBlockOfAnotherPoolIsRefused) {
    RTS_HANDLE one = MemPoolCreateDynamic("Test", 2, 16, nullptr);
    RTS_HANDLE two = MemPoolCreateDynamic("Test", 2, 16, nullptr);
    void* mine = MemPoolGetBlock(one, nullptr);
    void* foreign = MemPoolGetBlock(two, nullptr);
    ASSERT_EQ(MemPoolAppendUsedBlock(foreign), RES_OK);
    EXPECT_EQ(MemPoolInsertUsedBlock(foreign, mine), RES_PARAMETER);
    EXPECT_TRUE(used_list(one).empty());
    EXPECT_EQ(used_list(two), std::vector<void*>{foreign});
    MemPoolRemoveUsedBlock(foreign);
    MemPoolDelete(one, "Test");
    MemPoolDelete(two, "Test");
}

TEST_F(MemPool, BadBlocksAndHandlesLeaveListsIntact) {
    RTS_HANDLE pool = MemPoolCreateDynamic("Test", 4, 16, nullptr);
    void* used = MemPoolGetBlock(pool, nullptr);
    void* taken = MemPoolGetBlock(pool, nullptr);
    void* released = MemPoolGetBlock(pool, nullptr);
    ASSERT_EQ(MemPoolAppendUsedBlock(used), RES_OK);
    ASSERT_EQ(MemPoolPutBlock(released), RES_OK);
    alignas(8) unsigned char foreign[64] = {};
    void* foreignBlock = foreign + 32;
    const auto freeBefore = free_list(pool);

    struct Case {
        const char* name;
        RTS_RESULT result;
        RTS_RESULT expected;
    };
    const Case cases[] = {
        {"give back twice", MemPoolPutBlock(released), RES_PARAMETER},
        {"give back while in the used list", MemPoolPutBlock(used), RES_PARAMETER},
        {"append twice", MemPoolAppendUsedBlock(used), RES_PARAMETER},
        {"add a free block", MemPoolAddUsedBlock(released), RES_PARAMETER},
        {"remove a block not in the list", MemPoolRemoveUsedBlock(taken), RES_PARAMETER},
        {"give back a block of no pool", MemPoolPutBlock(foreignBlock), RES_PARAMETER},
        {"give back null", MemPoolPutBlock(nullptr), RES_PARAMETER},
        {"append null", MemPoolAppendUsedBlock(nullptr), RES_PARAMETER},
        {"append to a foreign pool", MemPoolAppendUsedBlockToPool(taken, foreign), RES_PARAMETER},
        {"lock all ones", MemPoolLock(RTS_INVALID_HANDLE), RES_PARAMETER},
        {"lock null", MemPoolLock(nullptr), RES_PARAMETER},
        {"extend a foreign pool", MemPoolExtendDynamic(foreign, "Test", 1), RES_INVALID_HANDLE},
        {"extend by zero", MemPoolExtendDynamic(pool, "Test", 0), RES_PARAMETER},
        {"delete a foreign pool", MemPoolDelete(foreign, "Test"), RES_INVALID_HANDLE},
        {"valid block, pool all ones", MemPoolIsValidBlock(RTS_INVALID_HANDLE, used), RES_PARAMETER},
        {"valid block, null block", MemPoolIsValidBlock(pool, nullptr), RES_PARAMETER},
        {"valid block, taken but unlisted", MemPoolIsValidBlock(pool, taken), RES_FAILED},
        {"release ref without reader", MemPoolReleaseRef_LF(pool), RES_FAILED},
        {"release blocks of all ones", MemPoolReleaseBlocks(RTS_INVALID_HANDLE, 0, nullptr), RES_PARAMETER},
    };
    for (const Case& c : cases) EXPECT_EQ(c.result, c.expected) << c.name;

    RTS_RESULT r = RES_OK;
    EXPECT_EQ(MemPoolGetBlock(foreign, &r), nullptr);
    EXPECT_EQ(r, RES_INVALID_HANDLE);
    EXPECT_EQ(MemPoolFindBlock(pool, 8, 16, used, &r), nullptr); // runs past the block's data
    EXPECT_EQ(r, RES_PARAMETER);
    EXPECT_EQ(free_list(pool), freeBefore);
    EXPECT_EQ(used_list(pool), std::vector<void*>{used});
    EXPECT_TRUE(filled_with(released, 16, 0xAA));
    MemPoolRemoveUsedBlock(used);
    MemPoolDelete(pool, "Test");
    // A deleted static pool no longer answers to its handle.
    RTS_HANDLE gone = MemPoolCreateStatic(16, 256, g_area, nullptr);
    ASSERT_EQ(MemPoolDelete(gone, "Test"), RES_OK);
    EXPECT_EQ(MemPoolGetBlock(gone, &r), nullptr);
    EXPECT_EQ(MemPoolDelete(gone, "Test"), RES_INVALID_HANDLE);
}

TEST_F(MemPool, DeleteReportsEveryUsedBlockAsLeak) {
    RTS_HANDLE pool = MemPoolCreateDynamic("Leaker", 4, 24, nullptr);
    MemPoolAppendUsedBlock(MemPoolGetBlock(pool, nullptr));
    MemPoolAppendUsedBlock(MemPoolGetBlock(pool, nullptr));
    MemPoolGetBlock(pool, nullptr); // taken but not listed: not findable, not reported
    LogEarlyBufferClear();
    ASSERT_EQ(MemPoolDelete(pool, "Leaker"), RES_OK);
    EXPECT_EQ(testlog::count_starting("**** Pool leak: Cmp=Leaker, hPool=0x"), 2);
    for (const auto& t : testlog::texts()) EXPECT_NE(t.find("Size=24"), std::string::npos) << t;
}

TEST_F(MemPool, CleanupFreesExtensionsAndHandsOutNothing) {
    RTS_HANDLE pool = MemPoolCreateStatic(16, 64 + 40, g_area, nullptr);
    ASSERT_EQ(MemPoolExtendDynamic(pool, "Test", 2), RES_OK);
    void* inExtension = MemPoolGetBlock(pool, nullptr);
    MemPoolAppendUsedBlock(inExtension);
    void* inArea = nullptr;
    while (void* b = MemPoolGetBlock(pool, nullptr)) inArea = b;
    ASSERT_EQ(inArea, g_area + 64 + 24);
    MemPoolAppendUsedBlock(inArea);
    LogEarlyBufferClear();
    ASSERT_EQ(MemPoolCleanup(pool, "Test", 1), RES_OK);
    EXPECT_EQ(testlog::count_starting("**** Pool leak"), 1);
    EXPECT_EQ(used_list(pool), std::vector<void*>{inArea});
    EXPECT_EQ(MemPoolGetBlock(pool, nullptr), nullptr);
    EXPECT_EQ(MemPoolLock(pool), RES_NOTIMPLEMENTED);
    MemPoolRemoveUsedBlock(inArea);
    EXPECT_EQ(MemPoolDelete(pool, "Test"), RES_OK);
}

TEST_F(MemPool, StaticExtensionIsTheLastOne) {
    RTS_HANDLE pool = MemPoolCreateDynamic("Test", 1, 16, nullptr);
    alignas(8) static unsigned char extension[64 + 2 * 40 + 8];
    EXPECT_EQ(MemPoolExtendStatic(pool, 60, extension), RES_NOMEMORY);
    ASSERT_EQ(MemPoolExtendStatic(pool, sizeof extension, extension), RES_OK);
    EXPECT_EQ(free_list(pool).size(), 3u);
    EXPECT_EQ(free_list(pool)[0], extension + 16 + 24);
    EXPECT_EQ(MemPoolExtendDynamic(pool, "Test", 1), RES_INVALID_HANDLE);
    EXPECT_EQ(MemPoolExtendStatic(pool, sizeof extension, extension), RES_INVALID_HANDLE);
    RTS_RESULT r = RES_OK;
    EXPECT_EQ(MemPoolGetBlock2(pool, 1, "Test", &r), extension + 16 + 24);
    MemPoolGetBlock(pool, nullptr);
    MemPoolGetBlock(pool, nullptr);
    EXPECT_EQ(MemPoolGetBlock2(pool, 1, "Test", &r), nullptr);
    EXPECT_EQ(r, RES_NOMEMORY);
    MemPoolDelete(pool, "Test");
}

TEST_F(MemPool, FindBlockMatchesDataBytes) {
    RTS_HANDLE pool = MemPoolCreateDynamic("Test", 4, 16, nullptr);
    const char* names[] = {"alpha", "beta", "gamma"};
    std::vector<void*> blocks;
    for (const char* n : names) {
        auto* b = static_cast<char*>(MemPoolGetBlock(pool, nullptr));
        std::strcpy(b + 4, n);
        MemPoolAppendUsedBlock(b);
        blocks.push_back(b);
    }
    RTS_RESULT r = RES_FAILED;
    EXPECT_EQ(MemPoolFindBlock(pool, 4, 5, "beta", &r), blocks[1]);
    EXPECT_EQ(r, RES_OK);
    EXPECT_EQ(MemPoolFindBlock(pool, 4, 6, "delta", &r), nullptr);
    EXPECT_EQ(r, RES_PARAMETER);
    for (void* b : blocks) MemPoolRemoveUsedBlock(b);
    MemPoolDelete(pool, "Test");
}

TEST_F(MemPool, IsValidBlockKeepsThePoolLocked) {
    RTS_HANDLE pool = MemPoolCreateDynamic("Test", 2, 16, nullptr);
    void* block = MemPoolGetBlock(pool, nullptr);
    MemPoolAppendUsedBlock(block);
    const RTS_HANDLE lock = pcb(pool)->Lock;
    ASSERT_NE(lock, RTS_INVALID_HANDLE);
    auto triedFromOtherThread = [&] {
        RTS_RESULT r = RES_FAILED;
        std::thread t([&] {
            r = SysSemTry(lock);
            if (r == RES_OK) SysSemLeave(lock);
        });
        t.join();
        return r;
    };
    ASSERT_EQ(MemPoolIsValidBlock(pool, block), RES_OK);
    EXPECT_EQ(triedFromOtherThread(), RES_FAILED);
    ASSERT_EQ(MemPoolUnlock(pool), RES_OK);
    EXPECT_EQ(triedFromOtherThread(), RES_OK);
    MemPoolRemoveUsedBlock(block);
    EXPECT_EQ(MemPoolIsValidBlock(pool, block), RES_FAILED);
    EXPECT_EQ(triedFromOtherThread(), RES_OK);
    MemPoolDelete(pool, "Test");
}

TEST_F(MemPool, LockFreeRemovalWaitsForReaders) {
    static int released = 0;
    released = 0;
    MemPoolCreateInfo info{MEM_POOL_DYNAMIC,
                           [](void*, void* param) { released += *static_cast<int*>(param); },
                           reinterpret_cast<RTS_UINTPTR>("Test"), 4, 16};
    RTS_HANDLE pool = MemPoolCreate(&info, nullptr);
    ASSERT_NE(pool, RTS_INVALID_HANDLE);
    void* a = MemPoolGetBlock(pool, nullptr);
    void* b = MemPoolGetBlock(pool, nullptr);
    MemPoolAppendUsedBlock(a);
    MemPoolAppendUsedBlock(b);

    ASSERT_EQ(MemPoolIsValidBlock_LF(pool, a), RES_OK); // a reader holds a reference
    EXPECT_EQ(MemPoolLock_LF(pool), RES_BUSY);
    MemPoolUnlock_LF(pool);
    EXPECT_EQ(MemPoolRemoveUsedBlock_LF(a), RES_PENDING);
    EXPECT_EQ(MemPoolIsValidBlock_LF(pool, a), RES_PARAMETER); // pending blocks are skipped
    int weight = 10;
    EXPECT_EQ(MemPoolReleaseBlocks(pool, 1, &weight), RES_PENDING);
    EXPECT_EQ(used_list(pool), (std::vector<void*>{a, b}));
    EXPECT_TRUE(filled_with(a, 16, 0x00));

    ASSERT_EQ(MemPoolReleaseRef_LF(pool), RES_OK);
    EXPECT_EQ(MemPoolReleaseBlocks(pool, 1, &weight), RES_OK);
    EXPECT_EQ(used_list(pool), std::vector<void*>{b});
    EXPECT_EQ(released, 10);
    EXPECT_TRUE(filled_with(a, 16, 0xAA));
    EXPECT_EQ(free_list(pool).front(), a);

    EXPECT_EQ(MemPoolRemoveUsedBlock_LF(b), RES_OK); // no reader: unlinked at once
    EXPECT_EQ(MemPoolReleaseBlocks(pool, 0, &weight), RES_PENDING);
    EXPECT_EQ(MemPoolPutBlock_LF(b, &weight), RES_OK);
    EXPECT_EQ(released, 20);
    EXPECT_EQ(MemPoolPutBlock_LF(b, &weight), RES_PARAMETER);
    EXPECT_EQ(released, 20);
    MemPoolDelete(pool, "Test");
}

TEST_F(MemPool, HashedBlocksGetConsecutiveKeys) {
    RTS_HANDLE pool = MemPoolCreateDynamic("Test", 1, 16, nullptr);
    RTS_RESULT r = RES_FAILED;
    RTS_HANDLE table = MemPoolCreateHashTable(pool, 7, "Test", &r);
    ASSERT_EQ(r, RES_OK);
    EXPECT_EQ(MemPoolGetBlockHashed(table, 0, &r), 1u);
    EXPECT_EQ(MemPoolGetBlockHashed(table, 0, &r), 0xFFFFFFFFu); // pool empty, no extension
    EXPECT_EQ(r, RES_INVALID_HANDLE);
    const RTS_UI32 key = MemPoolGetBlockHashed2(table, 2, 8, &r);
    EXPECT_EQ(key, 3u);
    auto* block = static_cast<unsigned char*>(MemPoolGetBlockByHash(table, key, &r));
    ASSERT_NE(block, nullptr);
    RTS_UI32 stored = 0;
    std::memcpy(&stored, block + 8, sizeof stored);
    EXPECT_EQ(stored, key);
    EXPECT_EQ(MemPoolGetBlockHashed2(table, 1, 13, &r), 0xFFFFFFFFu); // key would run past the block
    EXPECT_EQ(r, RES_PARAMETER);

    MemPoolAppendUsedBlock(block);
    EXPECT_EQ(MemPoolRemoveBlockHashed(table, key), RES_OK);
    EXPECT_EQ(MemPoolGetBlockByHash(table, key, &r), nullptr);
    EXPECT_EQ(r, RES_NO_OBJECT);
    EXPECT_TRUE(used_list(pool).empty());
    EXPECT_EQ(MemPoolRemoveBlockHashed(table, 1), RES_PARAMETER); // never in the used list

    struct Case {
        RTS_HANDLE pool;
        RTS_SIZE buckets;
        const char* owner;
    };
    for (const Case& c : {Case{nullptr, 7, "Test"}, Case{RTS_INVALID_HANDLE, 7, "Test"},
                          Case{pool, 0, "Test"}, Case{pool, 7, nullptr}}) {
        EXPECT_EQ(MemPoolCreateHashTable(c.pool, c.buckets, c.owner, &r), RTS_INVALID_HANDLE);
        EXPECT_EQ(r, RES_PARAMETER);
    }
    EXPECT_EQ(MemPoolDeleteHashTable(table), RES_OK);
    EXPECT_EQ(MemPoolGetBlockByHash(table, 1, &r), nullptr);
    EXPECT_EQ(r, RES_PARAMETER);
    EXPECT_EQ(MemPoolDeleteHashTable(table), RES_PARAMETER);
    MemPoolDelete(pool, "Test");
}

TEST_F(MemPool, TablePoolGrowsBeyondItsStaticBlocks) {
    RTS_HANDLE pool = MemPoolCreateDynamic("Test", 1, 16, nullptr);
    RTS_HANDLE buckets[3][5];
    std::vector<RTS_HANDLE> tables;
    for (auto& b : buckets) {
        RTS_RESULT r = RES_FAILED;
        tables.push_back(MemPoolCreateHashTable2(pool, 5, b, "Test", &r));
        EXPECT_EQ(r, RES_OK);
    }
    EXPECT_NE(tables[0], tables[2]);
    for (RTS_HANDLE t : tables) EXPECT_EQ(MemPoolDeleteHashTable(t), RES_OK);
    MemPoolDelete(pool, "Test");
}

// The component manager's use: pools made before the component's init, given their lock later.
TEST(MemPoolBeforeInit, WorksWithoutLockAndTakesOneLater) {
    alignas(8) static unsigned char area[1024];
    RTS_RESULT r = RES_FAILED;
    RTS_HANDLE pool = MemPoolCreateStatic(40, sizeof area, area, &r);
    ASSERT_EQ(r, RES_OK);
    EXPECT_EQ(MemPoolCreateSyncObject(pool), RES_NOTINITIALIZED);
    EXPECT_EQ(MemPoolLock(pool), RES_NOTINITIALIZED);
    void* a = MemPoolGetBlock2(pool, 1, "CM", &r);
    void* b = MemPoolGetBlock2(pool, 1, "CM", &r);
    ASSERT_EQ(MemPoolAppendUsedBlock(a), RES_OK);
    ASSERT_EQ(MemPoolAppendUsedBlock(b), RES_OK);
    EXPECT_EQ(MemPoolIsValidBlock(pool, b), RES_OK);

    ASSERT_EQ(CMInit2(nullptr, StaticComponentList, 1), RES_OK);
    EXPECT_EQ(MemPoolLock(pool), RES_NOTIMPLEMENTED);
    ASSERT_EQ(MemPoolCreateSyncObject(pool), RES_OK);
    EXPECT_EQ(MemPoolLock(pool), RES_OK);
    EXPECT_EQ(memtest::used_list(pool), (std::vector<void*>{a, b}));
    EXPECT_EQ(MemPoolUnlock(pool), RES_OK);
    CMExit();

    EXPECT_EQ(MemPoolLock(pool), RES_NOTINITIALIZED);
    EXPECT_EQ(MemPoolRemoveUsedBlock(a), RES_OK);
    EXPECT_EQ(MemPoolPutBlock(a), RES_OK);
    EXPECT_EQ(MemPoolDeleteSyncObject(pool), RES_OK);
    EXPECT_EQ(pcb(pool)->Lock, RTS_INVALID_HANDLE);
    EXPECT_EQ(MemPoolDeleteSyncObject(pool), RES_OK);
    EXPECT_EQ(pcb(pool)->Lock, nullptr);
    EXPECT_EQ(MemPoolCleanup(pool, "CM", 1), RES_OK);
    EXPECT_EQ(MemPoolDelete(pool, "CM"), RES_OK);
}

} // namespace
