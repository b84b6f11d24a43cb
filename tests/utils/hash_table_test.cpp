// The hash table beyond its model test: a bucket array no heap can give, concurrent use under the
// manager's lock, and interrupt locking where a component offers it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <thread>
#include <vector>

#include "cmhash.h"
#include "test_components.h"

// Allocation failures (here and in the string tests) are provoked with sizes no heap can give;
// the sanitizers must answer those with null like the real heap instead of stopping the program.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}
extern "C" const char* __tsan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {

constexpr const char* kOwner = "HashTest";

TEST(CMUtlHash, BucketArrayThatCannotBeHadLeavesTheTableAlone) {
    CMUtlHashTable t{};
    for (RTS_SIZE count : {~RTS_SIZE{0} / sizeof(void*) + 1, ~RTS_SIZE{0} / 16})
        EXPECT_TRUE(CMUtlHashCreate(&t, count, kOwner) == RES_NOMEMORY && t.bucketCount == 0);
}

// With the manager started its locks are on: threads inserting, finding and removing their own
// keys in one shared table lose nothing and find no stranger's value.
TEST(CMUtlHash, ConcurrentUseUnderTheManagersLock) {
    ASSERT_EQ(CMInit2(nullptr, StaticComponentList, 1), RES_OK);
    CMUtlHashTable t{};
    ASSERT_EQ(CMUtlHashCreate(&t, 31, kOwner), RES_OK);
    constexpr int kThreads = 4, kKeys = 300;
    std::array<int, kThreads> failures{};
    std::vector<std::thread> threads;
    for (int id = 0; id < kThreads; ++id) {
        threads.emplace_back([&t, &failures, id] {
            for (int round = 0; round < 3; ++round) {
                for (RTS_UI32 k = 0; k < kKeys; ++k) {
                    const RTS_UI32 key[3] = {static_cast<RTS_UI32>(id), k, 0x5A5A5A5Au};
                    failures[id] += CMUtlHashInsert(&t, key, sizeof key, 1, id) != RES_OK;
                    const CMUtlHashEntry* e = CMUtlHashSearch(&t, key, sizeof key, nullptr);
                    failures[id] += e == nullptr || e->value != static_cast<RTS_UINTPTR>(id);
                }
                for (RTS_UI32 k = 0; k < kKeys; k += round < 2 ? 1 : 2) { // the odd keys stay at last
                    const RTS_UI32 key[3] = {static_cast<RTS_UI32>(id), k, 0x5A5A5A5Au};
                    failures[id] += CMUtlHashRemove2(&t, key, sizeof key) != RES_OK;
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures, (std::array<int, kThreads>{}));
    int left = 0;
    CMUtlHashIterate(
        &t, [](CMUtlHashEntry*, void* n) { return ++*static_cast<int*>(n), 0; }, &left);
    EXPECT_EQ(left, kThreads * kKeys / 2);
    EXPECT_EQ(CMUtlHashDelete(&t), RES_OK);
    CMExit();
}

int g_disabled = 0, g_enables = 0, g_deepest = 0;
RTS_RESULT fake_disable_all() {
    g_deepest = std::max(g_deepest, ++g_disabled);
    return RES_OK;
}
RTS_RESULT fake_enable_all() {
    --g_disabled, ++g_enables;
    return RES_OK;
}
const CMExportEntry kInterruptExports[] = {
    {reinterpret_cast<RTS_VOID_FCTPTR>(fake_disable_all), "SysIntDisableAll", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(fake_enable_all), "SysIntEnableAll", 0, 0},
    {nullptr, nullptr, 0, 0},
};

// Where a component offers interrupt locking, a table created for it brackets every walk with
// one disable and one enable, and never nests them.
TEST(CMUtlHash, InterruptLockingBracketsEveryWalkWhenOffered) {
    testcmp::reset();
    testcmp::slot(0).id = 0x7001;
    testcmp::slot(0).exports = kInterruptExports;
    const StaticComponent list[] = {{"TestInterrupts", testcmp::entry(0), 0}, {nullptr, nullptr, 0}};
    ASSERT_EQ(CMInit2(nullptr, list, 1), RES_OK);
    CMUtlHashTable t{};
    ASSERT_EQ(CMUtlHashCreate3(&t, 5, nullptr, CMUTL_HASH_INTERRUPT_LOCK, kOwner), RES_OK);
    ASSERT_EQ(CMUtlHashInsert(&t, "irq", 3, 1, 1), RES_OK); // a search and a walk
    EXPECT_NE(CMUtlHashSearch(&t, "irq", 3, nullptr), nullptr);
    EXPECT_EQ(CMUtlHashRemove2(&t, "irq", 3), RES_OK);
    EXPECT_EQ(CMUtlHashDelete(&t), RES_OK);
    CMExit();
    EXPECT_EQ(g_enables, 5);
    EXPECT_EQ(g_disabled, 0);
    EXPECT_EQ(g_deepest, 1);
    // Once that component is gone, a new table does not call into it: it takes the lock.
    ASSERT_EQ(CMInit2(nullptr, StaticComponentList, 1), RES_OK);
    ASSERT_EQ(CMUtlHashCreate3(&t, 5, nullptr, CMUTL_HASH_INTERRUPT_LOCK, kOwner), RES_OK);
    EXPECT_EQ(CMUtlHashInsert(&t, "irq", 3, 1, 1), RES_OK);
    EXPECT_EQ(CMUtlHashDelete(&t), RES_OK);
    CMExit();
    EXPECT_EQ(g_enables, 5);
}

} // namespace
