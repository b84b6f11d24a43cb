// Object dictionary: bucket counts, position-encoded keys, entry reuse and chain release,
// handles that are not open, and random add/remove/lookup sequences checked against a map
// whose keys follow the documented key layout.
#include <algorithm>
#include <map>
#include <random>
#include <thread>

#include "memory_fixture.h"
#include "objmgr.h"

namespace {

class ObjMan : public memtest::Framework {};

TEST_F(ObjMan, KeysEncodeBucketAndChainPosition) {
    RTS_HANDLE d = ObjManDictionaryOpen(1, 10, 0);
    ASSERT_NE(d, RTS_INVALID_HANDLE);
    const auto* dict = static_cast<ObjManDictionary*>(d);
    EXPECT_EQ(dict->BucketCount, 11u);
    EXPECT_EQ(dict->Bits, 4u);
    EXPECT_EQ(dict->Mask, 15u);
    EXPECT_EQ(ObjManDictionaryAddObject(d, 5), 5u);
    EXPECT_EQ(ObjManDictionaryAddObject(d, 16), 21u);
    EXPECT_EQ(ObjManDictionaryAddObject(d, 16), OBJMAN_NO_KEY);
    EXPECT_EQ(ObjManDictionaryGetObject(d, 21), 16u);
    EXPECT_EQ(ObjManDictionaryGetKey(d, 16), 21u);

    ASSERT_EQ(ObjManDictionaryRemoveObject(d, 5), RES_OK);
    EXPECT_EQ(ObjManDictionaryGetObject(d, 5), OBJMAN_NO_OBJECT);
    EXPECT_EQ(ObjManDictionaryAddObject(d, 27), 5u); // reuses the freed entry and its key
    EXPECT_EQ(ObjManDictionaryGetObject(d, 5), 27u);
    RTS_UI64 size = 0;
    ASSERT_EQ(ObjManDictionaryGetSize(d, &size), RES_OK);
    EXPECT_EQ(size, 2u);

    ASSERT_EQ(ObjManDictionaryRemoveKey(d, 21), RES_OK);
    ASSERT_EQ(ObjManDictionaryRemoveObject(d, 27), RES_OK);
    EXPECT_EQ(ObjManDictionaryRemoveObject(d, 27), RES_FAILED);
    EXPECT_EQ(ObjManDictionaryRemoveKey(d, 21), RES_FAILED);
    EXPECT_EQ(ObjManDictionaryAddObject(d, 38), 5u); // the chain was released: position 0 again
    EXPECT_EQ(ObjManDictionaryAddObject(d, 49), 21u);
    ASSERT_EQ(ObjManDictionaryGetSize(d, &size), RES_OK);
    EXPECT_EQ(size, 2u);
    ASSERT_EQ(ObjManDictionaryClear(d), RES_OK);
    ASSERT_EQ(ObjManDictionaryGetSize(d, &size), RES_OK);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(ObjManDictionaryGetObject(d, 5), OBJMAN_NO_OBJECT);
    EXPECT_EQ(ObjManDictionaryAddObject(d, 49), 5u);
    EXPECT_EQ(ObjManDictionaryClose(d), RES_OK);
}

TEST_F(ObjMan, BucketCountIsTheNextOddPrime) {
    struct Case {
        RTS_UI64 expected;
        RTS_UI64 buckets;
        RTS_UI64 bits;
    };
    const Case cases[] = {{1, 3, 2},   {2, 3, 2},     {3, 3, 2},        {4, 5, 3},           {8, 11, 4},
                          {24, 29, 5}, {100, 101, 7}, {1000, 1009, 10}, {100000, 100003, 17}};
    RTS_I32 id = 100;
    for (const Case& c : cases) {
        RTS_HANDLE d = ObjManDictionaryOpen(++id, c.expected, 0);
        ASSERT_NE(d, RTS_INVALID_HANDLE) << c.expected;
        EXPECT_EQ(static_cast<ObjManDictionary*>(d)->BucketCount, c.buckets) << c.expected;
        EXPECT_EQ(static_cast<ObjManDictionary*>(d)->Bits, c.bits) << c.expected;
        EXPECT_EQ(ObjManDictionaryClose(d), RES_OK);
    }
    EXPECT_EQ(ObjManDictionaryOpen(1, 0, 0), RTS_INVALID_HANDLE);
    EXPECT_EQ(ObjManDictionaryOpen(1, RTS_UI64{1} << 30, 0), RTS_INVALID_HANDLE);
    EXPECT_EQ(ObjManDictionaryOpen(1, ~RTS_UI64{0}, 0), RTS_INVALID_HANDLE);
}

TEST_F(ObjMan, InvalidHandlesKeysAndIdsAreRefused) {
    RTS_HANDLE d = ObjManDictionaryOpen(7, 10, 1);
    ASSERT_NE(d, RTS_INVALID_HANDLE);
    EXPECT_EQ(ObjManDictionaryOpen(7, 10, 0), RTS_INVALID_HANDLE);
    ObjManDictionaryAddObject(d, 5);
    alignas(8) unsigned char foreign[sizeof(ObjManDictionary)] = {};
    RTS_UI64 size = 0;
    for (RTS_HANDLE bad :
         {RTS_INVALID_HANDLE, static_cast<RTS_HANDLE>(nullptr), static_cast<RTS_HANDLE>(foreign)}) {
        EXPECT_EQ(ObjManDictionaryAddObject(bad, 3), OBJMAN_NO_KEY);
        EXPECT_EQ(ObjManDictionaryGetObject(bad, 5), OBJMAN_NO_OBJECT);
        EXPECT_EQ(ObjManDictionaryGetKey(bad, 5), OBJMAN_NO_KEY);
        EXPECT_EQ(ObjManDictionaryRemoveObject(bad, 5), RES_PARAMETER);
        EXPECT_EQ(ObjManDictionaryRemoveKey(bad, 5), RES_PARAMETER);
        EXPECT_EQ(ObjManDictionaryClear(bad), RES_PARAMETER);
        EXPECT_EQ(ObjManDictionaryGetSize(bad, &size), RES_PARAMETER);
    }
    EXPECT_EQ(ObjManDictionaryClose(RTS_INVALID_HANDLE), RES_PARAMETER);
    EXPECT_EQ(ObjManDictionaryClose(foreign), RES_FAILED);
    EXPECT_EQ(ObjManDictionaryGetSize(d, nullptr), RES_PARAMETER);
    // Keys whose bucket bits lie beyond the 11 buckets, and the all-ones object.
    for (RTS_UI32 key : {11u, 15u, 27u, 0xFFFFFFFEu, OBJMAN_NO_KEY})
        EXPECT_EQ(ObjManDictionaryGetObject(d, key), OBJMAN_NO_OBJECT);
    EXPECT_EQ(ObjManDictionaryAddObject(d, OBJMAN_NO_OBJECT), OBJMAN_NO_KEY);
    EXPECT_EQ(ObjManDictionaryRemoveKey(d, 13), RES_FAILED);
    ASSERT_EQ(ObjManDictionaryGetSize(d, &size), RES_OK);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(ObjManDictionaryClose(d), RES_OK);
    EXPECT_EQ(ObjManDictionaryClose(d), RES_FAILED);
    EXPECT_EQ(ObjManDictionaryGetObject(d, 5), OBJMAN_NO_OBJECT);
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
        for (auto& o : chain)
            if (o == object) o = 0;
        if (std::all_of(chain.begin(), chain.end(), [](RTS_UINTPTR o) { return o == 0; })) chain.clear();
    }
};

TEST_F(ObjMan, RandomOperationsMatchAMap) {
    std::mt19937 rng(77);
    RTS_HANDLE d = ObjManDictionaryOpen(3, 12, 1);
    ASSERT_NE(d, RTS_INVALID_HANDLE);
    const auto* dict = static_cast<ObjManDictionary*>(d);
    ChainModel model{std::vector<std::vector<RTS_UINTPTR>>(dict->BucketCount)};
    std::map<RTS_UINTPTR, RTS_UI32> keyOf;
    std::map<RTS_UI32, RTS_UINTPTR> objectOf;
    std::uniform_int_distribution<RTS_UINTPTR> objects(1, 400);
    for (int step = 0; step < 20000; ++step) {
        const RTS_UINTPTR object = objects(rng);
        const int op = std::uniform_int_distribution<int>(0, 3)(rng);
        SCOPED_TRACE(::testing::Message() << "step " << step << " op " << op << " object " << object);
        const bool held = keyOf.count(object) != 0;
        if (op == 0) {
            const RTS_UI32 key = ObjManDictionaryAddObject(d, object);
            if (held) {
                ASSERT_EQ(key, OBJMAN_NO_KEY);
            } else {
                ASSERT_EQ(key, model.expect_add(object, dict->Bits));
                keyOf[object] = key;
                objectOf[key] = object;
            }
        } else if (op == 1 || op == 2) {
            const RTS_RESULT r = op == 1 ? ObjManDictionaryRemoveObject(d, object)
                                         : ObjManDictionaryRemoveKey(d, held ? keyOf[object] : object * 16);
            if (held) {
                ASSERT_EQ(r, RES_OK);
                objectOf.erase(keyOf[object]);
                keyOf.erase(object);
                model.remove(object);
            } else if (op == 1 || objectOf.count(static_cast<RTS_UI32>(object * 16)) == 0) {
                ASSERT_EQ(r, RES_FAILED);
            } else {
                ASSERT_EQ(r, RES_OK); // the made-up key happened to be held by another object
                const RTS_UINTPTR other = objectOf[static_cast<RTS_UI32>(object * 16)];
                objectOf.erase(keyOf[other]);
                keyOf.erase(other);
                model.remove(other);
            }
        } else {
            ASSERT_EQ(ObjManDictionaryGetKey(d, object), held ? keyOf[object] : OBJMAN_NO_KEY);
            if (held) {
                ASSERT_EQ(ObjManDictionaryGetObject(d, keyOf[object]), object);
            }
        }
        RTS_UI64 size = 0;
        ASSERT_EQ(ObjManDictionaryGetSize(d, &size), RES_OK);
        ASSERT_EQ(size, keyOf.size());
    }
    for (const auto& [key, object] : objectOf) EXPECT_EQ(ObjManDictionaryGetObject(d, key), object);
    EXPECT_EQ(ObjManDictionaryClose(d), RES_OK);
}

TEST_F(ObjMan, LockedDictionaryServesTwoThreads) {
    RTS_HANDLE d = ObjManDictionaryOpen(9, 64, 1);
    ASSERT_NE(d, RTS_INVALID_HANDLE);
    std::atomic<int> failures{0};
    auto worker = [&](RTS_UINTPTR base) {
        for (int round = 0; round < 200; ++round) {
            std::vector<RTS_UI32> keys;
            for (RTS_UINTPTR i = 0; i < 20; ++i) keys.push_back(ObjManDictionaryAddObject(d, base + i));
            for (RTS_UINTPTR i = 0; i < 20; ++i) {
                if (keys[i] == OBJMAN_NO_KEY || ObjManDictionaryGetObject(d, keys[i]) != base + i) ++failures;
                if (ObjManDictionaryRemoveKey(d, keys[i]) != RES_OK) ++failures;
            }
        }
    };
    std::thread one(worker, 1000), two(worker, 5000);
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
