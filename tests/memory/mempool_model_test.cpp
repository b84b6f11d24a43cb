// Random sequences of take, give back, add, append, insert, remove and growth on a pool, checked
// after every step against a plain model of the free list (last in, first out), the used list,
// the block contents and the flags a caller sees.
#include <random>

#include "memory_fixture.h"

namespace {

class MemPoolModel : public memtest::Framework, public ::testing::WithParamInterface<unsigned> {};

TEST_P(MemPoolModel, ListsFollowTheModel) {
    std::mt19937 rng(GetParam());
    constexpr RTS_SIZE kBlockSize = 24;
    RTS_HANDLE pool = MemPoolCreateDynamic("Model", 12, kBlockSize, nullptr);
    std::vector<void*> freeList = memtest::free_list(pool), usedList, taken; // taken: in no list
    auto index = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
    auto take = [&](std::vector<void*>& from) {
        const auto at = from.begin() + static_cast<std::ptrdiff_t>(index(from.size()));
        void* b = *at;
        return from.erase(at), b;
    };
    for (int step = 0; step < 3000; ++step) {
        const int op = std::uniform_int_distribution<int>(0, 6)(rng);
        SCOPED_TRACE(::testing::Message() << "seed " << GetParam() << " step " << step << " op " << op);
        if (op == 0 || (op == 6 && freeList.empty())) { // take
            RTS_RESULT r = RES_FAILED;
            void* b = MemPoolGetBlock(pool, &r);
            using Answer = std::pair<void*, RTS_RESULT>;
            ASSERT_EQ(Answer(b, r), freeList.empty() ? Answer(nullptr, RES_INVALID_HANDLE)
                                                     : Answer(freeList.front(), RES_OK));
            if (b == nullptr) continue;
            ASSERT_TRUE(memtest::filled_with(b, kBlockSize, 0));
            std::memset(b, step & 0x7F, kBlockSize);
            freeList.erase(freeList.begin());
            taken.push_back(b);
        } else if (op == 1 && !taken.empty()) { // give back
            void* b = take(taken);
            ASSERT_EQ(MemPoolPutBlock(b), RES_OK);
            ASSERT_TRUE(memtest::filled_with(b, kBlockSize, 0xAA));
            freeList.insert(freeList.begin(), b);
        } else if (op >= 2 && op <= 4 && !taken.empty()) { // add at the head, append, insert after a block
            void* b = take(taken);
            const size_t at = op == 2 ? 0 : op == 3 ? usedList.size() : index(usedList.size() + 1);
            ASSERT_EQ(op == 2   ? MemPoolAddUsedBlock(b)
                      : op == 3 ? MemPoolAppendUsedBlock(b)
                                : MemPoolInsertUsedBlock(at == 0 ? nullptr : usedList[at - 1], b),
                      RES_OK);
            usedList.insert(usedList.begin() + static_cast<std::ptrdiff_t>(at), b);
        } else if (op == 5 && !usedList.empty()) { // remove
            void* b = take(usedList);
            ASSERT_EQ(MemPoolRemoveUsedBlock(b), RES_OK);
            taken.push_back(b);
        } else if (op == 6) { // grow by one heap block, which comes out next
            ASSERT_EQ(MemPoolExtendDynamic(pool, "Model", 1), RES_OK);
            freeList.insert(freeList.begin(), memtest::free_list(pool).front());
        }
        ASSERT_EQ(memtest::free_list(pool), freeList);
        ASSERT_EQ(memtest::used_list(pool), usedList);
        ASSERT_EQ(memtest::pcb(pool)->UsedTail,
                  usedList.empty() ? nullptr : memtest::header(usedList.back()));
        for (const auto* list : {&freeList, &usedList}) // cleared when given back; listed, not pending
            for (void* b : *list) ASSERT_EQ(memtest::header(b)->Flags, 0u);
    }
    for (void* b : usedList) MemPoolRemoveUsedBlock(b);
    MemPoolDelete(pool, "Model");
}

INSTANTIATE_TEST_SUITE_P(Seeds, MemPoolModel, ::testing::Values(1u, 2u, 3u, 42u, 1234u));

} // namespace
