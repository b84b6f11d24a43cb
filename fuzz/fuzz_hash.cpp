// Fuzz target for the hash table: the input is a sequence of operations (insert copied or by
// pointer, search, remove by key, remove by entry, walk) on keys of 1 to 20 bytes taken from the
// input itself, checked step by step against a reference map; a dynamic string follows along
// with the same keys appended and copied.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "cmhash.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

using Model = std::map<std::string, RTS_UINTPTR>;

const void* key_of(const CMUtlHashEntry* e) {
    return (e->flags & CMUTL_HASH_ENTRY_KEY_INLINE) != 0 ? e->key.bytes : e->key.pointer;
}

int count_and_check(CMUtlHashEntry* e, void* ctx) {
    auto* model = static_cast<const Model*>(ctx);
    auto it = model->find(std::string(static_cast<const char*>(key_of(e)), e->keyLength));
    check(it != model->end() && it->second == e->value);
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    CMUtlHashTable table{};
    check(CMUtlHashCreate3(&table, 1 + data[0] % 16, nullptr, data[1] & CMUTL_HASH_NO_LOCK, "Fuzz") ==
          RES_OK);
    CMString str{};
    check(CMStringCreate(&str, "Fuzz", nullptr) == RES_OK);
    std::string mirror;
    Model model;
    size_t pos = 2;
    while (pos + 2 <= size) {
        const uint8_t op = data[pos];
        const size_t length = 1 + data[pos + 1] % 20;
        pos += 2;
        if (pos + length > size) break;
        // Keys inserted by pointer point into the fuzzer's input, which outlives the table.
        const char* bytes = reinterpret_cast<const char*>(data + pos);
        const std::string key(bytes, length);
        pos += length;
        const bool present = model.count(key) != 0;
        RTS_RESULT r = RES_OK;
        switch (op % 6) {
            case 0:
            case 1:
                r = CMUtlHashInsert(&table, bytes, length, op & 0x10, op);
                check(r == (present ? RES_DUPLICATE : RES_OK));
                model.emplace(key, op);
                break;
            case 2: {
                CMUtlHashEntry* e = CMUtlHashSearch(&table, bytes, length, &r);
                check((e != nullptr) == present && r == (present ? RES_OK : RES_NO_OBJECT));
                check(e == nullptr || e->value == model[key]);
                break;
            }
            case 3:
                check(CMUtlHashRemove2(&table, bytes, length) == (present ? RES_OK : RES_NO_OBJECT));
                model.erase(key);
                break;
            case 4:
                if (CMUtlHashEntry* e = CMUtlHashSearch(&table, bytes, length, nullptr); e != nullptr)
                    check(CMUtlHashRemove(&table, e) == RES_OK);
                model.erase(key);
                break;
            default:
                check(CMUtlHashIterate(&table, count_and_check, &model) == RES_OK);
                break;
        }
        // The string takes the key up to its first NUL, appended or copied.
        const std::string text = key.substr(0, key.find('\0'));
        if (op & 0x80) {
            check(CMStringCat(&str, text.c_str()) == RES_OK);
            mirror += text;
        } else if (op & 0x40) {
            check(CMStringCopy2(&str, text.c_str()) == RES_OK);
            mirror = text;
        }
        check(mirror == CMStringText(&str));
    }
    check(CMUtlHashIterate(&table, count_and_check, &model) == RES_OK);
    check(CMUtlHashDelete(&table) == RES_OK);
    check(CMStringDelete(&str) == RES_OK);
    return 0;
}
