// Memory pools: the layout of new pools, bad arguments refused without touching a list, leak
// reports, static extensions, the lock MemPoolIsValidBlock keeps, lock-free removal, hashed
// blocks and pools made before the component's init.
#include <functional>
#include <thread>
#include <utility>

#include "memory_fixture.h"
#include "syssem.h"

namespace {

using memtest::filled_with;
using memtest::free_list;
using memtest::pcb;
using memtest::used_list;

class MemPool : public memtest::Framework {};

alignas(8) unsigned char g_area[4096];

MemPoolCreateInfo in_memory(RTS_UI32 flags, RTS_SIZE blockSize, RTS_SIZE size, unsigned char* memory) {
    return {MEM_POOL_STATIC | flags, nullptr, blockSize, size, reinterpret_cast<RTS_UINTPTR>(memory)};
}
MemPoolCreateInfo on_heap(RTS_UI32 flags, const char* owner, RTS_SIZE count, RTS_SIZE blockSize) {
    return {MEM_POOL_DYNAMIC | flags, nullptr, reinterpret_cast<RTS_UINTPTR>(owner), count, blockSize};
}

TEST_F(MemPool, CreateLaysOutTheAreaOrRefuses) {
    struct Case {
        const char* name;
        MemPoolCreateInfo info;
        RTS_RESULT result;
        RTS_UI32 flags = 0;     // as the control block shows them
        RTS_UI64 blockSize = 0; // rounded
        size_t blocks = 0;
        RTS_RESULT lock = RES_OK, lockAfterSync = RES_OK;
        unsigned char* control = nullptr; // static pools: where the control block lies
    };
    constexpr RTS_RESULT kNone = RES_NOTIMPLEMENTED; // what MemPoolLock answers for a pool without lock
    const Case cases[] = {
        {"one block of 168 in 272 bytes", in_memory(0, 168, 272, g_area), RES_OK, MEM_POOL_STATIC, 168, 1,
         RES_OK, RES_OK, g_area},
        {"control block 8-byte aligned", in_memory(0, 8, 200, g_area + 1), RES_OK, MEM_POOL_STATIC, 8, 4,
         RES_OK, RES_OK, g_area + 8},
        {"no lock until asked", in_memory(MEM_POOL_NOLOCK_INIT, 16, 256, g_area), RES_OK,
         MEM_POOL_STATIC | MEM_POOL_NOLOCK_INIT, 16, 4, kNone, RES_OK},
        {"block size rounded up to 8", on_heap(0, "Test", 4, 13), RES_OK, MEM_POOL_DYNAMIC, 16, 4},
        {"never a lock", on_heap(MEM_POOL_NOLOCK, "Test", 2, 8), RES_OK, MEM_POOL_DYNAMIC | MEM_POOL_NOLOCK,
         8, 2, kNone, kNone},
        {"null memory", in_memory(0, 16, 256, nullptr), RES_PARAMETER},
        {"memory size 0", in_memory(0, 16, 0, g_area), RES_PARAMETER},
        {"static block size 0", in_memory(0, 0, 256, g_area), RES_PARAMETER},
        {"below the control block", in_memory(0, 16, 63, g_area), RES_NOMEMORY},
        {"no room after alignment", in_memory(0, 16, 64, g_area + 1), RES_NOMEMORY},
        {"memory wraps around", in_memory(0, 16, ~RTS_SIZE{0}, g_area + 8), RES_NOMEMORY},
        {"null owner", on_heap(0, nullptr, 4, 16), RES_PARAMETER},
        {"no blocks", on_heap(0, "Test", 0, 16), RES_PARAMETER},
        {"dynamic block size 0", on_heap(0, "Test", 4, 0), RES_PARAMETER},
        {"more than memory", on_heap(0, "Test", ~RTS_SIZE{0} / 16, 16), RES_NOMEMORY},
        {"both kinds", {MEM_POOL_STATIC | MEM_POOL_DYNAMIC, nullptr, 16, 256, 0}, RES_PARAMETER},
        {"neither kind", {MEM_POOL_NOLOCK, nullptr, 16, 256, 0}, RES_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RTS_RESULT r = RES_FAILED;
        RTS_HANDLE pool = MemPoolCreate(&c.info, &r);
        ASSERT_EQ(r, c.result);
        if (r != RES_OK) {
            EXPECT_EQ(pool, RTS_INVALID_HANDLE);
            continue;
        }
        EXPECT_EQ(MemPoolGetPCB(pool, &r)->Flags, c.flags);
        EXPECT_EQ(pcb(pool)->BlockSize, c.blockSize);
        const auto blocks = free_list(pool);
        EXPECT_EQ(blocks.size(), c.blocks);
        if (c.control != nullptr) {
            EXPECT_EQ(pool, c.control);
            EXPECT_EQ(blocks.front(), c.control + MEM_POOL_CONTROL_BLOCK_SIZE + MEM_POOL_BLOCK_HEADER_SIZE);
        }
        EXPECT_EQ(MemPoolLock(pool), c.lock);
        MemPoolUnlock(pool);
        EXPECT_EQ(MemPoolCreateSyncObject(pool), RES_OK);
        EXPECT_EQ(MemPoolLock(pool), c.lockAfterSync);
        MemPoolUnlock(pool);
        EXPECT_EQ(MemPoolDelete(pool, "Test"), RES_OK);
    }
}

TEST_F(MemPool, BadArgumentsChangeNoList) {
    RTS_HANDLE pool = MemPoolCreateDynamic("Test", 4, 16, nullptr);
    void* used = MemPoolGetBlock(pool, nullptr);
    void* taken = MemPoolGetBlock(pool, nullptr);
    void* released = MemPoolGetBlock(pool, nullptr);
    ASSERT_EQ(MemPoolAppendUsedBlock(used), RES_OK);
    ASSERT_EQ(MemPoolPutBlock(released), RES_OK);
    RTS_HANDLE other = MemPoolCreateDynamic("Test", 1, 16, nullptr);
    void* otherUsed = MemPoolGetBlock(other, nullptr);
    ASSERT_EQ(MemPoolAppendUsedBlock(otherUsed), RES_OK);
    RTS_HANDLE capped = MemPoolCreateDynamic("Test", 1, 16, nullptr); // newest area static, no block left
    ASSERT_EQ(MemPoolExtendStatic(capped, 64 + 40, g_area), RES_OK);
    while (MemPoolGetBlock(capped, nullptr) != nullptr) continue;
    RTS_HANDLE gone = MemPoolCreateStatic(16, 256, g_area + 512, nullptr);
    ASSERT_EQ(MemPoolDelete(gone, "Test"), RES_OK);
    RTS_HANDLE table = MemPoolCreateHashTable(pool, 7, "Test", nullptr);
    alignas(8) unsigned char foreign[64] = {};
    void* stray = foreign + 32; // a "block" whose header names no pool
    const auto freeBefore = free_list(pool);
    const std::tuple<const char*, RTS_RESULT, RTS_RESULT> cases[] = {
        {"create without info", RESULT_OF(MemPoolCreate(nullptr, r)), RES_PARAMETER},
        {"extend by 0", MemPoolExtendDynamic(pool, "Test", 0), RES_PARAMETER},
        {"extend without owner", MemPoolExtendDynamic(pool, nullptr, 1), RES_PARAMETER},
        {"extend a foreign pool", MemPoolExtendDynamic(foreign, "Test", 1), RES_INVALID_HANDLE},
        {"extend beyond memory", MemPoolExtendDynamic(pool, "Test", ~RTS_SIZE{0} / 8), RES_NOMEMORY},
        {"extend after a static extension", MemPoolExtendDynamic(capped, "Test", 1), RES_INVALID_HANDLE},
        {"extend statically from null", MemPoolExtendStatic(pool, 256, nullptr), RES_PARAMETER},
        {"extend statically by 0", MemPoolExtendStatic(pool, 0, g_area), RES_PARAMETER},
        {"extend statically a foreign pool", MemPoolExtendStatic(foreign, 256, g_area), RES_INVALID_HANDLE},
        {"no room for a block", MemPoolExtendStatic(pool, 103, g_area), RES_NOMEMORY},
        {"second static extension", MemPoolExtendStatic(capped, 256, g_area + 256), RES_INVALID_HANDLE},
        {"grow a capped pool", RESULT_OF(MemPoolGetBlock2(capped, 1, "Test", r)), RES_NOMEMORY},
        {"grow a foreign pool", RESULT_OF(MemPoolGetBlock2(foreign, 1, "Test", r)), RES_INVALID_HANDLE},
        {"block of a deleted pool", RESULT_OF(MemPoolGetBlock(gone, r)), RES_INVALID_HANDLE},
        {"delete a deleted pool", MemPoolDelete(gone, "Test"), RES_INVALID_HANDLE},
        {"clean up a foreign pool", MemPoolCleanup(foreign, "Test", 1), RES_INVALID_HANDLE},
        {"control block of a foreign pool", RESULT_OF(MemPoolGetPCB(foreign, r)), RES_PARAMETER},
        {"lock for a foreign pool", MemPoolCreateSyncObject(foreign), RES_PARAMETER},
        {"drop the lock of a foreign pool", MemPoolDeleteSyncObject(foreign), RES_PARAMETER},
        {"give back null", MemPoolPutBlock(nullptr), RES_PARAMETER},
        {"give back a block of no pool", MemPoolPutBlock(stray), RES_PARAMETER},
        {"give back twice", MemPoolPutBlock(released), RES_PARAMETER},
        {"give back a listed block", MemPoolPutBlock(used), RES_PARAMETER},
        {"append twice", MemPoolAppendUsedBlock(used), RES_PARAMETER},
        {"add a free block", MemPoolAddUsedBlock(released), RES_PARAMETER},
        {"append to a foreign pool", MemPoolAppendUsedBlockToPool(taken, foreign), RES_PARAMETER},
        {"insert after another pool's block", MemPoolInsertUsedBlock(otherUsed, taken), RES_PARAMETER},
        {"insert after an unlisted block", MemPoolInsertUsedBlock(released, taken), RES_PARAMETER},
        {"insert a listed block", MemPoolInsertUsedBlock(used, used), RES_PARAMETER},
        {"remove an unlisted block", MemPoolRemoveUsedBlock(taken), RES_PARAMETER},
        {"remove null", MemPoolRemoveUsedBlock(nullptr), RES_PARAMETER},
        {"first block of a foreign pool", RESULT_OF(MemPoolGetFirstBlock(foreign, r)), RES_PARAMETER},
        {"next after null", RESULT_OF(MemPoolGetNextBlock(pool, nullptr, r)), RES_PARAMETER},
        {"find null data", RESULT_OF(MemPoolFindBlock(pool, 0, 4, nullptr, r)), RES_PARAMETER},
        {"find past the data", RESULT_OF(MemPoolFindBlock(pool, 8, 9, used, r)), RES_PARAMETER},
        {"find beyond the block", RESULT_OF(MemPoolFindBlock(pool, 17, 0, used, r)), RES_PARAMETER},
        {"valid block of pool all ones", MemPoolIsValidBlock(RTS_INVALID_HANDLE, used), RES_PARAMETER},
        {"valid null block", MemPoolIsValidBlock(pool, nullptr), RES_PARAMETER},
        {"valid unlisted block", MemPoolIsValidBlock(pool, taken), RES_FAILED},
        {"release blocks of all ones", MemPoolReleaseBlocks(RTS_INVALID_HANDLE, 0, nullptr), RES_PARAMETER},
        {"lock null", MemPoolLock(nullptr), RES_PARAMETER},
        {"unlock all ones", MemPoolUnlock(RTS_INVALID_HANDLE), RES_PARAMETER},
        {"lock a block of no pool", MemPoolLockBlock(stray), RES_PARAMETER},
        {"unlock a block of no pool", MemPoolUnlockBlock(stray), RES_PARAMETER},
        {"reader enters a foreign pool", MemPoolAddRef_LF(foreign), RES_PARAMETER},
        {"reader leaves a foreign pool", MemPoolReleaseRef_LF(foreign), RES_PARAMETER},
        {"reader leaves without entering", MemPoolReleaseRef_LF(pool), RES_FAILED},
        {"reader checks in all ones", MemPoolIsValidBlock_LF(RTS_INVALID_HANDLE, used), RES_PARAMETER},
        {"reader checks null", MemPoolIsValidBlock_LF(pool, nullptr), RES_PARAMETER},
        {"reader checks an unlisted block", MemPoolIsValidBlock_LF(pool, taken), RES_PARAMETER},
        {"lock-free removal of null", MemPoolRemoveUsedBlock_LF(nullptr), RES_PARAMETER},
        {"lock-free give back of a free block", MemPoolPutBlock_LF(released, nullptr), RES_PARAMETER},
        {"lock trace without its services", MemPoolLockTraceRegister(pool, "Test"), RES_NOTSUPPORTED},
        {"hash table of pool null", RESULT_OF(MemPoolCreateHashTable(nullptr, 7, "Test", r)), RES_PARAMETER},
        {"hash table without buckets", RESULT_OF(MemPoolCreateHashTable(pool, 0, "Test", r)), RES_PARAMETER},
        {"hash table without owner", RESULT_OF(MemPoolCreateHashTable(pool, 7, nullptr, r)), RES_PARAMETER},
        {"hashed block of no table", RESULT_OF(MemPoolGetBlockHashed(stray, 1, r)), RES_PARAMETER},
        {"key stored past the block", RESULT_OF(MemPoolGetBlockHashed2(table, 1, 13, r)), RES_PARAMETER},
        {"block of a key of no table", RESULT_OF(MemPoolGetBlockByHash(stray, 1, r)), RES_PARAMETER},
        {"remove a key of no table", MemPoolRemoveBlockHashed(stray, 1), RES_PARAMETER},
        {"delete no table", MemPoolDeleteHashTable(stray), RES_PARAMETER},
    };
    for (auto [name, result, expected] : cases) EXPECT_EQ(result, expected) << name;
    EXPECT_EQ(free_list(pool), freeBefore);
    EXPECT_EQ(used_list(pool), std::vector<void*>{used});
    EXPECT_TRUE(filled_with(released, 16, 0xAA));
    MemPoolDeleteHashTable(table);
    for (RTS_HANDLE p : {pool, other}) {
        MemPoolRemoveUsedBlock(MemPoolGetFirstBlock(p, nullptr));
        MemPoolDelete(p, "Test");
    }
    MemPoolDelete(capped, "Test");
}

TEST_F(MemPool, DeleteAndCleanupReportListedBlocksAsLeaks) {
    RTS_HANDLE pool = MemPoolCreateDynamic("Leaker", 4, 24, nullptr);
    for (const char* name : {"alpha", "beta"}) {
        auto* b = static_cast<char*>(MemPoolGetBlock(pool, nullptr));
        std::strcpy(b + 4, name);
        MemPoolAppendUsedBlock(b);
    }
    MemPoolGetBlock(pool, nullptr); // taken but not listed: not findable, not reported
    RTS_RESULT r = RES_FAILED;
    EXPECT_EQ(MemPoolFindBlock(pool, 4, 5, "beta", &r), used_list(pool)[1]);
    EXPECT_EQ(RESULT_OF(MemPoolFindBlock(pool, 4, 3, "gam", r)), RES_PARAMETER);
    ASSERT_EQ(MemPoolDelete(pool, "Leaker"), RES_OK);
    EXPECT_EQ(testlog::count_starting("**** Pool leak: Cmp=Leaker, hPool=0x"), 2);
    for (const auto& t : testlog::texts()) EXPECT_NE(t.find("Size=24"), std::string::npos) << t;

    // Cleanup frees the heap extension: its listed block is reported and unlinked.
    pool = MemPoolCreateStatic(16, 64 + 40, g_area, nullptr);
    ASSERT_EQ(MemPoolExtendDynamic(pool, "Test", 2), RES_OK);
    void* inExtension = MemPoolGetBlock(pool, nullptr);
    void* inArea = nullptr;
    while (void* b = MemPoolGetBlock(pool, nullptr)) inArea = b;
    ASSERT_EQ(inArea, g_area + 64 + 24);
    for (void* b : {inExtension, inArea}) MemPoolAppendUsedBlock(b);
    LogEarlyBufferClear();
    ASSERT_EQ(MemPoolCleanup(pool, "Test", 1), RES_OK);
    EXPECT_EQ(testlog::count_starting("**** Pool leak"), 1);
    EXPECT_EQ(used_list(pool), std::vector<void*>{inArea});
    EXPECT_EQ(MemPoolGetBlock(pool, nullptr), nullptr);
    EXPECT_EQ(MemPoolLock(pool), RES_NOTIMPLEMENTED);
    MemPoolRemoveUsedBlock(inArea);
    EXPECT_EQ(MemPoolDelete(pool, "Test"), RES_OK);
}

// A memory tracker whose size answer runs a step of the test inside the heap allocation of an
// extension: after the pool's first check that it may grow, before the growth itself.
std::function<void()> g_duringAllocation;
const CMExportEntry kSizeHook[] = {memtest::export_as("MemGCGetSize",
                                                      [](RTS_SIZE size) {
                                                          if (auto step =
                                                                  std::exchange(g_duringAllocation, nullptr))
                                                              step();
                                                          return size;
                                                      }),
                                   {nullptr, nullptr, 0, 0}};

TEST(MemPoolExtension, AStaticExtensionIsTheLastOneAlsoWhenMadeMeanwhile) {
    const auto list = memtest::list_with_tracker(kSizeHook);
    ASSERT_EQ(CMInit2(nullptr, list.data(), 1), RES_OK);
    RTS_HANDLE pool = MemPoolCreateDynamic("Test", 1, 16, nullptr);
    alignas(8) static unsigned char extension[64 + 2 * 40 + 8]; // counted as if a control block came first
    g_duringAllocation = [&] { EXPECT_EQ(MemPoolExtendStatic(pool, sizeof extension, extension), RES_OK); };
    EXPECT_EQ(MemPoolExtendDynamic(pool, "Test", 1), RES_INVALID_HANDLE);
    EXPECT_EQ(free_list(pool).size(), 3u);
    EXPECT_EQ(free_list(pool)[0], extension + 16 + 24);
    MemPoolDelete(pool, "Test");
    CMExit();
    testcmp::reset();
}

TEST_F(MemPool, IsValidBlockKeepsThePoolLocked) {
    RTS_HANDLE pool = MemPoolCreateDynamic("Test", 2, 16, nullptr);
    void* block = MemPoolGetBlock(pool, nullptr);
    MemPoolAppendUsedBlock(block);
    auto triedFromOtherThread = [&] {
        RTS_RESULT r = RES_FAILED;
        std::thread([&] {
            if ((r = SysSemTry(pcb(pool)->Lock)) == RES_OK) SysSemLeave(pcb(pool)->Lock);
        }).join();
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
    MemPoolCreateInfo info = on_heap(0, "Test", 4, 16);
    info.Release = [](void*, void* param) { released += *static_cast<int*>(param); };
    RTS_HANDLE pool = MemPoolCreate(&info, nullptr);
    void* a = MemPoolGetBlock(pool, nullptr);
    void* b = MemPoolGetBlock(pool, nullptr);
    for (void* block : {a, b}) MemPoolAppendUsedBlock(block);

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
    EXPECT_EQ(MemPoolLock_LF(pool), RES_OK);
    MemPoolUnlock_LF(pool);
    EXPECT_EQ(MemPoolReleaseBlocks(pool, 1, &weight), RES_OK);
    EXPECT_EQ(used_list(pool), std::vector<void*>{b});
    EXPECT_EQ(released, 10);
    EXPECT_TRUE(filled_with(a, 16, 0xAA));
    EXPECT_EQ(free_list(pool).front(), a);

    EXPECT_EQ(MemPoolRemoveUsedBlock_LF(b), RES_OK); // no reader: unlinked at once
    EXPECT_EQ(MemPoolReleaseBlocks(pool, 0, &weight), RES_PENDING);
    EXPECT_EQ(MemPoolPutBlock_LF(b, &weight), RES_OK);
    EXPECT_EQ(released, 20);
    MemPoolDelete(pool, "Test");
}

TEST_F(MemPool, HashedBlocksGetConsecutiveKeys) {
    RTS_HANDLE pool = MemPoolCreateDynamic("Test", 1, 16, nullptr);
    RTS_HANDLE buckets[3][5];
    std::vector<RTS_HANDLE> tables; // more than the two the table pool holds statically
    for (auto& b : buckets) tables.push_back(MemPoolCreateHashTable2(pool, 5, b, "Test", nullptr));
    RTS_HANDLE table = tables[2];
    ASSERT_NE(table, RTS_INVALID_HANDLE);
    RTS_RESULT r = RES_FAILED;
    EXPECT_EQ(MemPoolGetBlockHashed(table, 0, &r), 1u);
    EXPECT_EQ(RESULT_OF(MemPoolGetBlockHashed(table, 0, r)), RES_INVALID_HANDLE); // empty, no growth
    const RTS_UI32 key = MemPoolGetBlockHashed2(table, 2, 8, &r);
    EXPECT_EQ(key, 3u);
    auto* block = static_cast<unsigned char*>(MemPoolGetBlockByHash(table, key, &r));
    ASSERT_NE(block, nullptr);
    RTS_UI32 stored = 0;
    std::memcpy(&stored, block + 8, sizeof stored);
    EXPECT_EQ(stored, key);

    MemPoolAppendUsedBlock(block);
    EXPECT_EQ(MemPoolRemoveBlockHashed(table, key), RES_OK);
    EXPECT_EQ(RESULT_OF(MemPoolGetBlockByHash(table, key, r)), RES_NO_OBJECT);
    EXPECT_TRUE(used_list(pool).empty());
    EXPECT_EQ(MemPoolRemoveBlockHashed(table, 1), RES_PARAMETER); // never in the used list
    for (RTS_HANDLE t : tables) EXPECT_EQ(MemPoolDeleteHashTable(t), RES_OK);
    EXPECT_EQ(RESULT_OF(MemPoolGetBlockByHash(table, 1, r)), RES_PARAMETER);
    MemPoolDelete(pool, "Test");
}

// The component manager's use: pools made before the component's init, given their lock later.
TEST(MemPoolBeforeInit, WorksWithoutLockAndTakesOneLater) {
    alignas(8) static unsigned char area[1024];
    RTS_HANDLE pool = MemPoolCreateStatic(40, sizeof area, area, nullptr);
    EXPECT_EQ(MemPoolCreateSyncObject(pool), RES_NOTINITIALIZED);
    EXPECT_EQ(MemPoolLock(pool), RES_NOTINITIALIZED);
    EXPECT_EQ(MemPoolReleaseBlocks(pool, 0, nullptr), RES_NOTINITIALIZED);
    void* a = MemPoolGetBlock(pool, nullptr);
    ASSERT_EQ(MemPoolAppendUsedBlock(a), RES_OK);
    EXPECT_EQ(MemPoolIsValidBlock(pool, a), RES_OK);

    ASSERT_EQ(CMInit2(nullptr, StaticComponentList, 1), RES_OK);
    EXPECT_EQ(MemPoolLock(pool), RES_NOTIMPLEMENTED);
    ASSERT_EQ(MemPoolCreateSyncObject(pool), RES_OK);
    EXPECT_EQ(MemPoolLock(pool), RES_OK);
    EXPECT_EQ(MemPoolUnlock(pool), RES_OK);
    CMExit();

    EXPECT_EQ(MemPoolUnlock(pool), RES_NOTINITIALIZED);
    EXPECT_EQ(MemPoolRemoveUsedBlock(a), RES_OK);
    EXPECT_EQ(MemPoolDeleteSyncObject(pool), RES_OK);
    EXPECT_EQ(pcb(pool)->Lock, RTS_INVALID_HANDLE);
    EXPECT_EQ(MemPoolDeleteSyncObject(pool), RES_OK);
    EXPECT_EQ(pcb(pool)->Lock, nullptr);
    EXPECT_EQ(MemPoolDelete(pool, "CM"), RES_OK);
}

} // namespace
