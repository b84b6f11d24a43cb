// Random sequences of take, give back, add, append, insert and remove on a pool, checked after
// every step against a plain model of the free list (last in, first out) and the used list.
#include <algorithm>
#include <list>
#include <random>

#include "memory_fixture.h"

namespace {

struct Model {
    std::vector<void*> freeList; // front = next block handed out
    std::list<void*> usedList;
    std::vector<void*> taken; // taken, not in the used list
};

class MemPoolModel : public memtest::Framework, public ::testing::WithParamInterface<unsigned> {};

void* pick(std::mt19937& rng, const std::vector<void*>& v) {
    return v[std::uniform_int_distribution<size_t>(0, v.size() - 1)(rng)];
}
void* pick(std::mt19937& rng, const std::list<void*>& l) {
    auto it = l.begin();
    std::advance(it, std::uniform_int_distribution<size_t>(0, l.size() - 1)(rng));
    return *it;
}
void erase(std::vector<void*>& v, void* b) {
    v.erase(std::find(v.begin(), v.end(), b));
}

TEST_P(MemPoolModel, ListsFollowTheModel) {
    std::mt19937 rng(GetParam());
    constexpr RTS_SIZE kBlockSize = 24;
    RTS_HANDLE pool = MemPoolCreateDynamic("Model", 12, kBlockSize, nullptr);
    ASSERT_NE(pool, RTS_INVALID_HANDLE);
    Model m;
    m.freeList = memtest::free_list(pool);
    ASSERT_EQ(m.freeList.size(), 12u);

    for (int step = 0; step < 3000; ++step) {
        const int op = std::uniform_int_distribution<int>(0, 7)(rng);
        SCOPED_TRACE(::testing::Message() << "seed " << GetParam() << " step " << step << " op " << op);
        if (op == 0 || (op == 7 && m.freeList.empty())) { // take
            RTS_RESULT r = RES_FAILED;
            void* b = MemPoolGetBlock(pool, &r);
            if (m.freeList.empty()) {
                ASSERT_EQ(b, nullptr);
                ASSERT_EQ(r, RES_INVALID_HANDLE);
            } else {
                ASSERT_EQ(b, m.freeList.front());
                ASSERT_TRUE(memtest::filled_with(b, kBlockSize, 0));
                std::memset(b, step & 0x7F, kBlockSize);
                m.freeList.erase(m.freeList.begin());
                m.taken.push_back(b);
            }
        } else if (op == 1 && !m.taken.empty()) { // give back
            void* b = pick(rng, m.taken);
            ASSERT_EQ(MemPoolPutBlock(b), RES_OK);
            ASSERT_TRUE(memtest::filled_with(b, kBlockSize, 0xAA));
            erase(m.taken, b);
            m.freeList.insert(m.freeList.begin(), b);
        } else if (op == 2 && !m.taken.empty()) { // add at the head
            void* b = pick(rng, m.taken);
            ASSERT_EQ(MemPoolAddUsedBlock(b), RES_OK);
            erase(m.taken, b);
            m.usedList.push_front(b);
        } else if (op == 3 && !m.taken.empty()) { // append
            void* b = pick(rng, m.taken);
            ASSERT_EQ(MemPoolAppendUsedBlock(b), RES_OK);
            erase(m.taken, b);
            m.usedList.push_back(b);
        } else if (op == 4 && !m.taken.empty()) { // insert after a used block, or at the head
            void* b = pick(rng, m.taken);
            void* prev = m.usedList.empty() || (rng() & 3) == 0 ? nullptr : pick(rng, m.usedList);
            ASSERT_EQ(MemPoolInsertUsedBlock(prev, b), RES_OK);
            erase(m.taken, b);
            auto at = prev == nullptr ? m.usedList.begin()
                                      : std::next(std::find(m.usedList.begin(), m.usedList.end(), prev));
            m.usedList.insert(at, b);
        } else if (op == 5 && !m.usedList.empty()) { // remove
            void* b = pick(rng, m.usedList);
            ASSERT_EQ(MemPoolRemoveUsedBlock(b), RES_OK);
            m.usedList.remove(b);
            m.taken.push_back(b);
        } else if (op == 6) { // misuse that must change nothing
            if (!m.freeList.empty()) {
                ASSERT_EQ(MemPoolPutBlock(pick(rng, m.freeList)), RES_PARAMETER);
            }
            if (!m.usedList.empty()) {
                ASSERT_EQ(MemPoolAppendUsedBlock(pick(rng, m.usedList)), RES_PARAMETER);
            }
            if (!m.taken.empty()) {
                ASSERT_EQ(MemPoolRemoveUsedBlock(pick(rng, m.taken)), RES_PARAMETER);
            }
        } else if (op == 7) { // grow by one heap block, which comes out next
            ASSERT_EQ(MemPoolExtendDynamic(pool, "Model", 1), RES_OK);
            m.freeList.insert(m.freeList.begin(), memtest::free_list(pool).front());
        }
        ASSERT_EQ(memtest::free_list(pool), m.freeList);
        ASSERT_EQ(memtest::used_list(pool), std::vector<void*>(m.usedList.begin(), m.usedList.end()));
        const PoolControlBlock* p = memtest::pcb(pool);
        ASSERT_EQ(p->UsedTail, m.usedList.empty() ? nullptr : memtest::header(m.usedList.back()));
    }
    for (void* b : m.usedList) MemPoolRemoveUsedBlock(b);
    MemPoolDelete(pool, "Model");
}

INSTANTIATE_TEST_SUITE_P(Seeds, MemPoolModel, ::testing::Values(1u, 2u, 3u, 42u, 1234u));

} // namespace
