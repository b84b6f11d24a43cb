// Memory pools: bad arguments refused without touching a list, leak reports, extensions (also one
// made while another is under way), the lock MemPoolIsValidBlock keeps, lock-free removal and
// hashed blocks.
#include <functional>
#include <thread>
#include <utility>

#include "memory_fixture.h"
#include "syssem.h"
#include "log_reader.h"

namespace {

using memtest::filled_with, memtest::free_list, memtest::pcb, memtest::used_list;

class MemPool : public memtest::Framework {};

alignas(8) unsigned char g_area[4096];

TEST_F(MemPool, BadArgumentsChangeNoList) {
    RTS_HANDLE pool = MemPoolCreateDynamic("Test", 4, 16, nullptr),
               other = MemPoolCreateDynamic("Test", 1, 16, nullptr);
    void *used = MemPoolGetBlock(pool, nullptr), *taken = MemPoolGetBlock(pool, nullptr);
    void *released = MemPoolGetBlock(pool, nullptr), *otherUsed = MemPoolGetBlock(other, nullptr);
    for (void* b : {used, otherUsed}) MemPoolAppendUsedBlock(b);
    MemPoolPutBlock(released);
    RTS_HANDLE capped = MemPoolCreateDynamic("Test", 1, 16, nullptr); // newest area static, no block left
    MemPoolExtendStatic(capped, 64 + 40, g_area);
    while (MemPoolGetBlock(capped, nullptr) != nullptr) continue;
    RTS_HANDLE gone = MemPoolCreateStatic(16, 256, g_area + 512, nullptr),
               table = MemPoolCreateHashTable(pool, 7, "Test", nullptr);
    MemPoolDelete(gone, "Test");
    alignas(8) unsigned char foreign[64] = {};
    void* stray = foreign + 32; // a "block" whose header names no pool
    const MemPoolCreateInfo both{MEM_POOL_STATIC | MEM_POOL_DYNAMIC, nullptr, 16, 256, 0};
    const auto freeBefore = free_list(pool);
    const std::tuple<const char*, RTS_RESULT, RTS_RESULT> cases[] = {
        {"create without info", RESULT_OF(MemPoolCreate(nullptr, r)), RES_PARAMETER},
        {"create static and dynamic", RESULT_OF(MemPoolCreate(&both, r)), RES_PARAMETER},
        {"static pool in null memory", RESULT_OF(MemPoolCreateStatic(16, 256, nullptr, r)), RES_PARAMETER},
        {"static pool below its control block", RESULT_OF(MemPoolCreateStatic(16, 63, g_area, r)),
         RES_NOMEMORY},
        {"dynamic pool without owner", RESULT_OF(MemPoolCreateDynamic(nullptr, 4, 16, r)), RES_PARAMETER},
        {"dynamic pool beyond memory", RESULT_OF(MemPoolCreateDynamic("Test", ~RTS_SIZE{0} / 16, 16, r)),
         RES_NOMEMORY},
        {"extend by 0", MemPoolExtendDynamic(pool, "Test", 0), RES_PARAMETER},
        {"extend a foreign pool", MemPoolExtendDynamic(foreign, "Test", 1), RES_INVALID_HANDLE},
        {"extend beyond memory", MemPoolExtendDynamic(pool, "Test", ~RTS_SIZE{0} / 8), RES_NOMEMORY},
        {"extend after a static extension", MemPoolExtendDynamic(capped, "Test", 1), RES_INVALID_HANDLE},
        {"extend statically from null", MemPoolExtendStatic(pool, 256, nullptr), RES_PARAMETER},
        {"no room for a block", MemPoolExtendStatic(pool, 103, g_area), RES_NOMEMORY},
        {"grow a capped pool", RESULT_OF(MemPoolGetBlock2(capped, 1, "Test", r)), RES_NOMEMORY},
        {"block of a deleted pool", RESULT_OF(MemPoolGetBlock(gone, r)), RES_INVALID_HANDLE},
        {"control block of a foreign pool", RESULT_OF(MemPoolGetPCB(foreign, r)), RES_PARAMETER},
        {"give back a block of no pool", MemPoolPutBlock(stray), RES_PARAMETER},
        {"give back twice", MemPoolPutBlock(released), RES_PARAMETER},
        {"append twice", MemPoolAppendUsedBlock(used), RES_PARAMETER},
        {"append to a foreign pool", MemPoolAppendUsedBlockToPool(taken, foreign), RES_PARAMETER},
        {"insert after another pool's block", MemPoolInsertUsedBlock(otherUsed, taken), RES_PARAMETER},
        {"insert after an unlisted block", MemPoolInsertUsedBlock(released, taken), RES_PARAMETER},
        {"insert a listed block", MemPoolInsertUsedBlock(used, used), RES_PARAMETER},
        {"remove an unlisted block", MemPoolRemoveUsedBlock(taken), RES_PARAMETER},
        {"find null data", RESULT_OF(MemPoolFindBlock(pool, 0, 4, nullptr, r)), RES_PARAMETER},
        {"find beyond the block", RESULT_OF(MemPoolFindBlock(pool, 17, 0, used, r)), RES_PARAMETER},
        {"valid block of pool all ones", MemPoolIsValidBlock(RTS_INVALID_HANDLE, used), RES_PARAMETER},
        {"release blocks of all ones", MemPoolReleaseBlocks(RTS_INVALID_HANDLE, 0, nullptr), RES_PARAMETER},
        {"lock null", MemPoolLock(nullptr), RES_PARAMETER},
        {"lock a block of no pool", MemPoolLockBlock(stray), RES_PARAMETER},
        {"unlock a block of no pool", MemPoolUnlockBlock(stray), RES_PARAMETER},
        {"reader leaves without entering", MemPoolReleaseRef_LF(pool), RES_FAILED},
        {"lock-free removal of null", MemPoolRemoveUsedBlockFromPool_LF(nullptr, pool), RES_PARAMETER},
        {"lock-free give back of a free block", MemPoolPutBlock_LF(released, nullptr), RES_PARAMETER},
        {"lock trace without its services", MemPoolLockTraceRegister(pool, "Test"), RES_NOTSUPPORTED},
        {"hash table of pool null", RESULT_OF(MemPoolCreateHashTable(nullptr, 7, "Test", r)), RES_PARAMETER},
        {"key stored past the block", RESULT_OF(MemPoolGetBlockHashed2(table, 1, 13, r)), RES_PARAMETER},
        {"block of a key of no table", RESULT_OF(MemPoolGetBlockByHash(stray, 1, r)), RES_PARAMETER},
    };
    for (auto [name, result, expected] : cases) EXPECT_EQ(result, expected) << name;
    EXPECT_EQ(free_list(pool), freeBefore);
    EXPECT_EQ(used_list(pool), std::vector<void*>{used});
    EXPECT_TRUE(filled_with(released, 16, 0xAA));
    MemPoolDeleteHashTable(table);
    for (RTS_HANDLE p : {pool, other}) MemPoolRemoveUsedBlock(MemPoolGetFirstBlock(p, nullptr));
    for (RTS_HANDLE p : {pool, other, capped}) MemPoolDelete(p, "Test");
}

TEST_F(MemPool, DeleteAndCleanupReportListedBlocksAsLeaks) {
    RTS_HANDLE pool = MemPoolCreateDynamic("Leaker", 4, 24, nullptr);
    for (const char* name : {"alpha", "beta"}) {
        auto* b = static_cast<char*>(MemPoolGetBlock(pool, nullptr));
        MemPoolAppendUsedBlock(std::strcpy(b, name));
    }
    MemPoolGetBlock(pool, nullptr); // taken but not listed: not findable, not reported
    EXPECT_EQ(MemPoolFindBlock(pool, 1, 3, "eta", nullptr), used_list(pool)[1]);
    EXPECT_EQ(RESULT_OF(MemPoolFindBlock(pool, 0, 3, "gam", r)), RES_PARAMETER);
    ASSERT_EQ(MemPoolDelete(pool, "Leaker"), RES_OK);
    EXPECT_EQ(testlog::count_starting("**** Pool leak: Cmp=Leaker, hPool=0x"), 2);
    for (const LogEntry& e : testlog::entries()) // as (0, 30, LOG_DEBUG, 1, 0, ...)
        EXPECT_TRUE(std::string(e.InfoText).find("Size=24") != std::string::npos &&
                    e.CmpId == CMPID_CmpMemPool && e.ClassId == LOG_DEBUG && e.ErrorId == 1)
            << e.InfoText;

    // Cleanup frees the heap extension: its listed block is reported and unlinked.
    pool = MemPoolCreateStatic(16, 64 + 40, g_area, nullptr);
    MemPoolExtendDynamic(pool, "Test", 2);
    void *inExtension = MemPoolGetBlock(pool, nullptr), *spare = MemPoolGetBlock(pool, nullptr);
    void* inArea = MemPoolGetBlock(pool, nullptr);
    for (void* b : {inExtension, inArea}) MemPoolAppendUsedBlock(b);
    MemPoolPutBlock(spare); // a free block in the extension
    testlog::clear();
    ASSERT_EQ(MemPoolCleanup(pool, "Test", 1), RES_OK);
    EXPECT_EQ(testlog::count_starting("**** Pool leak"), 1);
    EXPECT_EQ(used_list(pool), std::vector<void*>{inArea});
    EXPECT_EQ(MemPoolGetBlock(pool, nullptr), nullptr);
    EXPECT_EQ(MemPoolLock(pool), RES_NOTIMPLEMENTED); // its lock went with the cleanup
    MemPoolRemoveUsedBlock(inArea);
    EXPECT_EQ(MemPoolDelete(pool, "Test"), RES_OK);
}

// A memory tracker whose size answer runs a step of the test inside the heap allocation of an
// extension: after the pool's first check that it may grow, before the growth itself.
std::function<void()> g_duringAllocation;
RTS_SIZE size_during_allocation(RTS_SIZE size) {
    if (auto step = std::exchange(g_duringAllocation, nullptr)) step();
    return size;
}
const CMExportEntry kSizeHook[] = {memtest::export_as("MemGCGetSize", size_during_allocation), {}};

TEST(MemPoolExtension, AStaticExtensionIsTheLastOneAlsoWhenMadeMeanwhile) {
    ASSERT_EQ(memtest::start_with(kSizeHook), RES_OK);
    RTS_HANDLE pool = MemPoolCreateDynamic("Test", 1, 16, nullptr);
    alignas(8) static unsigned char extension[64 + 2 * 40 + 8]; // counted as if a control block came first
    g_duringAllocation = [&] { EXPECT_EQ(MemPoolExtendStatic(pool, sizeof extension, extension), RES_OK); };
    EXPECT_EQ(MemPoolExtendDynamic(pool, "Test", 1), RES_INVALID_HANDLE);
    EXPECT_EQ(free_list(pool).size(), 3u);
    EXPECT_EQ(free_list(pool)[0], extension + 16 + 24);
    MemPoolDelete(pool, "Test");
    CMExit();
}

// A listed block is answered with the pool left locked; an unlisted one with the pool unlocked.
TEST_F(MemPool, IsValidBlockKeepsThePoolLocked) {
    RTS_HANDLE pool = MemPoolCreateDynamic("Test", 2, 16, nullptr);
    void* block = MemPoolGetBlock(pool, nullptr);
    auto lockedElsewhere = [&] {
        bool locked = true;
        std::thread([&] {
            if (!(locked = SysSemTry(pcb(pool)->Lock) != RES_OK)) SysSemLeave(pcb(pool)->Lock);
        }).join();
        return locked;
    };
    ASSERT_EQ(MemPoolAppendUsedBlock(block), RES_OK);
    EXPECT_EQ((std::tuple{MemPoolIsValidBlock(pool, block), lockedElsewhere(), MemPoolUnlock(pool),
                          lockedElsewhere()}),
              std::tuple(RES_OK, true, RES_OK, false));
    ASSERT_EQ(MemPoolRemoveUsedBlock(block), RES_OK);
    EXPECT_EQ((std::pair{MemPoolIsValidBlock(pool, block), lockedElsewhere()}), std::pair(RES_FAILED, false));
    MemPoolDelete(pool, "Test");
}

TEST_F(MemPool, LockFreeRemovalWaitsForReaders) {
    static int released = 0;
    MemPoolCreateInfo info{MEM_POOL_DYNAMIC,
                           [](void*, void* param) { released += *static_cast<int*>(param); },
                           reinterpret_cast<RTS_UINTPTR>("Test"), 4, 16};
    RTS_HANDLE pool = MemPoolCreate(&info, nullptr);
    void *a = MemPoolGetBlock(pool, nullptr), *b = MemPoolGetBlock(pool, nullptr);
    for (void* block : {a, b}) MemPoolAppendUsedBlock(block);
    ASSERT_EQ(MemPoolIsValidBlock_LF(pool, a), RES_OK); // a reader holds a reference
    int weight = 10;
    EXPECT_EQ((std::tuple{MemPoolLock_LF(pool), MemPoolUnlock_LF(pool), MemPoolRemoveUsedBlock_LF(a),
                          MemPoolIsValidBlock_LF(pool, a), MemPoolReleaseBlocks(pool, 1, &weight)}),
              std::tuple(RES_BUSY, RES_OK, RES_PENDING, RES_PARAMETER, RES_PENDING)); // pending: skipped
    EXPECT_EQ(used_list(pool), (std::vector<void*>{a, b}));
    EXPECT_TRUE(filled_with(a, 16, 0x00));

    EXPECT_EQ((std::tuple{MemPoolReleaseRef_LF(pool), MemPoolLock_LF(pool), MemPoolUnlock_LF(pool),
                          MemPoolReleaseBlocks(pool, 1, &weight)}),
              std::tuple(RES_OK, RES_OK, RES_OK, RES_OK));
    EXPECT_EQ(std::tuple(used_list(pool), released, free_list(pool).front()),
              std::tuple(std::vector{b}, 10, a));
    EXPECT_TRUE(filled_with(a, 16, 0xAA));

    EXPECT_EQ((std::tuple{MemPoolRemoveUsedBlock_LF(b), MemPoolReleaseBlocks(pool, 0, &weight),
                          MemPoolPutBlock_LF(b, &weight), released}),
              std::tuple(RES_OK, RES_PENDING, RES_OK, 20)); // no reader: unlinked at once
    MemPoolDelete(pool, "Test");
}

TEST_F(MemPool, HashedBlocksGetConsecutiveKeys) {
    RTS_HANDLE pool = MemPoolCreateDynamic("Test", 1, 16, nullptr);
    RTS_HANDLE buckets[3][5], tables[3]; // more tables than the two the table pool holds statically
    RTS_RESULT created[3];
    for (int i = 0; i < 3; ++i) tables[i] = MemPoolCreateHashTable2(pool, 5, buckets[i], "Test", &created[i]);
    EXPECT_EQ(std::vector(created, created + 3), std::vector(3, RES_OK));
    RTS_HANDLE table = tables[2];
    EXPECT_EQ((std::pair{MemPoolGetBlockHashed(table, 0, &created[0]), created[0]}), std::pair(1u, RES_OK));
    EXPECT_EQ(RESULT_OF(MemPoolGetBlockHashed(table, 0, r)), RES_INVALID_HANDLE); // empty, no growth
    EXPECT_EQ(MemPoolGetBlockHashed2(table, 2, 8, nullptr), 3u);
    auto* block = static_cast<RTS_UI32*>(MemPoolGetBlockByHash(table, 3, nullptr));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ((std::pair{block[2], MemPoolAppendUsedBlock(block)}), std::pair(3u, RES_OK)); // key at offset 8
    EXPECT_EQ((std::tuple{MemPoolRemoveBlockHashed(table, 3), RESULT_OF(MemPoolGetBlockByHash(table, 3, r)),
                          used_list(pool).size(), MemPoolRemoveBlockHashed(table, 1)}),
              std::tuple(RES_OK, RES_NO_OBJECT, size_t{0}, RES_PARAMETER)); // key 1: never listed
    for (RTS_HANDLE t : tables) EXPECT_EQ(MemPoolDeleteHashTable(t), RES_OK);
    EXPECT_EQ(RESULT_OF(MemPoolGetBlockByHash(table, 1, r)), RES_PARAMETER);
    MemPoolDelete(pool, "Test");
}

} // namespace
