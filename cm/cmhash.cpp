/* The component manager's chained hash table (CMUtlHash*), the binary search over records
 * keyed by a 32-bit field, and the export table of these containers. A table lives in caller
 * memory; its entries and copied keys come from the heap under the table's owner name. */
#include <atomic>
#include <cassert>
#include <cstring>

#include "cm/rts_common.h"
#include "cmhash.h"
#include "sysmem.h"

using rts::report;

namespace {

using PF_INTERRUPTS = RTS_RESULT (*)(void);

/* Interrupt locking is a service of an optional component. It is looked up again for every
 * table that asks for it, so that a table never calls into a component that has gone since an
 * earlier table found it; without the pair, tables take their lock. */
std::atomic<PF_INTERRUPTS> g_disable_interrupts{nullptr};
std::atomic<PF_INTERRUPTS> g_enable_interrupts{nullptr};

PF_INTERRUPTS import_interrupt_function(const char* name) {
    RTS_VOID_FCTPTR function = nullptr;
    if (CMGetAPI2(name, &function, CM_IMPORT_OPTIONAL, 0, 0) != RES_OK) return nullptr;
    return reinterpret_cast<PF_INTERRUPTS>(function);
}

void import_interrupt_functions() {
    PF_INTERRUPTS disable = import_interrupt_function("SysIntDisableAll");
    PF_INTERRUPTS enable = import_interrupt_function("SysIntEnableAll");
    if (disable == nullptr || enable == nullptr) disable = enable = nullptr;
    /* Disable off first and on last: whoever sees the disable function also sees its partner. */
    g_disable_interrupts.store(nullptr);
    g_enable_interrupts.store(enable);
    g_disable_interrupts.store(disable);
}

/* Holds a table's lock for one bucket walk. The manager's locks refuse until its own start-up
 * has switched them on; until then the walk runs unlocked, and only a lock that was really
 * entered is left again. */
class TableGuard {
public:
    explicit TableGuard(const CMUtlHashTable* table) {
        if ((table->flags & CMUTL_HASH_NO_LOCK) != 0) return;
        if ((table->flags & CMUTL_HASH_INTERRUPT_LOCK) != 0) {
            if (PF_INTERRUPTS disable = g_disable_interrupts.load(); disable != nullptr) {
                enable_ = g_enable_interrupts.load();
                disable();
                return;
            }
        }
        if (CMLockEnter(table->lock) == RES_OK) lock_ = table->lock;
    }
    ~TableGuard() {
        if (enable_ != nullptr)
            enable_();
        else if (rts::valid_handle(lock_))
            CMLockLeave(lock_);
    }
    TableGuard(const TableGuard&) = delete;
    TableGuard& operator=(const TableGuard&) = delete;

private:
    PF_INTERRUPTS enable_ = nullptr;
    RTS_HANDLE lock_ = RTS_INVALID_HANDLE;
};

bool usable(const CMUtlHashTable* table) {
    return table != nullptr && table->bucketCount != 0 && table->buckets != nullptr;
}

bool valid_key(const void* key, RTS_SIZE keyLength) {
    return key != nullptr && keyLength != 0;
}

/* Key byte i goes into byte (i mod 8) of a little-endian 64-bit accumulator. For a key of
 * exactly 8 bytes this is the key read as a little-endian number, so such keys need no path
 * of their own. */
RTS_UINTPTR fold_key(const void* key, RTS_SIZE keyLength) {
    const auto* bytes = static_cast<const RTS_UI8*>(key);
    RTS_UI8 acc[CMUTL_HASH_INLINE_KEY_SIZE] = {};
    for (RTS_SIZE i = 0; i < keyLength; ++i) acc[i % CMUTL_HASH_INLINE_KEY_SIZE] ^= bytes[i];
    RTS_UI64 value = 0;
    for (int i = CMUTL_HASH_INLINE_KEY_SIZE - 1; i >= 0; --i) value = (value << 8) | acc[i];
    return static_cast<RTS_UINTPTR>(value);
}

CMUtlHashEntry** bucket_of(const CMUtlHashTable* table, const void* key, RTS_SIZE keyLength) {
    assert(usable(table));
    RTS_UINTPTR hash = (table->flags & CMUTL_HASH_CUSTOM_FUNCTIONS) != 0 ? table->hashFunction(key, keyLength)
                                                                         : fold_key(key, keyLength);
    return &table->buckets[hash % table->bucketCount];
}

const void* key_of(const CMUtlHashEntry* entry) {
    return (entry->flags & CMUTL_HASH_ENTRY_KEY_INLINE) != 0 ? entry->key.bytes : entry->key.pointer;
}

bool key_equals(const CMUtlHashTable* table, const CMUtlHashEntry* entry, const void* key,
                RTS_SIZE keyLength) {
    if ((table->flags & CMUTL_HASH_CUSTOM_FUNCTIONS) != 0)
        return table->compareFunction(key_of(entry), entry->keyLength, key, keyLength) != 0;
    return entry->keyLength == keyLength && std::memcmp(key_of(entry), key, keyLength) == 0;
}

/* The link that points to the entry with this key, or the bucket's terminating null link. */
CMUtlHashEntry** link_of_key(const CMUtlHashTable* table, const void* key, RTS_SIZE keyLength) {
    CMUtlHashEntry** link = bucket_of(table, key, keyLength);
    while (*link != nullptr && !key_equals(table, *link, key, keyLength)) link = &(*link)->next;
    return link;
}

/* Unlinks an entry found by identity in the bucket of its key; false when it is not there. An
 * entry without a key (a caller's entry that was already removed) is in no bucket. */
bool unlink_entry(const CMUtlHashTable* table, const CMUtlHashEntry* entry) {
    if ((entry->flags & (CMUTL_HASH_ENTRY_KEY_INLINE | CMUTL_HASH_ENTRY_KEY_POINTER)) == 0 ||
        entry->keyLength == 0)
        return false;
    for (CMUtlHashEntry** link = bucket_of(table, key_of(entry), entry->keyLength); *link != nullptr;
         link = &(*link)->next) {
        if (*link == entry) {
            *link = entry->next;
            return true;
        }
    }
    return false;
}

/* Gives back what the table allocated for an entry that is no longer linked. A caller's entry
 * keeps its value but loses its key, so that it can point to no freed copy. */
void release_entry(const CMUtlHashTable* table, CMUtlHashEntry* entry) {
    constexpr RTS_UI32 copied = CMUTL_HASH_ENTRY_KEY_POINTER | CMUTL_HASH_ENTRY_KEY_COPIED;
    if ((entry->flags & copied) == copied)
        SysMemFreeData(table->owner, const_cast<void*>(entry->key.pointer));
    if ((entry->flags & CMUTL_HASH_ENTRY_ALLOCATED) != 0) {
        SysMemFreeData(table->owner, entry);
        return;
    }
    std::memset(&entry->key, 0, sizeof entry->key);
    entry->keyLength = 0;
    entry->next = nullptr;
    entry->flags = 0;
}

/* Fills an entry's key: inline when short and copied, a private copy when long and copied,
 * else a pointer to the caller's key. False when the copy cannot be had. */
bool store_key(const CMUtlHashTable* table, CMUtlHashEntry* entry, const void* key, RTS_SIZE keyLength,
               bool copyKey) {
    if (!copyKey) {
        entry->key.pointer = key;
        entry->flags |= CMUTL_HASH_ENTRY_KEY_POINTER;
    } else if (keyLength <= CMUTL_HASH_INLINE_KEY_SIZE) {
        std::memcpy(entry->key.bytes, key, keyLength);
        entry->flags |= CMUTL_HASH_ENTRY_KEY_INLINE;
    } else {
        void* copy = SysMemAllocData(table->owner, keyLength, nullptr);
        if (copy == nullptr) return false;
        std::memcpy(copy, key, keyLength);
        entry->key.pointer = copy;
        entry->flags |= CMUTL_HASH_ENTRY_KEY_POINTER | CMUTL_HASH_ENTRY_KEY_COPIED;
    }
    return true;
}

} // namespace

extern "C" RTS_RESULT CMUtlHashCreate4(CMUtlHashTable* table, RTS_SIZE bucketCount,
                                       CMUtlHashEntry** bucketArray, RTS_UI32 flags,
                                       PF_CMUTL_HASH_FUNCTION hashFunction,
                                       PF_CMUTL_HASH_COMPARE compareFunction, const char* owner) {
    if (table == nullptr || bucketCount == 0) return RES_PARAMETER;
    if ((hashFunction == nullptr) != (compareFunction == nullptr)) return RES_PARAMETER;
    if (bucketArray == nullptr && bucketCount > ~static_cast<RTS_SIZE>(0) / sizeof(CMUtlHashEntry*))
        return RES_NOMEMORY;

    CMUtlHashTable fresh{};
    fresh.lock = RTS_INVALID_HANDLE;
    fresh.bucketCount = bucketCount;
    fresh.owner = owner;
    fresh.flags = flags & (CMUTL_HASH_INTERRUPT_LOCK | CMUTL_HASH_NO_LOCK);
    if (hashFunction != nullptr) {
        fresh.flags |= CMUTL_HASH_CUSTOM_FUNCTIONS;
        fresh.hashFunction = hashFunction;
        fresh.compareFunction = compareFunction;
    }
    if ((fresh.flags & CMUTL_HASH_NO_LOCK) == 0) {
        RTS_RESULT r = RES_OK;
        fresh.lock = CMLockCreate(&r);
        if (!rts::valid_handle(fresh.lock)) return r != RES_OK ? r : RES_NO_RESOURCES;
    }
    if (bucketArray != nullptr) {
        std::memset(bucketArray, 0, bucketCount * sizeof(CMUtlHashEntry*));
        fresh.buckets = bucketArray;
    } else {
        fresh.buckets = static_cast<CMUtlHashEntry**>(
            SysMemAllocData(owner, bucketCount * sizeof(CMUtlHashEntry*), nullptr));
        if (fresh.buckets == nullptr) {
            CMLockDelete(fresh.lock);
            return RES_NOMEMORY;
        }
        fresh.flags |= CMUTL_HASH_BUCKETS_ALLOCATED;
    }
    if ((fresh.flags & CMUTL_HASH_INTERRUPT_LOCK) != 0) import_interrupt_functions();
    *table = fresh;
    return RES_OK;
}

extern "C" RTS_RESULT CMUtlHashCreate3(CMUtlHashTable* table, RTS_SIZE bucketCount,
                                       CMUtlHashEntry** bucketArray, RTS_UI32 flags, const char* owner) {
    return CMUtlHashCreate4(table, bucketCount, bucketArray, flags, nullptr, nullptr, owner);
}

extern "C" RTS_RESULT CMUtlHashCreate2(CMUtlHashTable* table, RTS_SIZE bucketCount,
                                       CMUtlHashEntry** bucketArray, const char* owner) {
    return CMUtlHashCreate4(table, bucketCount, bucketArray, 0, nullptr, nullptr, owner);
}

extern "C" RTS_RESULT CMUtlHashCreate(CMUtlHashTable* table, RTS_SIZE bucketCount, const char* owner) {
    return CMUtlHashCreate4(table, bucketCount, nullptr, 0, nullptr, nullptr, owner);
}

extern "C" RTS_RESULT CMUtlHashDelete(CMUtlHashTable* table) {
    if (!usable(table)) return RES_PARAMETER;
    {
        TableGuard guard(table);
        for (RTS_SIZE b = 0; b < table->bucketCount; ++b) {
            CMUtlHashEntry* entry = table->buckets[b];
            table->buckets[b] = nullptr;
            while (entry != nullptr) {
                CMUtlHashEntry* next = entry->next;
                release_entry(table, entry);
                entry = next;
            }
        }
    }
    CMLockDelete(table->lock);
    if ((table->flags & CMUTL_HASH_BUCKETS_ALLOCATED) != 0) SysMemFreeData(table->owner, table->buckets);
    *table = CMUtlHashTable{};
    table->lock = RTS_INVALID_HANDLE;
    return RES_OK;
}

extern "C" CMUtlHashEntry* CMUtlHashSearch(CMUtlHashTable* table, const void* key, RTS_SIZE keyLength,
                                           RTS_RESULT* pResult) {
    if (!usable(table) || !valid_key(key, keyLength))
        return report(pResult, RES_PARAMETER, static_cast<CMUtlHashEntry*>(nullptr));
    CMUtlHashEntry* found = nullptr;
    {
        TableGuard guard(table);
        found = *link_of_key(table, key, keyLength);
    }
    return report(pResult, found != nullptr ? RES_OK : RES_NO_OBJECT, found);
}

extern "C" RTS_RESULT CMUtlHashInsert2(CMUtlHashTable* table, CMUtlHashEntry* entryMemory, const void* key,
                                       RTS_SIZE keyLength, int copyKey, RTS_UINTPTR value) {
    if (!usable(table) || !valid_key(key, keyLength)) return RES_PARAMETER;
    if (CMUtlHashSearch(table, key, keyLength, nullptr) != nullptr) return RES_DUPLICATE;

    CMUtlHashEntry* entry = entryMemory;
    if (entry != nullptr) {
        std::memset(&entry->key, 0, sizeof entry->key);
        entry->next = nullptr;
        entry->flags = 0;
    } else {
        entry = static_cast<CMUtlHashEntry*>(SysMemAllocData(table->owner, sizeof(CMUtlHashEntry), nullptr));
        if (entry == nullptr) return RES_NOMEMORY;
        entry->flags = CMUTL_HASH_ENTRY_ALLOCATED;
    }
    entry->value = value;
    entry->keyLength = keyLength;
    if (!store_key(table, entry, key, keyLength, copyKey != 0)) {
        release_entry(table, entry);
        return RES_NOMEMORY;
    }

    bool raced = false;
    {
        TableGuard guard(table);
        CMUtlHashEntry** link = link_of_key(table, key, keyLength);
        raced = *link != nullptr;
        if (!raced) *link = entry;
    }
    /* Another caller inserted the same key between the search and the walk: theirs stays. */
    if (raced) release_entry(table, entry);
    return RES_OK;
}

extern "C" RTS_RESULT CMUtlHashInsert(CMUtlHashTable* table, const void* key, RTS_SIZE keyLength, int copyKey,
                                      RTS_UINTPTR value) {
    return CMUtlHashInsert2(table, nullptr, key, keyLength, copyKey, value);
}

extern "C" RTS_RESULT CMUtlHashRemove(CMUtlHashTable* table, CMUtlHashEntry* entry) {
    if (!usable(table) || entry == nullptr) return RES_PARAMETER;
    bool found = false;
    {
        TableGuard guard(table);
        found = unlink_entry(table, entry);
    }
    if (!found) return RES_NO_OBJECT;
    release_entry(table, entry);
    return RES_OK;
}

extern "C" RTS_RESULT CMUtlHashRemove2(CMUtlHashTable* table, const void* key, RTS_SIZE keyLength) {
    if (!usable(table) || !valid_key(key, keyLength)) return RES_PARAMETER;
    CMUtlHashEntry* entry = nullptr;
    {
        TableGuard guard(table);
        CMUtlHashEntry** link = link_of_key(table, key, keyLength);
        entry = *link;
        if (entry != nullptr) *link = entry->next;
    }
    if (entry == nullptr) return RES_NO_OBJECT;
    release_entry(table, entry);
    return RES_OK;
}

extern "C" RTS_RESULT CMUtlHashIterate(CMUtlHashTable* table, PF_CMUTL_HASH_ITERATE callback, void* context) {
    if (!usable(table) || callback == nullptr) return RES_PARAMETER;
    TableGuard guard(table);
    for (RTS_SIZE b = 0; b < table->bucketCount; ++b) {
        for (CMUtlHashEntry* entry = table->buckets[b]; entry != nullptr;) {
            CMUtlHashEntry* next = entry->next; /* the callback may remove this entry */
            if (callback(entry, context) != 0) return RES_OK;
            entry = next;
        }
    }
    return RES_OK;
}

extern "C" RTS_SIZE CMUtlBinarySearch_UI32(const void* array, RTS_SIZE arraySize, RTS_SIZE elementSize,
                                           RTS_SIZE keyOffset, RTS_SIZE startIndex, RTS_UI32 key,
                                           RTS_RESULT* pResult) {
    /* A key that would reach into the next record (or past the array) is refused as well. */
    if (array == nullptr || elementSize == 0 || elementSize > arraySize || keyOffset >= elementSize ||
        elementSize - keyOffset < sizeof(RTS_UI32))
        return report(pResult, RES_PARAMETER, CMUTL_BINARY_SEARCH_NONE);
    const auto* records = static_cast<const RTS_UI8*>(array);
    RTS_SIZE low = startIndex;
    RTS_SIZE high = arraySize / elementSize - 1;
    while (low <= high) {
        RTS_SIZE mid = low + (high - low) / 2;
        RTS_UI32 recordKey = 0;
        std::memcpy(&recordKey, records + mid * elementSize + keyOffset, sizeof recordKey);
        if (recordKey == key) return report(pResult, RES_OK, mid);
        if (recordKey > key) {
            if (mid == 0) break;
            high = mid - 1;
        } else {
            low = mid + 1;
        }
    }
    return report(pResult, RES_NO_OBJECT, CMUTL_BINARY_SEARCH_NONE);
}

extern "C" const CMExportEntry CMUtlHashExportTable[] = {
    CM_EXPORT(CMUtlHashCreate),
    CM_EXPORT(CMUtlHashCreate2),
    CM_EXPORT(CMUtlHashCreate3),
    CM_EXPORT(CMUtlHashCreate4),
    CM_EXPORT(CMUtlHashDelete),
    CM_EXPORT(CMUtlHashInsert),
    CM_EXPORT(CMUtlHashInsert2),
    CM_EXPORT(CMUtlHashSearch),
    CM_EXPORT(CMUtlHashRemove),
    CM_EXPORT(CMUtlHashRemove2),
    CM_EXPORT(CMUtlHashIterate),
    CM_EXPORT(CMStringCreate),
    CM_EXPORT(CMStringCreate2),
    CM_EXPORT(CMStringCreate3),
    CM_EXPORT(CMStringDelete),
    CM_EXPORT(CMStringExtend),
    CM_EXPORT(CMStringCat),
    CM_EXPORT(CMStringCopy),
    CM_EXPORT(CMStringCopy2),
    CM_EXPORT(CMUtlArgumentTokenizer),
    CM_EXPORT(CMUtlBinarySearch_UI32),
    {nullptr, nullptr, 0, 0},
};
