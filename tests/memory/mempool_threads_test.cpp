// Pools under several threads: blocks taken and given back under the pool's lock, also from
// another pool's used list, are all accounted for afterwards, and lock-free readers never see a block that
// was given back.
#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "memory_fixture.h"

namespace {

using memtest::free_list;

class MemPoolThreads : public memtest::Framework {};

std::set<void*> as_set(const std::vector<void*>& blocks) {
    return {blocks.begin(), blocks.end()};
}

TEST_F(MemPoolThreads, TakingAndGivingBackLosesNoBlock) {
    RTS_HANDLE pool = MemPoolCreateDynamic("Threads", 16, 32, nullptr);
    RTS_HANDLE other = MemPoolCreateDynamic("Threads", 1, 32, nullptr); // lists blocks of the first
    const auto all = free_list(pool);
    std::atomic<int> failures{0};
    auto worker = [&](unsigned char mark) {
        std::vector<void*> mine;
        for (int round = 0; round < 3000; ++round) {
            if (mine.size() < 5) {
                void* b = MemPoolGetBlock(pool, nullptr);
                if (b == nullptr) continue;
                failures += !memtest::filled_with(b, 32, 0) + (MemPoolAppendUsedBlock(b) != RES_OK);
                std::memset(b, mark, 32);
                mine.push_back(b);
                continue;
            }
            for (void* b : mine) {
                failures += !memtest::filled_with(b, 32, mark); // nobody else touched it
                failures += MemPoolRemoveUsedBlock(b) != RES_OK || MemPoolPutBlock(b) != RES_OK;
            }
            mine.clear();
        }
        for (void* b : mine) failures += MemPoolRemoveUsedBlock(b) != RES_OK || MemPoolPutBlock(b) != RES_OK;
    };
    auto releaser = [&] { // gives blocks back from the other pool's used list
        for (int round = 0; round < 3000; ++round) {
            void* b = MemPoolGetBlock(pool, nullptr);
            if (b == nullptr) continue;
            failures += MemPoolAppendUsedBlockToPool(b, other) != RES_OK;
            failures += MemPoolReleaseBlocks(other, 0, nullptr) != RES_OK;
        }
    };
    std::thread one(worker, 0x11), two(worker, 0x22), three(releaser);
    for (std::thread* t : {&one, &two, &three}) t->join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(free_list(pool).size(), all.size());
    EXPECT_EQ(as_set(free_list(pool)), as_set(all));
    EXPECT_TRUE(memtest::used_list(pool).empty());
    MemPoolDelete(other, "Threads");
    MemPoolDelete(pool, "Threads");
}

TEST_F(MemPoolThreads, LockFreeReadersNeverSeeAReleasedBlock) {
    constexpr int kBlocks = 8;
    constexpr unsigned char kLive = 0x3C;
    RTS_HANDLE pool = MemPoolCreateDynamic("Threads", kBlocks, 16, nullptr);
    auto make_live = [&](void* b) {
        for (int k = 0; k < 16; ++k)
            std::atomic_ref<unsigned char>(static_cast<unsigned char*>(b)[k]).store(kLive);
        return MemPoolAppendUsedBlock(b);
    };
    std::vector<void*> blocks;
    for (int i = 0; i < kBlocks; ++i) {
        blocks.push_back(MemPoolGetBlock(pool, nullptr));
        make_live(blocks.back());
    }
    std::atomic<bool> stop{false};
    std::atomic<int> badReads{0};
    std::atomic<long> goodReads{0};
    auto reader = [&] {
        for (unsigned i = 0; !stop.load(); ++i) {
            auto* b = static_cast<unsigned char*>(blocks[i % kBlocks]);
            if (MemPoolIsValidBlock_LF(pool, b) != RES_OK) continue;
            for (int k = 0; k < 16; ++k) badReads += std::atomic_ref<unsigned char>(b[k]).load() != kLive;
            ++goodReads;
            MemPoolReleaseRef_LF(pool);
        }
    };
    std::thread r1(reader), r2(reader);
    // The writer starts once the readers read, so the two overlap even where threads start slowly.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (goodReads.load() < 100 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    for (int round = 0; round < 2000; ++round) {
        void* b = blocks[round % kBlocks];
        const RTS_RESULT removed = MemPoolRemoveUsedBlock_LF(b);
        ASSERT_TRUE(removed == RES_OK || removed == RES_PENDING) << removed;
        if (removed == RES_OK) {
            ASSERT_EQ(MemPoolPutBlock(b), RES_OK);
        }
        while (removed == RES_PENDING && MemPoolReleaseBlocks(pool, 1, nullptr) == RES_PENDING)
            std::this_thread::yield();
        ASSERT_EQ(MemPoolGetBlock(pool, nullptr), b); // the block given back comes out first
        ASSERT_EQ(make_live(b), RES_OK);
    }
    stop = true;
    r1.join();
    r2.join();
    EXPECT_EQ(badReads.load(), 0);
    EXPECT_GT(goodReads.load(), 0);
    EXPECT_EQ(memtest::pcb(pool)->ReaderCount, 0);
    EXPECT_EQ(memtest::used_list(pool).size(), static_cast<size_t>(kBlocks));
    for (void* b : blocks) MemPoolRemoveUsedBlock(b);
    MemPoolDelete(pool, "Threads");
}

// Two threads race to look up and remove each key a third one hands out: every key is removed
// exactly once, by a thread that then finds its own key in the block, and no block is lost.
TEST_F(MemPoolThreads, EachHashedKeyIsRemovedOnce) {
    RTS_HANDLE pool = MemPoolCreateDynamic("Threads", 4, 16, nullptr);
    RTS_HANDLE table = MemPoolCreateHashTable(pool, 3, "Threads", nullptr);
    constexpr RTS_UI32 kNone = 0, kKeys = 3000;
    std::atomic<RTS_UI32> published{kNone};
    std::atomic<int> removed{0}, failures{0};
    std::atomic<bool> stop{false};
    auto consumer = [&] {
        while (!stop.load()) {
            RTS_UI32 key = published.load();
            auto* block = static_cast<RTS_UI32*>(MemPoolGetBlockByHash(table, key, nullptr));
            if (block == nullptr || MemPoolRemoveBlockHashed(table, key) != RES_OK) continue;
            failures += *block != key || MemPoolPutBlock(block) != RES_OK ||
                        !published.compare_exchange_strong(key, kNone);
            ++removed;
        }
    };
    std::thread one(consumer), two(consumer);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (RTS_UI32 n = 0; n < kKeys && std::chrono::steady_clock::now() < deadline; ++n) {
        const RTS_UI32 key = MemPoolGetBlockHashed2(table, 0, 0, nullptr);
        failures += MemPoolAppendUsedBlock(MemPoolGetBlockByHash(table, key, nullptr)) != RES_OK;
        published.store(key);
        while (published.load() != kNone && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
    }
    stop = true;
    one.join();
    two.join();
    EXPECT_EQ(removed.load(), static_cast<int>(kKeys));
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(free_list(pool).size(), 4u);
    MemPoolDeleteHashTable(table);
    MemPoolDelete(pool, "Threads");
}

} // namespace
