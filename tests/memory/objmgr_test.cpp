// Object dictionary: bucket counts, bad handles, keys and ids refused, random add/remove/lookup
// sequences checked against a model of the documented key layout, and locked dictionaries
// used from several threads.
#include <algorithm>
#include <map>
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
        const ObjManDictionary* o = dict(d);
        EXPECT_EQ(o->BucketCount, buckets) << expected;
        EXPECT_TRUE(buckets >> (o->Bits - 1) == 1 && o->Mask == (1u << o->Bits) - 1)
            << expected; // bit length
        EXPECT_EQ(ObjManDictionaryClose(d), RES_OK);
    }
}

TEST_F(ObjMan, BadHandlesKeysAndIdsAreRefused) {
    RTS_HANDLE d = ObjManDictionaryOpen(7, 10, 1);
    ASSERT_NE(d, RTS_INVALID_HANDLE);
    ASSERT_EQ(ObjManDictionaryAddObject(d, 5), 5u);
    RTS_HANDLE closed = ObjManDictionaryOpen(8, 10, 0);
    ASSERT_EQ(ObjManDictionaryClose(closed), RES_OK);
    alignas(8) unsigned char foreign[sizeof(ObjManDictionary)] = {};
    RTS_UI64 size = 0;
    struct Case {
        const char* name;
        RTS_UI64 result;
        RTS_UI64 expected;
    };
    const Case cases[] = {
        {"open an open id", reinterpret_cast<RTS_UINTPTR>(ObjManDictionaryOpen(7, 10, 0)), OBJMAN_NO_OBJECT},
        {"close all ones", ObjManDictionaryClose(RTS_INVALID_HANDLE), RES_PARAMETER},
        {"close a foreign record", ObjManDictionaryClose(foreign), RES_FAILED},
        {"close twice", ObjManDictionaryClose(closed), RES_FAILED},
        {"add to null", ObjManDictionaryAddObject(nullptr, 3), OBJMAN_NO_KEY},
        {"add to a closed dictionary", ObjManDictionaryAddObject(closed, 3), OBJMAN_NO_KEY},
        {"add all ones", ObjManDictionaryAddObject(d, OBJMAN_NO_OBJECT), OBJMAN_NO_KEY},
        {"add twice", ObjManDictionaryAddObject(d, 5), OBJMAN_NO_KEY},
        {"remove from a foreign record", ObjManDictionaryRemoveObject(foreign, 5), RES_PARAMETER},
        {"remove object all ones", ObjManDictionaryRemoveObject(d, OBJMAN_NO_OBJECT), RES_PARAMETER},
        {"remove an absent object", ObjManDictionaryRemoveObject(d, 16), RES_FAILED},
        {"remove key all ones", ObjManDictionaryRemoveKey(d, OBJMAN_NO_KEY), RES_PARAMETER},
        {"remove an absent key", ObjManDictionaryRemoveKey(d, 21), RES_FAILED},
        {"remove a key beyond the buckets", ObjManDictionaryRemoveKey(d, 13), RES_FAILED},
        {"clear all ones", ObjManDictionaryClear(RTS_INVALID_HANDLE), RES_PARAMETER},
        {"size of a closed dictionary", ObjManDictionaryGetSize(closed, &size), RES_PARAMETER},
        {"size without a place for it", ObjManDictionaryGetSize(d, nullptr), RES_PARAMETER},
        {"key in a foreign record", ObjManDictionaryGetKey(foreign, 5), OBJMAN_NO_KEY},
        {"key of all ones", ObjManDictionaryGetKey(d, OBJMAN_NO_OBJECT), OBJMAN_NO_KEY},
        {"key of an absent object", ObjManDictionaryGetKey(d, 16), OBJMAN_NO_KEY},
        {"object in a closed dictionary", ObjManDictionaryGetObject(closed, 5), OBJMAN_NO_OBJECT},
        {"object of key all ones", ObjManDictionaryGetObject(d, OBJMAN_NO_KEY), OBJMAN_NO_OBJECT},
        {"object of a key beyond the buckets", ObjManDictionaryGetObject(d, 27), OBJMAN_NO_OBJECT},
        {"object of an absent key", ObjManDictionaryGetObject(d, 21), OBJMAN_NO_OBJECT},
    };
    for (const Case& c : cases) EXPECT_EQ(c.result, c.expected) << c.name;
    ASSERT_EQ(ObjManDictionaryGetSize(d, &size), RES_OK);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(ObjManDictionaryGetObject(d, 5), 5u);
    EXPECT_EQ(ObjManDictionaryClose(d), RES_OK);
    EXPECT_NE(ObjManDictionaryOpen(7, 10, 0), RTS_INVALID_HANDLE); // the id is free again
}

// The model predicts every key: bucket = object mod buckets; position = the first free slot
// of the chain, else its length; a chain with no object left is released.
struct ChainModel {
    std::vector<std::vector<RTS_UINTPTR>> chains; // per bucket, 0 = free slot
    RTS_UI32 expect_add(RTS_UINTPTR object, RTS_UI64 bits) {
        auto& chain = chains[object % chains.size()];
        size_t pos = 0;
        while (pos < chain.size() && chain[pos] != 0) ++pos;
        if (pos == chain.size()) chain.push_back(0);
        chain[pos] = object;
        return static_cast<RTS_UI32>((static_cast<RTS_UI64>(pos) << bits) | (object % chains.size()));
    }
    void remove(RTS_UINTPTR object) {
        auto& chain = chains[object % chains.size()];
        std::replace(chain.begin(), chain.end(), object, RTS_UINTPTR{0});
        if (std::all_of(chain.begin(), chain.end(), [](RTS_UINTPTR o) { return o == 0; })) chain.clear();
    }
};

TEST_F(ObjMan, RandomOperationsMatchTheModel) {
    std::mt19937 rng(77);
    RTS_HANDLE d = ObjManDictionaryOpen(3, 12, 1);
    ASSERT_NE(d, RTS_INVALID_HANDLE);
    ChainModel model{std::vector<std::vector<RTS_UINTPTR>>(dict(d)->BucketCount)};
    std::map<RTS_UINTPTR, RTS_UI32> keyOf;
    std::map<RTS_UI32, RTS_UINTPTR> objectOf;
    auto forget = [&](RTS_UINTPTR object) {
        objectOf.erase(keyOf[object]);
        keyOf.erase(object);
        model.remove(object);
    };
    std::uniform_int_distribution<RTS_UINTPTR> objects(1, 400);
    for (int step = 0; step < 20000; ++step) {
        const RTS_UINTPTR object = objects(rng);
        const int op = std::uniform_int_distribution<int>(0, 3)(rng);
        SCOPED_TRACE(::testing::Message() << "step " << step << " op " << op << " object " << object);
        const bool held = keyOf.count(object) != 0;
        const auto madeUpKey = static_cast<RTS_UI32>(object * 16);
        if (op == 0) {
            const RTS_UI32 key = ObjManDictionaryAddObject(d, object);
            ASSERT_EQ(key, held ? OBJMAN_NO_KEY : model.expect_add(object, dict(d)->Bits));
            if (!held) objectOf[keyOf[object] = key] = object;
        } else if (op == 1) {
            ASSERT_EQ(ObjManDictionaryRemoveObject(d, object), held ? RES_OK : RES_FAILED);
            if (held) forget(object);
        } else if (op == 2) {
            const RTS_UI32 key = held ? keyOf[object] : madeUpKey;
            const bool present = objectOf.count(key) != 0;
            ASSERT_EQ(ObjManDictionaryRemoveKey(d, key), present ? RES_OK : RES_FAILED);
            if (present) forget(objectOf[key]);
        } else {
            ASSERT_EQ(ObjManDictionaryGetKey(d, object), held ? keyOf[object] : OBJMAN_NO_KEY);
            const RTS_UI32 key = held ? keyOf[object] : madeUpKey;
            ASSERT_EQ(ObjManDictionaryGetObject(d, key),
                      objectOf.count(key) ? objectOf[key] : OBJMAN_NO_OBJECT);
        }
        if (step % 4999 == 4998) {
            ASSERT_EQ(ObjManDictionaryClear(d), RES_OK);
            keyOf.clear();
            objectOf.clear();
            for (auto& chain : model.chains) chain.clear();
        }
        RTS_UI64 size = 0;
        ASSERT_EQ(ObjManDictionaryGetSize(d, &size), RES_OK);
        ASSERT_EQ(size, keyOf.size());
    }
    EXPECT_EQ(ObjManDictionaryClose(d), RES_OK);
}

// Two threads share a locked dictionary while a third opens and closes others.
TEST_F(ObjMan, LockedDictionaryServesTwoThreadsWhileOthersOpenAndClose) {
    RTS_HANDLE d = ObjManDictionaryOpen(9, 64, 1);
    ASSERT_NE(d, RTS_INVALID_HANDLE);
    std::atomic<int> failures{0}, running{2};
    auto worker = [&](RTS_UINTPTR base) {
        for (int round = 0; round < 200; ++round) {
            std::vector<RTS_UI32> keys;
            for (RTS_UINTPTR i = 0; i < 20; ++i) keys.push_back(ObjManDictionaryAddObject(d, base + i));
            for (RTS_UINTPTR i = 0; i < 20; ++i) {
                if (keys[i] == OBJMAN_NO_KEY || ObjManDictionaryGetObject(d, keys[i]) != base + i) ++failures;
                if (ObjManDictionaryRemoveKey(d, keys[i]) != RES_OK) ++failures;
            }
        }
        --running;
    };
    std::thread one(worker, 1000), two(worker, 5000);
    for (RTS_I32 n = 0; running.load() > 0; ++n)
        failures += ObjManDictionaryClose(ObjManDictionaryOpen(n % 3, 8, n & 1)) != RES_OK;
    one.join();
    two.join();
    EXPECT_EQ(failures.load(), 0);
    RTS_UI64 size = 1;
    ASSERT_EQ(ObjManDictionaryGetSize(d, &size), RES_OK);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(ObjManDictionaryClose(d), RES_OK);
}

TEST(ObjManWithoutComponent, EverythingFails) {
    EXPECT_EQ(ObjManDictionaryOpen(1, 10, 0), RTS_INVALID_HANDLE);
    alignas(8) unsigned char foreign[sizeof(ObjManDictionary)] = {};
    EXPECT_EQ(ObjManDictionaryClose(foreign), RES_PARAMETER);
    EXPECT_EQ(ObjManDictionaryAddObject(foreign, 1), OBJMAN_NO_KEY);
}

} // namespace
