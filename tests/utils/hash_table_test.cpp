// The chained hash table: argument checks, key storage (inline, by pointer, copied), the folding
// hash and its buckets, custom functions, caller-owned buckets and entries, iteration with
// removal, deletion, allocation failures and concurrent use once the manager's locks are on.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <set>
#include <string>
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

// A table that is always deleted at the end of the test.
struct Table {
    CMUtlHashTable t{};
    ~Table() {
        if (t.bucketCount != 0) CMUtlHashDelete(&t);
    }
};

std::vector<const CMUtlHashEntry*> chain(const CMUtlHashTable& t, RTS_SIZE bucket) {
    std::vector<const CMUtlHashEntry*> out;
    for (const CMUtlHashEntry* e = t.buckets[bucket]; e != nullptr; e = e->next) out.push_back(e);
    return out;
}

RTS_SIZE entry_count(CMUtlHashTable* t) {
    RTS_SIZE n = 0;
    auto count_one = [](CMUtlHashEntry*, void* ctx) {
        ++*static_cast<RTS_SIZE*>(ctx);
        return 0;
    };
    CMUtlHashIterate(t, count_one, &n);
    return n;
}

TEST(CMUtlHash, RefusesBadArgumentsWithoutTouchingTheTable) {
    Table tab;
    ASSERT_EQ(CMUtlHashCreate(&tab.t, 7, kOwner), RES_OK);
    const char key[] = "k";
    RTS_RESULT r = RES_OK;

    EXPECT_EQ(CMUtlHashCreate(nullptr, 7, kOwner), RES_PARAMETER);
    CMUtlHashTable other{};
    EXPECT_EQ(CMUtlHashCreate(&other, 0, kOwner), RES_PARAMETER);
    EXPECT_EQ(other.buckets, nullptr);

    EXPECT_EQ(CMUtlHashInsert(nullptr, key, 1, 1, 0), RES_PARAMETER);
    EXPECT_EQ(CMUtlHashInsert(&tab.t, nullptr, 1, 1, 0), RES_PARAMETER);
    EXPECT_EQ(CMUtlHashInsert(&tab.t, key, 0, 1, 0), RES_PARAMETER);
    EXPECT_EQ(CMUtlHashSearch(&tab.t, nullptr, 1, &r), nullptr);
    EXPECT_EQ(r, RES_PARAMETER);
    EXPECT_EQ(CMUtlHashSearch(nullptr, key, 1, &r), nullptr);
    EXPECT_EQ(r, RES_PARAMETER);
    EXPECT_EQ(CMUtlHashRemove(&tab.t, nullptr), RES_PARAMETER);
    EXPECT_EQ(CMUtlHashRemove2(&tab.t, key, 0), RES_PARAMETER);
    EXPECT_EQ(CMUtlHashIterate(&tab.t, nullptr, nullptr), RES_PARAMETER);
    EXPECT_EQ(CMUtlHashDelete(nullptr), RES_PARAMETER);
    EXPECT_EQ(entry_count(&tab.t), 0u);

    // Once deleted, every operation refuses instead of walking freed buckets.
    ASSERT_EQ(CMUtlHashDelete(&tab.t), RES_OK);
    EXPECT_EQ(CMUtlHashInsert(&tab.t, key, 1, 1, 0), RES_PARAMETER);
    EXPECT_EQ(CMUtlHashSearch(&tab.t, key, 1, &r), nullptr);
    EXPECT_EQ(r, RES_PARAMETER);
    EXPECT_EQ(CMUtlHashDelete(&tab.t), RES_PARAMETER);
}

TEST(CMUtlHash, CreateVariantsSetFlagsAndLock) {
    auto hash = [](const void*, RTS_SIZE) -> RTS_UINTPTR { return 0; };
    auto same = [](const void*, RTS_SIZE, const void*, RTS_SIZE) { return 1; };
    struct Case {
        RTS_UI32 flags;
        bool functions;
        RTS_UI32 expectFlags;
        bool expectLock;
    };
    const Case cases[] = {
        {0, false, CMUTL_HASH_BUCKETS_ALLOCATED, true},
        {CMUTL_HASH_NO_LOCK, false, CMUTL_HASH_BUCKETS_ALLOCATED | CMUTL_HASH_NO_LOCK, false},
        {0, true, CMUTL_HASH_BUCKETS_ALLOCATED | CMUTL_HASH_CUSTOM_FUNCTIONS, true},
        // Flags that only the table itself may set are not taken from the caller.
        {CMUTL_HASH_CUSTOM_FUNCTIONS | CMUTL_HASH_BUCKETS_ALLOCATED, false, CMUTL_HASH_BUCKETS_ALLOCATED,
         true},
    };
    for (const Case& c : cases) {
        Table tab;
        ASSERT_EQ(CMUtlHashCreate4(&tab.t, 5, nullptr, c.flags, c.functions ? +hash : nullptr,
                                   c.functions ? +same : nullptr, kOwner),
                  RES_OK);
        EXPECT_EQ(tab.t.flags, c.expectFlags);
        EXPECT_EQ(tab.t.lock != RTS_INVALID_HANDLE, c.expectLock);
        EXPECT_EQ(tab.t.owner, kOwner);
        EXPECT_EQ(tab.t.bucketCount, 5u);
        EXPECT_EQ(chain(tab.t, 4).size(), 0u);
    }
    CMUtlHashTable t{};
    EXPECT_EQ(CMUtlHashCreate4(&t, 5, nullptr, 0, +hash, nullptr, kOwner), RES_PARAMETER);
    EXPECT_EQ(CMUtlHashCreate4(&t, 5, nullptr, 0, nullptr, +same, kOwner), RES_PARAMETER);
    EXPECT_EQ(t.buckets, nullptr);
}

TEST(CMUtlHash, SameKeyTwiceIsDuplicateAndKeepsFirstValue) {
    Table tab;
    ASSERT_EQ(CMUtlHashCreate(&tab.t, 3, kOwner), RES_OK);
    const RTS_UI32 key = 0xDEADBEEF;
    EXPECT_EQ(CMUtlHashInsert(&tab.t, &key, sizeof key, 1, 11), RES_OK);
    EXPECT_EQ(CMUtlHashInsert(&tab.t, &key, sizeof key, 1, 22), RES_DUPLICATE);
    EXPECT_EQ(CMUtlHashInsert(&tab.t, &key, sizeof key, 0, 33), RES_DUPLICATE);
    RTS_RESULT r = RES_FAILED;
    CMUtlHashEntry* e = CMUtlHashSearch(&tab.t, &key, sizeof key, &r);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(r, RES_OK);
    EXPECT_EQ(e->value, 11u);
    EXPECT_EQ(entry_count(&tab.t), 1u);
}

TEST(CMUtlHash, KeysAreStoredInlineByPointerOrCopied) {
    struct Case {
        RTS_SIZE length;
        int copyKey;
        RTS_UI32 flags;
        bool survivesCallerChange;
    };
    const Case cases[] = {
        {3, 0, CMUTL_HASH_ENTRY_KEY_POINTER | CMUTL_HASH_ENTRY_ALLOCATED, false},
        {3, 1, CMUTL_HASH_ENTRY_KEY_INLINE | CMUTL_HASH_ENTRY_ALLOCATED, true},
        {8, 1, CMUTL_HASH_ENTRY_KEY_INLINE | CMUTL_HASH_ENTRY_ALLOCATED, true},
        {9, 0, CMUTL_HASH_ENTRY_KEY_POINTER | CMUTL_HASH_ENTRY_ALLOCATED, false},
        {9, 1, CMUTL_HASH_ENTRY_KEY_POINTER | CMUTL_HASH_ENTRY_KEY_COPIED | CMUTL_HASH_ENTRY_ALLOCATED, true},
        {100, 1, CMUTL_HASH_ENTRY_KEY_POINTER | CMUTL_HASH_ENTRY_KEY_COPIED | CMUTL_HASH_ENTRY_ALLOCATED,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "length " << c.length << " copy " << c.copyKey);
        Table tab;
        ASSERT_EQ(CMUtlHashCreate(&tab.t, 13, kOwner), RES_OK);
        std::string callerKey(c.length, 'q');
        const std::string original = callerKey;
        ASSERT_EQ(CMUtlHashInsert(&tab.t, callerKey.data(), c.length, c.copyKey, 5), RES_OK);

        CMUtlHashEntry* e = CMUtlHashSearch(&tab.t, original.data(), c.length, nullptr);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->flags, c.flags);
        EXPECT_EQ(e->keyLength, c.length);
        if ((c.flags & CMUTL_HASH_ENTRY_KEY_COPIED) == 0 && (c.flags & CMUTL_HASH_ENTRY_KEY_POINTER) != 0) {
            EXPECT_EQ(e->key.pointer, callerKey.data());
        }

        // While the caller's memory is unchanged the key is found; after a change only a copy is.
        callerKey.assign(c.length, 'z');
        EXPECT_EQ(CMUtlHashSearch(&tab.t, original.data(), c.length, nullptr) != nullptr,
                  c.survivesCallerChange);
    }
}

// Key bytes -> bucket with a prime bucket count large enough that distinct hashes rarely share.
TEST(CMUtlHash, FoldedHashPicksTheBucket) {
    constexpr RTS_SIZE kBuckets = 1000003;
    struct Case {
        std::vector<RTS_UI8> key;
        RTS_UI64 hash;
    };
    const Case cases[] = {
        {{0x01}, 0x01},
        {{0x01, 0x02}, 0x0201},
        {{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}, 0x0807060504030201ull},
        {{0x01, 0, 0, 0, 0, 0, 0, 0, 0x02}, 0x03},
        {{0xFF, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0x10}, 0x1000},
        {{1, 2, 3, 4, 5, 6, 7, 8, 8, 7, 6, 5, 4, 3, 2, 1}, 0x0905050101050509ull},
    };
    Table tab;
    ASSERT_EQ(CMUtlHashCreate3(&tab.t, kBuckets, nullptr, CMUTL_HASH_NO_LOCK, kOwner), RES_OK);
    for (const Case& c : cases) {
        ASSERT_EQ(CMUtlHashInsert(&tab.t, c.key.data(), c.key.size(), 1, 0), RES_OK);
        CMUtlHashEntry* e = CMUtlHashSearch(&tab.t, c.key.data(), c.key.size(), nullptr);
        auto in_bucket = chain(tab.t, static_cast<RTS_SIZE>(c.hash % kBuckets));
        EXPECT_NE(std::find(in_bucket.begin(), in_bucket.end(), e), in_bucket.end()) << "hash " << c.hash;
    }
    // An aligned 8-byte key hashes to its own value, wherever it is stored.
    alignas(8) RTS_UI64 aligned = 0x1122334455667788ull;
    ASSERT_EQ(CMUtlHashInsert(&tab.t, &aligned, 8, 0, 0), RES_OK);
    EXPECT_EQ(chain(tab.t, aligned % kBuckets).size(), 1u);
}

TEST(CMUtlHash, NineByteKeysWithSwappedEndsShareABucketAndAreBothFound) {
    Table tab;
    ASSERT_EQ(CMUtlHashCreate(&tab.t, 101, kOwner), RES_OK);
    const RTS_UI8 a[9] = {7, 1, 2, 3, 4, 5, 6, 7, 9};
    const RTS_UI8 b[9] = {9, 1, 2, 3, 4, 5, 6, 7, 7};
    ASSERT_EQ(CMUtlHashInsert(&tab.t, a, 9, 0, 1), RES_OK);
    ASSERT_EQ(CMUtlHashInsert(&tab.t, b, 9, 1, 2), RES_OK);
    CMUtlHashEntry* ea = CMUtlHashSearch(&tab.t, a, 9, nullptr);
    CMUtlHashEntry* eb = CMUtlHashSearch(&tab.t, b, 9, nullptr);
    ASSERT_NE(ea, nullptr);
    ASSERT_NE(eb, nullptr);
    EXPECT_EQ(ea->value, 1u);
    EXPECT_EQ(eb->value, 2u);
    EXPECT_EQ(ea->next, eb); // appended behind the first one in the same chain
    EXPECT_EQ(CMUtlHashRemove2(&tab.t, a, 9), RES_OK);
    EXPECT_EQ(CMUtlHashSearch(&tab.t, b, 9, nullptr), eb);
    EXPECT_EQ(CMUtlHashSearch(&tab.t, a, 9, nullptr), nullptr);
}

char fold_case(char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
}

TEST(CMUtlHash, CustomFunctionsDecideHashAndEquality) {
    auto hash = [](const void* k, RTS_SIZE n) -> RTS_UINTPTR {
        RTS_UINTPTR h = 0;
        for (RTS_SIZE i = 0; i < n; ++i) h = h * 31 + fold_case(static_cast<const char*>(k)[i]);
        return h;
    };
    auto equal = [](const void* a, RTS_SIZE na, const void* b, RTS_SIZE nb) {
        if (na != nb) return 0;
        for (RTS_SIZE i = 0; i < na; ++i)
            if (fold_case(static_cast<const char*>(a)[i]) != fold_case(static_cast<const char*>(b)[i]))
                return 0;
        return 1;
    };
    Table tab;
    ASSERT_EQ(CMUtlHashCreate4(&tab.t, 17, nullptr, 0, +hash, +equal, kOwner), RES_OK);
    ASSERT_EQ(CMUtlHashInsert(&tab.t, "LogFilter", 9, 1, 4), RES_OK);
    EXPECT_EQ(CMUtlHashInsert(&tab.t, "LOGFILTER", 9, 1, 5), RES_DUPLICATE);
    CMUtlHashEntry* e = CMUtlHashSearch(&tab.t, "logfilter", 9, nullptr);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->value, 4u);
    EXPECT_EQ(CMUtlHashRemove2(&tab.t, "lOgFiLtEr", 9), RES_OK);
    EXPECT_EQ(entry_count(&tab.t), 0u);
}

TEST(CMUtlHash, CallerBucketsAndEntriesStayTheCallers) {
    std::array<CMUtlHashEntry*, 4> buckets;
    buckets.fill(reinterpret_cast<CMUtlHashEntry*>(0x1)); // garbage that create must clear
    Table tab;
    ASSERT_EQ(CMUtlHashCreate2(&tab.t, buckets.size(), buckets.data(), kOwner), RES_OK);
    EXPECT_EQ(tab.t.flags & CMUTL_HASH_BUCKETS_ALLOCATED, 0u);
    for (CMUtlHashEntry* b : buckets) EXPECT_EQ(b, nullptr);

    std::array<CMUtlHashEntry, 3> entries;
    std::memset(entries.data(), 0xA5, sizeof entries); // stale fields must not leak into the table
    const char* keys[] = {"one", "a-much-longer-key", "two"};
    for (std::size_t i = 0; i < entries.size(); ++i)
        ASSERT_EQ(CMUtlHashInsert2(&tab.t, &entries[i], keys[i], std::strlen(keys[i]), 1, i), RES_OK);
    EXPECT_EQ(entries[0].flags, CMUTL_HASH_ENTRY_KEY_INLINE);
    EXPECT_EQ(entries[1].flags, CMUTL_HASH_ENTRY_KEY_POINTER | CMUTL_HASH_ENTRY_KEY_COPIED);
    EXPECT_EQ(CMUtlHashSearch(&tab.t, "two", 3, nullptr), &entries[2]);

    EXPECT_EQ(CMUtlHashRemove(&tab.t, &entries[1]), RES_OK);
    // Removed once, the entry holds no key any more: a second removal finds nothing to free.
    EXPECT_EQ(entries[1].flags, 0u);
    EXPECT_EQ(CMUtlHashRemove(&tab.t, &entries[1]), RES_NO_OBJECT);
    EXPECT_EQ(CMUtlHashRemove2(&tab.t, "nothing", 7), RES_NO_OBJECT);
    EXPECT_EQ(entry_count(&tab.t), 2u);
    // Delete unlinks the caller's entries and leaves their memory and the buckets alone.
    EXPECT_EQ(CMUtlHashDelete(&tab.t), RES_OK);
    EXPECT_EQ(entries[0].value, 0u);
    EXPECT_EQ(entries[2].value, 2u);
}

TEST(CMUtlHash, IterateWalksBucketsInOrderAndChainsHeadToTail) {
    auto zero = [](const void*, RTS_SIZE) -> RTS_UINTPTR { return 0; };
    auto eq = [](const void* a, RTS_SIZE na, const void* b, RTS_SIZE nb) {
        return static_cast<int>(na == nb && std::memcmp(a, b, na) == 0);
    };
    Table tab;
    ASSERT_EQ(CMUtlHashCreate4(&tab.t, 3, nullptr, 0, +zero, +eq, kOwner), RES_OK);
    for (RTS_UINTPTR v : {1, 2, 3, 4}) ASSERT_EQ(CMUtlHashInsert(&tab.t, &v, sizeof v, 1, v), RES_OK);
    std::vector<RTS_UINTPTR> seen;
    CMUtlHashIterate(
        &tab.t,
        [](CMUtlHashEntry* e, void* ctx) {
            static_cast<std::vector<RTS_UINTPTR>*>(ctx)->push_back(e->value);
            return 0;
        },
        &seen);
    EXPECT_EQ(seen, (std::vector<RTS_UINTPTR>{1, 2, 3, 4}));
}

struct RemoveContext {
    CMUtlHashTable* table;
    std::vector<RTS_UINTPTR> seen;
    std::size_t stopAfter;
};

int remove_current(CMUtlHashEntry* e, void* ctx) {
    auto* c = static_cast<RemoveContext*>(ctx);
    c->seen.push_back(e->value);
    EXPECT_EQ(CMUtlHashRemove(c->table, e), RES_OK);
    return c->seen.size() >= c->stopAfter ? 1 : 0;
}

TEST(CMUtlHash, IterateMayRemoveTheCurrentEntryAndStopsOnNonzero) {
    for (std::size_t stopAfter : {std::size_t{1000}, std::size_t{10}}) {
        Table tab;
        ASSERT_EQ(CMUtlHashCreate(&tab.t, 7, kOwner), RES_OK);
        for (RTS_UINTPTR v = 0; v < 60; ++v) {
            std::string key = "key-" + std::to_string(v) + (v % 2 ? "-long-enough-to-copy" : "");
            ASSERT_EQ(CMUtlHashInsert(&tab.t, key.data(), key.size(), 1, v), RES_OK);
        }
        RemoveContext ctx{&tab.t, {}, stopAfter};
        EXPECT_EQ(CMUtlHashIterate(&tab.t, remove_current, &ctx), RES_OK);
        const std::size_t expected = std::min<std::size_t>(stopAfter, 60);
        EXPECT_EQ(ctx.seen.size(), expected);
        EXPECT_EQ(std::set<RTS_UINTPTR>(ctx.seen.begin(), ctx.seen.end()).size(), expected);
        EXPECT_EQ(entry_count(&tab.t), 60 - expected);
    }
}

TEST(CMUtlHash, BucketArrayThatCannotBeHadLeavesTheTableAlone) {
    CMUtlHashTable t{};
    t.bucketCount = 99;
    const RTS_SIZE huge[] = {~static_cast<RTS_SIZE>(0) / sizeof(void*) + 1, ~static_cast<RTS_SIZE>(0) / 16};
    for (RTS_SIZE count : huge) {
        EXPECT_EQ(CMUtlHashCreate(&t, count, kOwner), RES_NOMEMORY);
        EXPECT_EQ(t.bucketCount, 99u);
        EXPECT_EQ(t.buckets, nullptr);
    }
}

TEST(CMUtlHash, TablesWorkBeforeTheManagerLocksAreOn) {
    Table tab;
    ASSERT_EQ(CMUtlHashCreate(&tab.t, 5, kOwner), RES_OK);
    ASSERT_NE(tab.t.lock, RTS_INVALID_HANDLE);
    const char key[] = "early";
    EXPECT_EQ(CMUtlHashInsert(&tab.t, key, 5, 1, 1), RES_OK);
    EXPECT_NE(CMUtlHashSearch(&tab.t, key, 5, nullptr), nullptr);
    EXPECT_EQ(CMUtlHashRemove2(&tab.t, key, 5), RES_OK);
}

// With the manager started its locks are on: threads inserting, finding and removing their own
// keys in one shared table lose nothing and find no stranger's value.
TEST(CMUtlHash, ConcurrentUseUnderTheManagersLock) {
    ASSERT_EQ(CMInit2(nullptr, StaticComponentList, 1), RES_OK);
    {
        Table tab;
        ASSERT_EQ(CMUtlHashCreate(&tab.t, 31, kOwner), RES_OK);
        constexpr int kThreads = 4;
        constexpr int kKeys = 300;
        std::vector<std::thread> threads;
        std::array<int, kThreads> failures{};
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&tab, &failures, t] {
                for (int round = 0; round < 3; ++round) {
                    for (int k = 0; k < kKeys; ++k) {
                        RTS_UI32 key[3] = {static_cast<RTS_UI32>(t), static_cast<RTS_UI32>(k), 0x5A5A5A5Au};
                        if (CMUtlHashInsert(&tab.t, key, sizeof key, 1, t) != RES_OK) ++failures[t];
                        CMUtlHashEntry* e = CMUtlHashSearch(&tab.t, key, sizeof key, nullptr);
                        if (e == nullptr || e->value != static_cast<RTS_UINTPTR>(t)) ++failures[t];
                    }
                    for (int k = 0; k < kKeys; k += 2) {
                        RTS_UI32 key[3] = {static_cast<RTS_UI32>(t), static_cast<RTS_UI32>(k), 0x5A5A5A5Au};
                        if (CMUtlHashRemove2(&tab.t, key, sizeof key) != RES_OK) ++failures[t];
                    }
                    if (round < 2)
                        for (int k = 1; k < kKeys; k += 2) {
                            RTS_UI32 key[3] = {static_cast<RTS_UI32>(t), static_cast<RTS_UI32>(k),
                                               0x5A5A5A5Au};
                            if (CMUtlHashRemove2(&tab.t, key, sizeof key) != RES_OK) ++failures[t];
                        }
                }
            });
        }
        for (auto& th : threads) th.join();
        for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
        EXPECT_EQ(entry_count(&tab.t), static_cast<RTS_SIZE>(kThreads * kKeys / 2));
    }
    CMExit();
}

int g_disabled = 0;
int g_enables = 0;
int g_deepest = 0;
RTS_RESULT fake_disable_all() {
    g_deepest = std::max(g_deepest, ++g_disabled);
    return RES_OK;
}
RTS_RESULT fake_enable_all() {
    --g_disabled;
    ++g_enables;
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
    {
        Table tab;
        ASSERT_EQ(CMUtlHashCreate3(&tab.t, 5, nullptr, CMUTL_HASH_INTERRUPT_LOCK, kOwner), RES_OK);
        const char key[] = "irq";
        ASSERT_EQ(CMUtlHashInsert(&tab.t, key, 3, 1, 1), RES_OK);
        EXPECT_NE(CMUtlHashSearch(&tab.t, key, 3, nullptr), nullptr);
        EXPECT_EQ(entry_count(&tab.t), 1u);
        EXPECT_EQ(CMUtlHashRemove2(&tab.t, key, 3), RES_OK);
    }
    CMExit();
    EXPECT_GE(g_enables, 5); // insert (search + walk), search, iterate, remove, delete
    EXPECT_EQ(g_disabled, 0);
    EXPECT_EQ(g_deepest, 1);
}

} // namespace
