// Object dictionary: bucket counts, bad handles, keys and ids refused, random add/remove/lookup
// sequences checked against a model of the documented key layout, and a locked dictionary used
// from two threads while a third opens and closes others.
#include <algorithm>
#include <random>
#include <thread>

#include "memory_fixture.h"
#include "objmgr.h"

namespace {

class ObjMan : public memtest::Framework {};

ObjManDictionary* dict(RTS_HANDLE d) {
    return static_cast<ObjManDictionary*>(d);
}

TEST_F(ObjMan, BucketCountIsTheNextOddPrime) {
    constexpr RTS_UI64 kTooMany = RTS_UI64{1} << 30, kAll = ~RTS_UI64{0};
    const std::pair<RTS_UI64, RTS_UI64> cases[] = {
        {1, 3},     {2, 3},       {3, 3},           {4, 5}, {8, 11},       {24, 29},
        {100, 101}, {1000, 1009}, {100000, 100003}, {0, 0}, {kTooMany, 0}, {kAll, 0}}; // 0: the open fails
    for (auto [expected, buckets] : cases) {
        RTS_HANDLE d = ObjManDictionaryOpen(1, expected, 0);
        ASSERT_EQ(d != RTS_INVALID_HANDLE, buckets != 0) << expected;
        if (buckets == 0) continue;
        const RTS_UI64 bits = dict(d)->Bits; // the bit length of the bucket count
        EXPECT_EQ(std::tuple(dict(d)->BucketCount, buckets >> (bits - 1), dict(d)->Mask),
                  std::tuple(buckets, RTS_UI64{1}, (1u << bits) - 1))
            << expected;
        EXPECT_EQ(ObjManDictionaryClose(d), RES_OK);
    }
    std::vector<RTS_HANDLE> many; // more than the 45 records the dictionary pool starts with
    for (RTS_I32 id = 0; id < 46; ++id) many.push_back(ObjManDictionaryOpen(id, 1, 0));
    for (RTS_HANDLE d : many) EXPECT_EQ(ObjManDictionaryClose(d), RES_OK);
}

TEST_F(ObjMan, BadHandlesKeysAndIdsAreRefused) {
    RTS_HANDLE d = ObjManDictionaryOpen(7, 10, 1), closed = ObjManDictionaryOpen(8, 10, 0);
    ObjManDictionaryAddObject(d, 5);
    ObjManDictionaryClose(closed);
    alignas(8) unsigned char foreign[sizeof(ObjManDictionary)] = {};
    RTS_UI64 size = 0;
    const std::tuple<const char*, RTS_UI64, RTS_UI64> cases[] = {
        {"open an open id", reinterpret_cast<RTS_UINTPTR>(ObjManDictionaryOpen(7, 10, 0)), OBJMAN_NO_OBJECT},
        {"close all ones", ObjManDictionaryClose(RTS_INVALID_HANDLE), RES_PARAMETER},
        {"close a foreign record", ObjManDictionaryClose(foreign), RES_FAILED},
        {"close twice", ObjManDictionaryClose(closed), RES_FAILED},
        {"add to null", ObjManDictionaryAddObject(nullptr, 3), OBJMAN_NO_KEY},
        {"add to a closed dictionary", ObjManDictionaryAddObject(closed, 3), OBJMAN_NO_KEY},
        {"add all ones", ObjManDictionaryAddObject(d, OBJMAN_NO_OBJECT), OBJMAN_NO_KEY},
        {"remove from a foreign record", ObjManDictionaryRemoveObject(foreign, 5), RES_PARAMETER},
        {"remove object all ones", ObjManDictionaryRemoveObject(d, OBJMAN_NO_OBJECT), RES_PARAMETER},
        {"remove key all ones", ObjManDictionaryRemoveKey(d, OBJMAN_NO_KEY), RES_PARAMETER},
        {"remove a key beyond the buckets", ObjManDictionaryRemoveKey(d, 13), RES_FAILED},
        {"clear all ones", ObjManDictionaryClear(RTS_INVALID_HANDLE), RES_PARAMETER},
        {"size of a closed dictionary", ObjManDictionaryGetSize(closed, &size), RES_PARAMETER},
        {"size without a place for it", ObjManDictionaryGetSize(d, nullptr), RES_PARAMETER},
        {"key in a foreign record", ObjManDictionaryGetKey(foreign, 5), OBJMAN_NO_KEY},
        {"key of all ones", ObjManDictionaryGetKey(d, OBJMAN_NO_OBJECT), OBJMAN_NO_KEY},
        {"object in a closed dictionary", ObjManDictionaryGetObject(closed, 5), OBJMAN_NO_OBJECT},
        {"object of key all ones", ObjManDictionaryGetObject(d, OBJMAN_NO_KEY), OBJMAN_NO_OBJECT},
        {"object of a key beyond the buckets", ObjManDictionaryGetObject(d, 27), OBJMAN_NO_OBJECT},
    };
    for (auto [name, result, expected] : cases) EXPECT_EQ(result, expected) << name;
    EXPECT_EQ((std::tuple{ObjManDictionaryGetSize(d, &size), size, ObjManDictionaryGetObject(d, 5)}),
              std::tuple(RES_OK, RTS_UI64{1}, RTS_UINTPTR{5}));
    EXPECT_EQ(ObjManDictionaryClose(d), RES_OK);
    EXPECT_NE(ObjManDictionaryOpen(7, 10, 0), RTS_INVALID_HANDLE); // the id is free again
}

// Keys as documented: bucket = object mod buckets, position = the first free entry of the
// bucket's chain, else its length; a chain with no object left is released.
struct ChainModel {
    std::vector<std::vector<RTS_UINTPTR>> chains; // per bucket, 0 for a free entry
    RTS_UI64 bits;
    std::vector<RTS_UINTPTR>& chain_of(RTS_UINTPTR object) { return chains[object % chains.size()]; }
    RTS_UI32 key_of(RTS_UINTPTR object) {
        const auto at = std::find(chain_of(object).begin(), chain_of(object).end(), object);
        if (at == chain_of(object).end()) return OBJMAN_NO_KEY;
        return static_cast<RTS_UI32>((RTS_UI64(at - chain_of(object).begin()) << bits) |
                                     (object % chains.size()));
    }
    RTS_UINTPTR object_of(RTS_UI32 key) {
        const RTS_UI64 bucket = key & ((RTS_UI64{1} << bits) - 1), position = key >> bits;
        const bool used =
            bucket < chains.size() && position < chains[bucket].size() && chains[bucket][position];
        return used ? chains[bucket][position] : OBJMAN_NO_OBJECT;
    }
    RTS_UI32 add(RTS_UINTPTR object) {
        if (key_of(object) != OBJMAN_NO_KEY) return OBJMAN_NO_KEY;
        const auto free = std::find(chain_of(object).begin(), chain_of(object).end(), 0u);
        free != chain_of(object).end() ? void(*free = object) : chain_of(object).push_back(object);
        return key_of(object);
    }
    bool remove(RTS_UINTPTR object) {
        if (object == OBJMAN_NO_OBJECT || key_of(object) == OBJMAN_NO_KEY) return false;
        std::replace(chain_of(object).begin(), chain_of(object).end(), object, RTS_UINTPTR{0});
        if (std::count(chain_of(object).begin(), chain_of(object).end(), 0u) == std::ssize(chain_of(object)))
            chain_of(object).clear();
        return true;
    }
};

TEST_F(ObjMan, RandomOperationsMatchTheModel) {
    std::mt19937 rng(77);
    RTS_HANDLE d = ObjManDictionaryOpen(3, 12, 1);
    ChainModel model{std::vector<std::vector<RTS_UINTPTR>>(dict(d)->BucketCount), dict(d)->Bits};
    RTS_UI64 held = 0;
    for (int step = 0; step < 20000; ++step) {
        const RTS_UINTPTR object = std::uniform_int_distribution<RTS_UINTPTR>(1, 400)(rng);
        const RTS_UI32 key = rng() % 2 ? model.key_of(object) : static_cast<RTS_UI32>(object); // or made up
        const int op = std::uniform_int_distribution<int>(0, 3)(rng);
        SCOPED_TRACE(::testing::Message() << "step " << step << " op " << op << " object " << object);
        if (op == 0) {
            const RTS_UI32 added = model.add(object);
            ASSERT_EQ(ObjManDictionaryAddObject(d, object), added);
            held += added != OBJMAN_NO_KEY;
        } else if (op == 1 || (op == 2 && key != OBJMAN_NO_KEY)) {
            const bool removed = model.remove(op == 1 ? object : model.object_of(key));
            ASSERT_EQ(op == 1 ? ObjManDictionaryRemoveObject(d, object) : ObjManDictionaryRemoveKey(d, key),
                      removed ? RES_OK : RES_FAILED);
            held -= removed;
        } else {
            ASSERT_EQ(std::pair(ObjManDictionaryGetKey(d, object), ObjManDictionaryGetObject(d, key)),
                      std::pair(model.key_of(object), model.object_of(key)));
        }
        if (step % 4999 == 4998) {
            ASSERT_EQ(ObjManDictionaryClear(d), RES_OK);
            for (auto& chain : model.chains) chain.clear();
            held = 0;
        }
        RTS_UI64 size = 0;
        ASSERT_EQ((std::pair{ObjManDictionaryGetSize(d, &size), size}), std::pair(RES_OK, held));
    }
    EXPECT_EQ(ObjManDictionaryClose(d), RES_OK);
}

TEST_F(ObjMan, LockedDictionaryServesTwoThreadsWhileOthersOpenAndClose) {
    RTS_HANDLE d = ObjManDictionaryOpen(9, 64, 1);
    std::atomic<int> failures{0}, running{2};
    auto worker = [&](RTS_UINTPTR base) {
        for (int round = 0; round < 200; ++round) {
            RTS_UI32 keys[20];
            for (RTS_UINTPTR i = 0; i < 20; ++i) keys[i] = ObjManDictionaryAddObject(d, base + i);
            for (RTS_UINTPTR i = 0; i < 20; ++i) {
                failures += keys[i] == OBJMAN_NO_KEY || ObjManDictionaryGetObject(d, keys[i]) != base + i;
                failures += ObjManDictionaryRemoveKey(d, keys[i]) != RES_OK;
            }
        }
        --running;
    };
    std::thread one(worker, 1000), two(worker, 5000);
    for (RTS_I32 n = 0; running.load() > 0; ++n)
        failures += ObjManDictionaryClose(ObjManDictionaryOpen(n % 3, 8, n & 1)) != RES_OK;
    one.join();
    two.join();
    RTS_UI64 size = 1;
    EXPECT_EQ((std::tuple{failures.load(), ObjManDictionaryGetSize(d, &size), size}),
              std::tuple(0, RES_OK, RTS_UI64{0}));
    EXPECT_EQ(ObjManDictionaryClose(d), RES_OK);
}

} // namespace
