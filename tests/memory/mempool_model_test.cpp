// Random sequences of take, give back, add, append, insert, remove and growth on a pool, checked
// after every step against a plain model of the free list (last in, first out), the used list
// the block contents and the flags a caller sees.
#include <algorithm>
#include <list>
#include <random>

#include "memory_fixture.h"

namespace {

class MemPoolModel : public memtest::Framework, public ::testing::WithParamInterface<unsigned> {};

TEST_P(MemPoolModel, ListsFollowTheModel) {
    std::mt19937 rng(GetParam());
    constexpr RTS_SIZE kBlockSize = 24;
    RTS_HANDLE pool = MemPoolCreateDynamic("Model", 12, kBlockSize, nullptr);
    std::vector<void*> freeList = memtest::free_list(pool); // front: the next block handed out
    std::list<void*> usedList;
    std::vector<void*> taken; // taken, not in the used list
    ASSERT_EQ(freeList.size(), 12u);
    auto pick = [&](const auto& blocks) {
        auto it = blocks.begin();
        std::advance(it, std::uniform_int_distribution<size_t>(0, blocks.size() - 1)(rng));
        return *it;
    };
    auto take_from = [&](std::vector<void*>& blocks) {
        void* b = pick(blocks);
        blocks.erase(std::find(blocks.begin(), blocks.end(), b));
        return b;
    };

    for (int step = 0; step < 3000; ++step) {
        const int op = std::uniform_int_distribution<int>(0, 6)(rng);
        SCOPED_TRACE(::testing::Message() << "seed " << GetParam() << " step " << step << " op " << op);
        if (op == 0 || (op == 6 && freeList.empty())) { // take
            RTS_RESULT r = RES_FAILED;
            void* b = MemPoolGetBlock(pool, &r);
            ASSERT_EQ(b, freeList.empty() ? nullptr : freeList.front());
            ASSERT_EQ(r, freeList.empty() ? RES_INVALID_HANDLE : RES_OK);
            if (b == nullptr) continue;
            ASSERT_TRUE(memtest::filled_with(b, kBlockSize, 0));
            std::memset(b, step & 0x7F, kBlockSize);
            freeList.erase(freeList.begin());
            taken.push_back(b);
        } else if (op == 1 && !taken.empty()) { // give back
            void* b = take_from(taken);
            ASSERT_EQ(MemPoolPutBlock(b), RES_OK);
            ASSERT_TRUE(memtest::filled_with(b, kBlockSize, 0xAA));
            freeList.insert(freeList.begin(), b);
        } else if (op == 2 && !taken.empty()) { // add at the head
            void* b = take_from(taken);
            ASSERT_EQ(MemPoolAddUsedBlock(b), RES_OK);
            usedList.push_front(b);
        } else if (op == 3 && !taken.empty()) { // append
            void* b = take_from(taken);
            ASSERT_EQ(MemPoolAppendUsedBlock(b), RES_OK);
            usedList.push_back(b);
        } else if (op == 4 && !taken.empty()) { // insert after a used block, or at the head
            void* b = take_from(taken);
            void* prev = usedList.empty() || (rng() & 3) == 0 ? nullptr : pick(usedList);
            ASSERT_EQ(MemPoolInsertUsedBlock(prev, b), RES_OK);
            usedList.insert(prev == nullptr ? usedList.begin()
                                            : std::next(std::find(usedList.begin(), usedList.end(), prev)),
                            b);
        } else if (op == 5 && !usedList.empty()) { // remove
            void* b = pick(usedList);
            ASSERT_EQ(MemPoolRemoveUsedBlock(b), RES_OK);
            usedList.remove(b);
            taken.push_back(b);
        } else if (op == 6) { // grow by one heap block, which comes out next
            ASSERT_EQ(MemPoolExtendDynamic(pool, "Model", 1), RES_OK);
            freeList.insert(freeList.begin(), memtest::free_list(pool).front());
        }
        ASSERT_EQ(memtest::free_list(pool), freeList);
        ASSERT_EQ(memtest::used_list(pool), std::vector<void*>(usedList.begin(), usedList.end()));
        ASSERT_EQ(memtest::pcb(pool)->UsedTail,
                  usedList.empty() ? nullptr : memtest::header(usedList.back()));
        for (void* b : memtest::free_list(pool))
            ASSERT_EQ(memtest::header(b)->Flags, 0u);                      // cleared when given back
        for (void* b : usedList) ASSERT_EQ(memtest::header(b)->Flags, 0u); // listed, not pending
    }
    for (void* b : usedList) MemPoolRemoveUsedBlock(b);
    MemPoolDelete(pool, "Model");
}

INSTANTIATE_TEST_SUITE_P(Seeds, MemPoolModel, ::testing::Values(1u, 2u, 3u, 42u, 1234u));

} // namespace
