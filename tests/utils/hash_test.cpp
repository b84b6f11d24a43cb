// The hash table and the binary search. The table against a reference map: random inserts
// (copied, by pointer, into the caller's entries), searches, removals by key, by entry and from
// inside a walk, over keys of 1 to 20 bytes from a small alphabet so that duplicates and shared
// buckets are common. Every walk also checks where each entry sits: in the bucket its key hashes
// to, buckets in index order, each chain oldest first, stored inline, by pointer or copied as the
// insert asked; and the table is set up as asked (flags, lock, the caller's bucket array). Beyond
// the model: a bucket array no heap can give, concurrent use under the manager's lock, and
// interrupt locking where a component offers it.
// The binary search over records keyed by a 32-bit field that sits unaligned in each record,
// against a linear search: every key below, between, on and above the records, every start
// index, with and without a trailing partial record. The records fill a heap block of exactly
// their size, so the address sanitizer sees any read before or past them.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <deque>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cm/rts_common.h"
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

struct ModelCase {
    RTS_SIZE buckets;
    unsigned seed;
    bool custom;        // the caller's hash and compare functions, which ignore case
    bool callerBuckets; // the caller's bucket array
    RTS_UI32 flags;     // asked of the create; only the locking flags may be taken
};

std::string folded(const void* key, RTS_SIZE n) {
    std::string s(static_cast<const char*>(key), n);
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
RTS_UINTPTR custom_hash(const void* key, RTS_SIZE n) {
    return std::hash<std::string>()(folded(key, n));
}
int custom_equal(const void* a, RTS_SIZE na, const void* b, RTS_SIZE nb) {
    return folded(a, na) == folded(b, nb) ? 1 : 0;
}

// Key byte i goes into byte (i mod 8) of a little-endian 64-bit number.
RTS_UINTPTR folding_hash(const std::string& key) {
    RTS_UI64 h = 0;
    for (std::size_t i = 0; i < key.size(); ++i)
        h ^= RTS_UI64{static_cast<unsigned char>(key[i])} << 8 * (i % 8);
    return static_cast<RTS_UINTPTR>(h);
}

struct Stored {
    RTS_UINTPTR value; // the insert's sequence number: grows along every chain
    RTS_UI32 flags;
    bool operator==(const Stored&) const = default;
};
using Model = std::map<std::string, Stored>;

struct Walk {
    const CMUtlHashTable* table;
    bool custom;
    CMUtlHashTable* removeFrom; // removes every entry with an odd value it visits
    Model seen{};
    RTS_SIZE bucket = 0;
    RTS_UINTPTR value = 0;
};

int visit(CMUtlHashEntry* e, void* context) {
    auto& w = *static_cast<Walk*>(context);
    const void* key = (e->flags & CMUTL_HASH_ENTRY_KEY_INLINE) != 0 ? e->key.bytes : e->key.pointer;
    const std::string text =
        w.custom ? folded(key, e->keyLength) : std::string(static_cast<const char*>(key), e->keyLength);
    const RTS_SIZE bucket =
        (w.custom ? custom_hash(key, e->keyLength) : folding_hash(text)) % w.table->bucketCount;
    EXPECT_TRUE(bucket > w.bucket || (bucket == w.bucket && e->value > w.value)) << text;
    EXPECT_TRUE(w.seen.emplace(text, Stored{e->value, e->flags}).second) << "twice: " << text;
    w.bucket = bucket;
    w.value = e->value;
    EXPECT_TRUE(w.removeFrom == nullptr || e->value % 2 == 0 || CMUtlHashRemove(w.removeFrom, e) == RES_OK);
    return 0;
}

class CMUtlHashModel : public testing::TestWithParam<ModelCase> {};

TEST_P(CMUtlHashModel, AgreesWithAReferenceMap) {
    const ModelCase param = GetParam();
    std::mt19937 rng(param.seed);
    std::vector<CMUtlHashEntry*> buckets(param.buckets, reinterpret_cast<CMUtlHashEntry*>(0x1)); // cleared
    CMUtlHashTable table{};
    ASSERT_EQ(CMUtlHashCreate4(&table, param.buckets, param.callerBuckets ? buckets.data() : nullptr,
                               param.flags, param.custom ? custom_hash : nullptr,
                               param.custom ? custom_equal : nullptr, kOwner),
              RES_OK);
    EXPECT_EQ(table.flags, (param.flags & CMUTL_HASH_NO_LOCK) |
                               (param.custom ? CMUTL_HASH_CUSTOM_FUNCTIONS : 0) |
                               (param.callerBuckets ? 0 : CMUTL_HASH_BUCKETS_ALLOCATED));
    EXPECT_EQ(rts::valid_handle(table.lock), (param.flags & CMUTL_HASH_NO_LOCK) == 0);
    EXPECT_TRUE((table.buckets == buckets.data()) == param.callerBuckets && table.owner == kOwner);
    Model model;
    std::deque<std::string> lentKeys;       // keys by pointer outlive their entries
    std::deque<CMUtlHashEntry> lentEntries; // and so do the caller's entries
    auto check_walk = [&](bool removeOdd) {
        Walk w{&table, param.custom, removeOdd ? &table : nullptr};
        int visits = 0; // a nonzero answer ends a walk, which is still a success
        auto stopAtTwo = [](CMUtlHashEntry*, void* n) { return ++*static_cast<int*>(n) == 2 ? 1 : 0; };
        EXPECT_EQ(CMUtlHashIterate(&table, stopAtTwo, &visits), RES_OK);
        EXPECT_EQ(visits, std::min<int>(2, static_cast<int>(model.size())));
        ASSERT_EQ(CMUtlHashIterate(&table, visit, &w), RES_OK);
        ASSERT_TRUE(w.seen == model);
        if (removeOdd) std::erase_if(model, [](const auto& item) { return item.second.value % 2 == 1; });
    };
    for (RTS_UINTPTR op = 1; op <= 4000; ++op) {
        std::string key(1 + rng() % 20, 'a');
        for (char& c : key) c = "aAb"[rng() % (param.custom ? 3 : 2)];
        const std::string name = param.custom ? folded(key.data(), key.size()) : key;
        const bool present = model.count(name) != 0;
        SCOPED_TRACE(testing::Message() << "op " << op << " key " << key);
        switch (rng() % 7) {
            case 0:
            case 1:
            case 2: {
                const bool copy = rng() % 2 != 0, lentEntry = rng() % 4 == 0;
                const char* bytes = copy ? key.data() : lentKeys.emplace_back(key).data();
                CMUtlHashEntry* entry = lentEntry ? &lentEntries.emplace_back() : nullptr;
                if (entry != nullptr)
                    std::memset(entry, 0xA5, sizeof *entry); // stale fields must not leak in
                ASSERT_EQ(CMUtlHashInsert2(&table, entry, bytes, key.size(), copy, op),
                          present ? RES_DUPLICATE : RES_OK);
                const RTS_UI32 storage = !copy ? CMUTL_HASH_ENTRY_KEY_POINTER
                                         : key.size() <= 8
                                             ? CMUTL_HASH_ENTRY_KEY_INLINE
                                             : CMUTL_HASH_ENTRY_KEY_POINTER | CMUTL_HASH_ENTRY_KEY_COPIED;
                model.emplace(name, Stored{op, storage | (lentEntry ? 0 : CMUTL_HASH_ENTRY_ALLOCATED)});
                if (present && lentEntry) lentEntries.pop_back(); // refused, so never the table's
                break;
            }
            case 3: {
                RTS_RESULT r = RES_FAILED;
                const CMUtlHashEntry* e = CMUtlHashSearch(&table, key.data(), key.size(), &r);
                ASSERT_EQ(r, present ? RES_OK : RES_NO_OBJECT);
                ASSERT_EQ(e != nullptr ? e->value : 0, present ? model[name].value : 0);
                break;
            }
            case 4:
                ASSERT_EQ(CMUtlHashRemove2(&table, key.data(), key.size()), present ? RES_OK : RES_NO_OBJECT);
                model.erase(name);
                break;
            case 5:
                if (CMUtlHashEntry* e = CMUtlHashSearch(&table, key.data(), key.size(), nullptr); e) {
                    const bool lent = (e->flags & CMUTL_HASH_ENTRY_ALLOCATED) == 0;
                    ASSERT_EQ(CMUtlHashRemove(&table, e), RES_OK);
                    // a lent entry keeps no key, so it is not found twice
                    ASSERT_TRUE(!lent || CMUtlHashRemove(&table, e) == RES_NO_OBJECT);
                }
                model.erase(name);
                break;
            default:
                if (rng() % 8 == 0) check_walk(rng() % 4 == 0);
        }
    }
    check_walk(false);
    EXPECT_EQ(CMUtlHashDelete(&table), RES_OK);
    for (const CMUtlHashEntry& e : lentEntries) // the delete left them no key and no link
        EXPECT_TRUE(e.flags == 0 && e.next == nullptr);
}

INSTANTIATE_TEST_SUITE_P(BucketCountsAndSeeds, CMUtlHashModel,
                         testing::Values(ModelCase{1, 1, false, false, 0}, ModelCase{2, 2, false, true, 0},
                                         ModelCase{7, 3, false, false, CMUTL_HASH_NO_LOCK},
                                         ModelCase{1021, 5, false, true, CMUTL_HASH_BUCKETS_ALLOCATED},
                                         ModelCase{7, 6, true, false, CMUTL_HASH_CUSTOM_FUNCTIONS},
                                         ModelCase{64, 7, true, true, CMUTL_HASH_NO_LOCK}));

TEST(CMUtlHash, BucketArrayThatCannotBeHadLeavesTheTableAlone) {
    CMUtlHashTable t{};
    for (RTS_SIZE count : {~RTS_SIZE{0} / sizeof(void*) + 1, ~RTS_SIZE{0} / 16})
        EXPECT_TRUE(CMUtlHashCreate(&t, count, kOwner) == RES_NOMEMORY && t.bucketCount == 0);
}

int count_entry(CMUtlHashEntry*, void* n) {
    return ++*static_cast<int*>(n), 0;
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
    CMUtlHashIterate(&t, count_entry, &left);
    EXPECT_EQ(left, kThreads * kKeys / 2);
    EXPECT_EQ(CMUtlHashDelete(&t), RES_OK);
    CMExit();
}

int g_disabled = 0, g_enables = 0, g_deepest = 0;
RTS_RESULT SysIntDisableAll() {
    g_deepest = std::max(g_deepest, ++g_disabled);
    return RES_OK;
}
RTS_RESULT SysIntEnableAll() {
    --g_disabled, ++g_enables;
    return RES_OK;
}
const CMExportEntry kInterruptExports[] = {CM_EXPORT(SysIntDisableAll), CM_EXPORT(SysIntEnableAll), {}};

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
    EXPECT_TRUE(g_enables == 5 && g_disabled == 0 && g_deepest == 1) << g_enables << g_disabled << g_deepest;
    // Once that component is gone, a new table does not call into it: it takes the lock.
    ASSERT_EQ(CMInit2(nullptr, StaticComponentList, 1), RES_OK);
    ASSERT_EQ(CMUtlHashCreate3(&t, 5, nullptr, CMUTL_HASH_INTERRUPT_LOCK, kOwner), RES_OK);
    EXPECT_EQ(CMUtlHashInsert(&t, "irq", 3, 1, 1), RES_OK);
    EXPECT_EQ(CMUtlHashDelete(&t), RES_OK);
    CMExit();
    EXPECT_EQ(g_enables, 5);
}

// ---- binary search ------------------------------------------------------------------------

constexpr RTS_SIZE kElement = 6; // a u16 tag, then the u32 key at offset 2
constexpr RTS_SIZE kOffset = 2;

TEST(CMUtlBinarySearch_UI32, FindsWhatALinearSearchFinds) {
    std::mt19937 rng(4);
    for (RTS_SIZE count = 1; count <= 12; ++count) {
        std::vector<RTS_UI32> keys(count);
        RTS_UI32 key = 0;
        for (RTS_UI32& k : keys) k = key += 1 + rng() % 4; // ascending, with gaps, none below 1
        for (RTS_SIZE partial : {0, 3}) {
            std::vector<RTS_UI8> block(count * kElement + partial, 0xEE);
            for (RTS_SIZE i = 0; i < count; ++i) std::memcpy(&block[i * kElement + kOffset], &keys[i], 4);
            for (RTS_UI32 wanted = 0; wanted <= keys.back() + 1; ++wanted) {
                for (RTS_SIZE start = 0; start <= count; ++start) {
                    const auto at = std::find(keys.begin() + start, keys.end(), wanted);
                    const RTS_SIZE expected = at == keys.end() ? CMUTL_BINARY_SEARCH_NONE : at - keys.begin();
                    RTS_RESULT r = RES_FAILED;
                    EXPECT_EQ(CMUtlBinarySearch_UI32(block.data(), block.size(), kElement, kOffset, start,
                                                     wanted, &r),
                              expected)
                        << "count " << count << " key " << wanted << " start " << start;
                    EXPECT_EQ(r, expected == CMUTL_BINARY_SEARCH_NONE ? RES_NO_OBJECT : RES_OK);
                }
            }
        }
    }
}

} // namespace
