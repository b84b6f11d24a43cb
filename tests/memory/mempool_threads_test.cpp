// Pools under several threads: blocks taken and given back under the pool's lock are all
// accounted for afterwards, and lock-free readers never see a block that was given back.
#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "memory_fixture.h"

namespace {

class MemPoolThreads : public memtest::Framework {};

TEST_F(MemPoolThreads, TakingAndGivingBackLosesNoBlock) {
    constexpr int kBlocks = 16;
    RTS_HANDLE pool = MemPoolCreateDynamic("Threads", kBlocks, 32, nullptr);
    ASSERT_NE(pool, RTS_INVALID_HANDLE);
    const auto all = memtest::free_list(pool);
    std::atomic<int> failures{0};
    auto worker = [&](unsigned char mark) {
        std::vector<void*> mine;
        for (int round = 0; round < 3000; ++round) {
            if (mine.size() < 5) {
                void* b = MemPoolGetBlock(pool, nullptr);
                if (b == nullptr) continue;
                if (!memtest::filled_with(b, 32, 0)) ++failures;
                std::memset(b, mark, 32);
                if (MemPoolAppendUsedBlock(b) != RES_OK) ++failures;
                mine.push_back(b);
            } else {
                for (void* b : mine) {
                    if (!memtest::filled_with(b, 32, mark)) ++failures; // nobody else touched it
                    if (MemPoolRemoveUsedBlock(b) != RES_OK || MemPoolPutBlock(b) != RES_OK) ++failures;
                }
                mine.clear();
            }
        }
        for (void* b : mine) {
            MemPoolRemoveUsedBlock(b);
            MemPoolPutBlock(b);
        }
    };
    std::thread one(worker, 0x11);
    std::thread two(worker, 0x22);
    one.join();
    two.join();
    EXPECT_EQ(failures.load(), 0);
    const auto after = memtest::free_list(pool);
    EXPECT_EQ(std::set<void*>(after.begin(), after.end()), std::set<void*>(all.begin(), all.end()));
    EXPECT_EQ(after.size(), all.size());
    EXPECT_TRUE(memtest::used_list(pool).empty());
    MemPoolDelete(pool, "Threads");
}

TEST_F(MemPoolThreads, LockFreeReadersNeverSeeAReleasedBlock) {
    constexpr int kBlocks = 8;
    constexpr unsigned char kLive = 0x3C;
    RTS_HANDLE pool = MemPoolCreateDynamic("Threads", kBlocks, 16, nullptr);
    std::vector<void*> blocks;
    for (int i = 0; i < kBlocks; ++i) {
        void* b = MemPoolGetBlock(pool, nullptr);
        std::memset(b, kLive, 16);
        MemPoolAppendUsedBlock(b);
        blocks.push_back(b);
    }
    std::atomic<bool> stop{false};
    std::atomic<int> badReads{0};
    std::atomic<long> goodReads{0};
    auto reader = [&] {
        for (unsigned i = 0; !stop.load(); ++i) {
            void* b = blocks[i % kBlocks];
            if (MemPoolIsValidBlock_LF(pool, b) != RES_OK) continue;
            for (int k = 0; k < 16; ++k) {
                if (std::atomic_ref<unsigned char>(static_cast<unsigned char*>(b)[k]).load() != kLive)
                    ++badReads;
            }
            ++goodReads;
            MemPoolReleaseRef_LF(pool);
        }
    };
    std::thread r1(reader), r2(reader);
    // The writer starts only once the readers are reading, so the two really overlap even where
    // threads start slowly.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (goodReads.load() < 100 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    for (int round = 0; round < 2000; ++round) {
        void* b = blocks[round % kBlocks];
        const RTS_RESULT removed = MemPoolRemoveUsedBlock_LF(b);
        ASSERT_TRUE(removed == RES_OK || removed == RES_PENDING) << removed;
        if (removed == RES_OK) {
            ASSERT_EQ(MemPoolPutBlock(b), RES_OK);
        } else {
            while (MemPoolReleaseBlocks(pool, 1, nullptr) == RES_PENDING) std::this_thread::yield();
        }
        // Back into the list with live data (the same block comes out of the free list first).
        void* again = MemPoolGetBlock(pool, nullptr);
        ASSERT_EQ(again, b);
        for (int k = 0; k < 16; ++k)
            std::atomic_ref<unsigned char>(static_cast<unsigned char*>(b)[k]).store(kLive);
        ASSERT_EQ(MemPoolAppendUsedBlock(b), RES_OK);
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

} // namespace
