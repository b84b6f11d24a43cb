// Pools under several threads: blocks taken and given back under the pool's lock, also from
// another pool's used list, are all accounted for afterwards; lock-free readers never see a
// block that was given back; and each hashed key is removed once while two threads race for it.
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

// Runs the threads to their end.
template <class... F> void run_together(F... bodies) {
    std::thread threads[] = {std::thread(bodies)...};
    for (std::thread& t : threads) t.join();
}

// A bound for waits on another thread, so that a fault fails the test instead of hanging it.
bool in_time(std::chrono::steady_clock::time_point start) {
    return std::chrono::steady_clock::now() - start < std::chrono::seconds(60);
}

TEST_F(MemPoolThreads, TakingAndGivingBackLosesNoBlock) {
    RTS_HANDLE pool = MemPoolCreateDynamic("Threads", 16, 32, nullptr);
    RTS_HANDLE other = MemPoolCreateDynamic("Threads", 1, 32, nullptr); // lists blocks of the first
    const auto all = free_list(pool);
    std::atomic<int> failures{0};
    auto worker = [&](unsigned char mark) {
        std::vector<void*> mine;
        for (int round = 0; round < 3000; ++round) {
            void* b = mine.size() < 5 ? MemPoolGetBlock(pool, nullptr) : nullptr;
            if (b != nullptr) {
                failures += !memtest::filled_with(b, 32, 0) + (MemPoolAppendUsedBlock(b) != RES_OK);
                mine.push_back(std::memset(b, mark, 32));
            }
            if (mine.size() < 5 && round < 2999) continue;
            for (void* m : mine) { // nobody else touched it
                failures += !memtest::filled_with(m, 32, mark) + (MemPoolRemoveUsedBlock(m) != RES_OK);
                failures += MemPoolPutBlock(m) != RES_OK;
            }
            mine.clear();
        }
    };
    auto releaser = [&] { // gives blocks back from the other pool's used list
        for (int round = 0; round < 3000; ++round) {
            void* b = MemPoolGetBlock(pool, nullptr);
            if (b == nullptr) continue;
            failures += MemPoolAppendUsedBlockToPool(b, other) != RES_OK;
            failures += MemPoolReleaseBlocks(other, 0, nullptr) != RES_OK;
        }
    };
    run_together([&] { worker(0x11); }, [&] { worker(0x22); }, releaser);
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(free_list(pool).size(), all.size());
    EXPECT_EQ(as_set(free_list(pool)), as_set(all));
    EXPECT_TRUE(memtest::used_list(pool).empty());
    for (RTS_HANDLE p : {other, pool}) MemPoolDelete(p, "Threads");
}

TEST_F(MemPoolThreads, LockFreeReadersNeverSeeAReleasedBlock) {
    constexpr int kBlocks = 8;
    constexpr unsigned char kLive = 0x3C;
    RTS_HANDLE pool = MemPoolCreateDynamic("Threads", kBlocks, 16, nullptr);
    auto bytes = [](void* b, int k) {
        return std::atomic_ref<unsigned char>(static_cast<unsigned char*>(b)[k]);
    };
    auto make_live = [&](void* b) {
        for (int k = 0; k < 16; ++k) bytes(b, k).store(kLive);
        return MemPoolAppendUsedBlock(b);
    };
    std::vector<void*> blocks;
    for (int i = 0; i < kBlocks; ++i) make_live(blocks.emplace_back(MemPoolGetBlock(pool, nullptr)));
    std::atomic<bool> stop{false};
    std::atomic<long> badReads{0}, goodReads{0};
    auto reader = [&] {
        for (unsigned i = 0; !stop.load(); ++i) {
            void* b = blocks[i % kBlocks];
            if (MemPoolIsValidBlock_LF(pool, b) != RES_OK) continue;
            for (int k = 0; k < 16; ++k) badReads += bytes(b, k).load() != kLive;
            ++goodReads;
            MemPoolReleaseRef_LF(pool);
        }
    };
    auto writer = [&] {
        // It starts once the readers read, so the two overlap even where threads start slowly.
        for (const auto start = std::chrono::steady_clock::now(); goodReads.load() < 100 && in_time(start);)
            std::this_thread::yield();
        for (int round = 0; round < 2000; ++round) {
            void* b = blocks[round % kBlocks];
            const RTS_RESULT removed = MemPoolRemoveUsedBlock_LF(b);
            badReads += removed == RES_OK ? MemPoolPutBlock(b) != RES_OK : removed != RES_PENDING;
            while (removed == RES_PENDING && MemPoolReleaseBlocks(pool, 1, nullptr) == RES_PENDING)
                std::this_thread::yield();
            badReads +=
                MemPoolGetBlock(pool, nullptr) != b || make_live(b) != RES_OK; // given back, out first
        }
        stop = true;
    };
    run_together(reader, reader, writer);
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
    constexpr RTS_UI32 kNone = 0, kKeys = 500;
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
    auto producer = [&] {
        const auto start = std::chrono::steady_clock::now();
        for (RTS_UI32 n = 0; n < kKeys && in_time(start); ++n) {
            const RTS_UI32 key = MemPoolGetBlockHashed2(table, 0, 0, nullptr); // the key at offset 0
            failures += MemPoolAppendUsedBlock(MemPoolGetBlockByHash(table, key, nullptr)) != RES_OK;
            published.store(key);
            while (published.load() != kNone && in_time(start)) std::this_thread::yield();
        }
        stop = true;
    };
    run_together(consumer, consumer, producer);
    EXPECT_EQ(std::pair(removed.load(), failures.load()), std::pair(static_cast<int>(kKeys), 0));
    EXPECT_EQ(free_list(pool).size(), 4u);
    MemPoolDeleteHashTable(table);
    MemPoolDelete(pool, "Threads");
}

} // namespace
