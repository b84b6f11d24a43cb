// The hash table against a reference map: random sequences of inserts (copied and by pointer),
// searches, removals by key and by entry, and full walks, with keys of 1 to 20 bytes drawn from
// a small alphabet so that duplicates and shared buckets are common.
#include <gtest/gtest.h>

#include <list>
#include <map>
#include <random>
#include <string>
#include <unordered_map>

#include "cmhash.h"

namespace {

struct ModelCase {
    RTS_SIZE buckets;
    unsigned seed;
};

std::string key_text(const CMUtlHashEntry* e) {
    const void* k = (e->flags & CMUTL_HASH_ENTRY_KEY_INLINE) != 0 ? e->key.bytes : e->key.pointer;
    return std::string(static_cast<const char*>(k), e->keyLength);
}

using Ordered = std::map<std::string, RTS_UINTPTR>;

Ordered as_ordered(const std::unordered_map<std::string, RTS_UINTPTR>& m) {
    return Ordered(m.begin(), m.end());
}

Ordered walk(CMUtlHashTable* t) {
    std::map<std::string, RTS_UINTPTR> seen;
    auto collect = [](CMUtlHashEntry* e, void* ctx) {
        auto* out = static_cast<std::map<std::string, RTS_UINTPTR>*>(ctx);
        // A key seen twice would mean the table holds a duplicate.
        return out->emplace(key_text(e), e->value).second ? 0 : 1;
    };
    EXPECT_EQ(CMUtlHashIterate(t, collect, &seen), RES_OK);
    return seen;
}

class CMUtlHashModel : public testing::TestWithParam<ModelCase> {};

TEST_P(CMUtlHashModel, AgreesWithReferenceMap) {
    const ModelCase param = GetParam();
    std::mt19937 rng(param.seed);
    auto pick = [&rng](unsigned n) { return static_cast<unsigned>(rng() % n); };
    auto random_key = [&] {
        std::string k(1 + pick(20), 'a');
        for (char& c : k) c = static_cast<char>('a' + pick(2));
        return k;
    };

    CMUtlHashTable table{};
    ASSERT_EQ(CMUtlHashCreate(&table, param.buckets, "HashModel"), RES_OK);
    std::unordered_map<std::string, RTS_UINTPTR> model;
    std::list<std::string> lentKeys; // keys inserted by pointer must outlive their entries

    for (int op = 0; op < 4000; ++op) {
        const std::string key = random_key();
        const bool present = model.count(key) != 0;
        SCOPED_TRACE(testing::Message() << "op " << op << " key " << key);
        switch (pick(5)) {
            case 0:
            case 1: {
                const RTS_UINTPTR value = rng();
                const int copy = static_cast<int>(pick(2));
                const char* bytes = key.data();
                if (!copy) bytes = lentKeys.emplace_back(key).data();
                RTS_RESULT r = CMUtlHashInsert(&table, bytes, key.size(), copy, value);
                ASSERT_EQ(r, present ? RES_DUPLICATE : RES_OK);
                model.emplace(key, value);
                break;
            }
            case 2: {
                RTS_RESULT r = RES_FAILED;
                CMUtlHashEntry* e = CMUtlHashSearch(&table, key.data(), key.size(), &r);
                ASSERT_EQ(e != nullptr, present);
                ASSERT_EQ(r, present ? RES_OK : RES_NO_OBJECT);
                if (present) {
                    ASSERT_EQ(e->value, model[key]);
                    ASSERT_EQ(key_text(e), key);
                }
                break;
            }
            case 3:
                ASSERT_EQ(CMUtlHashRemove2(&table, key.data(), key.size()), present ? RES_OK : RES_NO_OBJECT);
                model.erase(key);
                break;
            default: {
                CMUtlHashEntry* e = CMUtlHashSearch(&table, key.data(), key.size(), nullptr);
                if (e != nullptr) {
                    ASSERT_EQ(CMUtlHashRemove(&table, e), RES_OK);
                }
                model.erase(key);
                break;
            }
        }
        if (op % 250 == 0) {
            ASSERT_EQ(walk(&table), as_ordered(model));
        }
    }
    EXPECT_EQ(walk(&table), as_ordered(model));
    EXPECT_EQ(CMUtlHashDelete(&table), RES_OK);
}

INSTANTIATE_TEST_SUITE_P(BucketCountsAndSeeds, CMUtlHashModel,
                         testing::Values(ModelCase{1, 1}, ModelCase{2, 2}, ModelCase{7, 3}, ModelCase{64, 4},
                                         ModelCase{1021, 5}, ModelCase{7, 6}));

} // namespace
