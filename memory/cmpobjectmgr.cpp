/* CmpObjectMgr: the object dictionary. The component owns the pool of dictionary records, the
 * list of open dictionaries, and in each dictionary the bucket array, the entry pool and the
 * optional lock.
 *
 * Handles. A handle is taken for an open dictionary when its record carries the open signature.
 * The check reads the record alone, never the list of open dictionaries: the list has no lock
 * (one thread at a time opens and closes), while other threads keep working on their own
 * dictionaries, so walking it could follow a record that is being closed and refilled; and a
 * record check costs the same for one dictionary as for thousands, as a key lookup promises.
 * The record's memory stays readable after a close: records are blocks of the dictionary pool,
 * which only grows until the component's exit (after which no handle is read at all), and a
 * close clears the signature, under the dictionary's lock, before the block goes back. So a
 * closed handle is refused instead of followed. Every operation checks the signature, takes the
 * dictionary's lock (the record's lock field is trusted only once the signature matched) and
 * checks it again under the lock, so an operation that waited for a close sees that the
 * dictionary is gone. Using a dictionary while another thread closes it is still the caller's
 * error, since the lock goes with the dictionary. Close looks its handle up in the open list,
 * which it must unlink from anyway, so a foreign address is never read there. */
#include <atomic>
#include <cassert>
#include <cstring>

#include "cm/rts_common.h"
#include "cm.h"
#include "memory/cm_lock_scope.h"
#include "mempool.h"
#include "objmgr.h"
#include "sysmem.h"

using rts::valid_handle;

static_assert(sizeof(ObjManEntry) == 24);

namespace {

constexpr const char* kOwner = "CmpObjectMgr";
constexpr RTS_SIZE kDictionaryBlocks = 45;
constexpr RTS_UI64 kPrimeCandidates = 20;
constexpr RTS_UI64 kMaxBits = 31;

/* Marks an open record: neither 0 (a cleared record) nor the pool's 0xAA fill of a given-back
 * block. */
constexpr RTS_UI32 kOpenSignature = 0x4F424A44u;

RTS_HANDLE g_dictionaryPool = RTS_INVALID_HANDLE;
ObjManDictionary* g_open = nullptr; /* newest first */

bool is_open(ObjManDictionary* d) {
    return std::atomic_ref<RTS_UI32>(d->Signature).load(std::memory_order_acquire) == kOpenSignature;
}

void set_signature(ObjManDictionary* d, RTS_UI32 signature) {
    std::atomic_ref<RTS_UI32>(d->Signature).store(signature, std::memory_order_release);
}

/* The record behind a handle when it carries the open signature, else null. */
ObjManDictionary* open_record(RTS_HANDLE h) {
    if (g_dictionaryPool == RTS_INVALID_HANDLE || !valid_handle(h)) return nullptr;
    auto* d = static_cast<ObjManDictionary*>(h);
    return is_open(d) ? d : nullptr;
}

/* The open dictionary behind a handle for one operation, under its lock; get() is null when the
 * handle is not an open dictionary, also when it was closed while the operation waited. */
class OpenDictionary {
public:
    explicit OpenDictionary(RTS_HANDLE h)
        : d_(open_record(h)), locked_(d_ != nullptr ? d_->Lock : RTS_INVALID_HANDLE) {
        if (d_ != nullptr && !is_open(d_)) d_ = nullptr;
    }
    ObjManDictionary* get() const { return d_; }

private:
    ObjManDictionary* d_;
    CMLockScope locked_;
};

bool id_open(RTS_I32 id) {
    for (ObjManDictionary* d = g_open; d != nullptr; d = d->Next) {
        if (d->Id == id) return true;
    }
    return false;
}

/* Rejects 0, 1 and every even number, so 2 never counts as prime. */
bool is_prime(RTS_UI64 n) {
    if (n < 3 || n % 2 == 0) return false;
    for (RTS_UI64 d = 3; d * d <= n; d += 2) {
        if (n % d == 0) return false;
    }
    return true;
}

/* The first prime among expected .. expected + 19, or 0. */
RTS_UI64 bucket_count_for(RTS_UI64 expected) {
    for (RTS_UI64 n = expected; n < expected + kPrimeCandidates; ++n) {
        if (is_prime(n)) return n;
    }
    return 0;
}

RTS_UI64 bit_length(RTS_UI64 n) {
    RTS_UI64 bits = 0;
    for (; n != 0; n >>= 1) ++bits;
    return bits;
}

RTS_UI64 bucket_of_object(const ObjManDictionary* d, RTS_UINTPTR object) {
    return static_cast<RTS_UI64>(object) % d->BucketCount;
}

bool is_free(const ObjManEntry* e) {
    return e->Object == OBJMAN_NO_OBJECT;
}

ObjManEntry* new_entry(ObjManDictionary* d) {
    void* block = MemPoolGetBlock(d->EntryPool, nullptr);
    if (block == nullptr && MemPoolExtendDynamic(d->EntryPool, kOwner, d->BucketCount) == RES_OK)
        block = MemPoolGetBlock(d->EntryPool, nullptr);
    return static_cast<ObjManEntry*>(block);
}

void release_chain(ObjManDictionary* d, RTS_UI64 bucket) {
    for (ObjManEntry* e = d->Buckets[bucket]; e != nullptr;) {
        ObjManEntry* next = e->Next;
        MemPoolPutBlock(e);
        e = next;
    }
    d->Buckets[bucket] = nullptr;
}

void release_all(ObjManDictionary* d) {
    for (RTS_UI64 b = 0; b < d->BucketCount; ++b) release_chain(d, b);
    d->Count = 0;
}

/* Frees an entry; a chain whose entries are all free goes back to the pool. */
void free_entry(ObjManDictionary* d, RTS_UI64 bucket, ObjManEntry* entry) {
    assert(d->Count > 0 && "a used entry is counted");
    entry->Object = OBJMAN_NO_OBJECT;
    --d->Count;
    for (const ObjManEntry* e = d->Buckets[bucket]; e != nullptr; e = e->Next) {
        if (!is_free(e)) return;
    }
    release_chain(d, bucket);
}

RTS_UI32 add_object(ObjManDictionary* d, RTS_UINTPTR object) {
    const RTS_UI64 bucket = bucket_of_object(d, object);
    RTS_UI64 position = 0;
    ObjManEntry* last = nullptr;
    ObjManEntry* reusable = nullptr;
    for (ObjManEntry* e = d->Buckets[bucket]; e != nullptr; last = e, e = e->Next, ++position) {
        if (e->Object == object) return OBJMAN_NO_KEY;
        if (reusable == nullptr && is_free(e)) reusable = e;
    }
    if (reusable != nullptr) {
        reusable->Object = object;
        ++d->Count;
        return reusable->Key;
    }
    ObjManEntry* e = new_entry(d);
    if (e == nullptr) return OBJMAN_NO_KEY;
    e->Next = nullptr;
    e->Object = object;
    e->Key = static_cast<RTS_UI32>((position << d->Bits) | bucket);
    if (last != nullptr)
        last->Next = e;
    else
        d->Buckets[bucket] = e;
    ++d->Count;
    return e->Key;
}

/* The used entry of a key, or null; a key whose bucket part lies beyond the table has none. */
ObjManEntry* entry_of_key(const ObjManDictionary* d, RTS_UI32 key, RTS_UI64* pBucket) {
    const RTS_UI64 bucket = key & d->Mask;
    *pBucket = bucket;
    if (bucket >= d->BucketCount) return nullptr;
    for (ObjManEntry* e = d->Buckets[bucket]; e != nullptr; e = e->Next) {
        if (e->Key == key && !is_free(e)) return e;
    }
    return nullptr;
}

ObjManEntry* entry_of_object(const ObjManDictionary* d, RTS_UINTPTR object, RTS_UI64* pBucket) {
    const RTS_UI64 bucket = bucket_of_object(d, object);
    *pBucket = bucket;
    for (ObjManEntry* e = d->Buckets[bucket]; e != nullptr; e = e->Next) {
        if (e->Object == object) return e;
    }
    return nullptr;
}

/* Bucket array and entry pool for about expected objects; false leaves no table. */
bool build_table(ObjManDictionary* d, RTS_UI64 expected) {
    if (expected == 0 || expected >= (RTS_UI64{1} << (kMaxBits - 1))) return false;
    const RTS_UI64 buckets = bucket_count_for(expected);
    const RTS_UI64 bits = bit_length(buckets);
    if (buckets == 0 || bits >= kMaxBits) return false;
    RTS_HANDLE pool = MemPoolCreateDynamic(kOwner, buckets, sizeof(ObjManEntry), nullptr);
    if (pool == RTS_INVALID_HANDLE) return false;
    auto** array =
        static_cast<ObjManEntry**>(SysMemAllocData(kOwner, buckets * sizeof(ObjManEntry*), nullptr));
    if (array == nullptr) {
        MemPoolDelete(pool, kOwner);
        return false;
    }
    d->BucketCount = buckets;
    d->Bits = bits;
    d->Mask = static_cast<RTS_UI32>((RTS_UI64{1} << bits) - 1);
    d->EntryPool = pool;
    d->Buckets = array;
    return true;
}

void drop_table(ObjManDictionary* d) {
    release_all(d);
    MemPoolDelete(d->EntryPool, kOwner);
    SysMemFreeData(kOwner, d->Buckets);
    d->EntryPool = RTS_INVALID_HANDLE;
    d->Buckets = nullptr;
    d->BucketCount = 0;
    d->Bits = 0;
    d->Mask = 0;
}

/* Takes a record out of the open list; false when it is not there. */
bool unlink_open(const void* d) {
    for (ObjManDictionary** link = &g_open; *link != nullptr; link = &(*link)->Next) {
        if (*link == d) {
            *link = (*link)->Next;
            return true;
        }
    }
    return false;
}

/* Ends an unlinked dictionary: an operation that holds its lock finishes first, one that waits
 * for it finds the signature cleared. */
void close_dictionary(ObjManDictionary* d) {
    {
        CMLockScope locked(d->Lock);
        set_signature(d, 0);
        drop_table(d);
    }
    CMLockDelete(d->Lock);
    MemPoolPutBlock(d);
}

void* take_dictionary_block() {
    void* block = MemPoolGetBlock(g_dictionaryPool, nullptr);
    if (block == nullptr && MemPoolExtendDynamic(g_dictionaryPool, kOwner, kDictionaryBlocks) == RES_OK)
        block = MemPoolGetBlock(g_dictionaryPool, nullptr);
    return block;
}

const CMExportEntry kExports[] = {
    CM_EXPORT(ObjManDictionaryOpen),      CM_EXPORT(ObjManDictionaryClose),
    CM_EXPORT(ObjManDictionaryAddObject), CM_EXPORT(ObjManDictionaryRemoveObject),
    CM_EXPORT(ObjManDictionaryRemoveKey), CM_EXPORT(ObjManDictionaryClear),
    CM_EXPORT(ObjManDictionaryGetSize),   CM_EXPORT(ObjManDictionaryGetKey),
    CM_EXPORT(ObjManDictionaryGetObject), {nullptr, nullptr, 0, 0},
};
RTS_RESULT export_functions() {
    return CMRegisterAPI(kExports, 0, 0, CMPID_CmpObjectMgr);
}

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) {
    if (hook == CH_INIT) {
        if (g_dictionaryPool == RTS_INVALID_HANDLE)
            g_dictionaryPool =
                MemPoolCreateDynamic(kOwner, kDictionaryBlocks, sizeof(ObjManDictionary), nullptr);
        g_open = nullptr;
    } else if (hook == CH_EXIT) {
        while (ObjManDictionary* d = g_open) {
            g_open = d->Next;
            close_dictionary(d);
        }
        MemPoolDelete(g_dictionaryPool, kOwner);
        g_dictionaryPool = RTS_INVALID_HANDLE;
    }
    return RES_OK;
}

} // namespace

extern "C" RTS_RESULT CmpObjectMgr__Entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(pInit, CMPID_CmpObjectMgr, export_functions, nullptr, CMComponentVersion,
                            hook_function);
}

extern "C" RTS_HANDLE ObjManDictionaryOpen(RTS_I32 id, RTS_UI64 expectedCount, RTS_I32 withLock) {
    if (g_dictionaryPool == RTS_INVALID_HANDLE || id_open(id)) return RTS_INVALID_HANDLE;
    auto* d = static_cast<ObjManDictionary*>(take_dictionary_block());
    if (d == nullptr) return RTS_INVALID_HANDLE;
    RTS_HANDLE lock = RTS_INVALID_HANDLE;
    if (withLock) {
        lock = CMLockCreate(nullptr);
        if (!valid_handle(lock)) {
            MemPoolPutBlock(d);
            return RTS_INVALID_HANDLE;
        }
    }
    std::memset(d, 0, sizeof *d);
    d->Id = id;
    d->Lock = lock;
    d->EntryPool = RTS_INVALID_HANDLE;
    if (!build_table(d, expectedCount)) {
        if (valid_handle(lock)) CMLockDelete(lock);
        MemPoolPutBlock(d);
        return RTS_INVALID_HANDLE;
    }
    d->Next = g_open;
    set_signature(d, kOpenSignature);
    g_open = d;
    return d;
}

extern "C" RTS_RESULT ObjManDictionaryClose(RTS_HANDLE hDictionary) {
    if (g_dictionaryPool == RTS_INVALID_HANDLE || !valid_handle(hDictionary)) return RES_PARAMETER;
    if (!unlink_open(hDictionary)) return RES_FAILED;
    close_dictionary(static_cast<ObjManDictionary*>(hDictionary));
    return RES_OK;
}

extern "C" RTS_UI32 ObjManDictionaryAddObject(RTS_HANDLE hDictionary, RTS_UINTPTR object) {
    OpenDictionary open(hDictionary);
    ObjManDictionary* d = open.get();
    if (d == nullptr || object == OBJMAN_NO_OBJECT) return OBJMAN_NO_KEY;
    return add_object(d, object);
}

namespace {

/* Frees the entry the lookup finds (by object or by key) under the dictionary's lock. */
template <typename Value>
RTS_RESULT remove_entry(RTS_HANDLE hDictionary, Value value, Value none,
                        ObjManEntry* (*lookup)(const ObjManDictionary*, Value, RTS_UI64*)) {
    OpenDictionary open(hDictionary);
    ObjManDictionary* d = open.get();
    if (d == nullptr || value == none) return RES_PARAMETER;
    RTS_UI64 bucket = 0;
    ObjManEntry* e = lookup(d, value, &bucket);
    if (e == nullptr) return RES_FAILED;
    free_entry(d, bucket, e);
    return RES_OK;
}

} // namespace

extern "C" RTS_RESULT ObjManDictionaryRemoveObject(RTS_HANDLE hDictionary, RTS_UINTPTR object) {
    return remove_entry<RTS_UINTPTR>(hDictionary, object, OBJMAN_NO_OBJECT, entry_of_object);
}

extern "C" RTS_RESULT ObjManDictionaryRemoveKey(RTS_HANDLE hDictionary, RTS_UI32 key) {
    return remove_entry<RTS_UI32>(hDictionary, key, OBJMAN_NO_KEY, entry_of_key);
}

extern "C" RTS_RESULT ObjManDictionaryClear(RTS_HANDLE hDictionary) {
    OpenDictionary open(hDictionary);
    ObjManDictionary* d = open.get();
    if (d == nullptr) return RES_PARAMETER;
    release_all(d);
    return RES_OK;
}

extern "C" RTS_RESULT ObjManDictionaryGetSize(RTS_HANDLE hDictionary, RTS_UI64* pSize) {
    OpenDictionary open(hDictionary);
    ObjManDictionary* d = open.get();
    if (d == nullptr || pSize == nullptr) return RES_PARAMETER;
    *pSize = d->Count;
    return RES_OK;
}

extern "C" RTS_UI32 ObjManDictionaryGetKey(RTS_HANDLE hDictionary, RTS_UINTPTR object) {
    OpenDictionary open(hDictionary);
    ObjManDictionary* d = open.get();
    if (d == nullptr || object == OBJMAN_NO_OBJECT) return OBJMAN_NO_KEY;
    RTS_UI64 bucket = 0;
    ObjManEntry* e = d->Count > 0 ? entry_of_object(d, object, &bucket) : nullptr;
    return e != nullptr ? e->Key : OBJMAN_NO_KEY;
}

extern "C" RTS_UINTPTR ObjManDictionaryGetObject(RTS_HANDLE hDictionary, RTS_UI32 key) {
    OpenDictionary open(hDictionary);
    ObjManDictionary* d = open.get();
    if (d == nullptr || key == OBJMAN_NO_KEY) return OBJMAN_NO_OBJECT;
    RTS_UI64 bucket = 0;
    ObjManEntry* e = d->Count > 0 ? entry_of_key(d, key, &bucket) : nullptr;
    return e != nullptr ? e->Object : OBJMAN_NO_OBJECT;
}
