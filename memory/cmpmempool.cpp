/* CmpMemPool: pools of equal-sized blocks. The component owns the pool layout (control block,
 * block headers, extension areas), the free and used lists and their lock discipline, the
 * lock-free reader protocol, the table pool behind hashed-block tables and the lock trace.
 *
 * Pools may be created before the component is initialised (the component manager keeps its
 * first records in them): such pools work without a lock until MemPoolCreateSyncObject. List
 * links, the used-list head, block flags and the reader count are touched through atomic
 * references because lock-free readers walk the used list while writers hold the lock; the free
 * list is only ever touched under the lock of the pool it belongs to. */
#include <atomic>
#include <cassert>
#include <cstring>
#include <limits>
#include <mutex>
#include <string_view>

#include "cm/rts_common.h"
#include "cm.h"
#include "cmplog.h"
#include "cmpsettings.h"
#include "cmutils.h"
#include "memory/cm_lock_scope.h"
#include "mempool.h"
#include "syscpu.h"
#include "syssem.h"
#include "sysmem.h"
#include "systime.h"

using rts::report;
using rts::valid_handle;

static_assert(sizeof(PoolControlBlock) == MEM_POOL_CONTROL_BLOCK_SIZE);
static_assert(sizeof(MemPoolBlockHeader) == MEM_POOL_BLOCK_HEADER_SIZE);
static_assert(sizeof(MemPoolArea) == 16);
static_assert(sizeof(MemPoolHashTable) == 72);

namespace {

constexpr const char* kOwner = "CmpMemPool";
constexpr RTS_UI32 kKindFlags = MEM_POOL_STATIC | MEM_POOL_DYNAMIC;
constexpr RTS_UI32 kLockFlags = MEM_POOL_NOLOCK | MEM_POOL_NOLOCK_INIT;
/* First block headers are 8-byte aligned. */
constexpr RTS_UINTPTR kHeaderAlignment = 8;
/* A static extension counts its blocks as if a control block stood at its start rounded to
 * this, although its blocks follow the smaller area header. */
constexpr RTS_UINTPTR kCountedControlAlignment = 4;
/* A heap extension's bytes beside its blocks: the area header and room to align the first block. */
constexpr RTS_SIZE kExtensionOverhead = 32;
/* An area records its block count in 32 bits. */
constexpr RTS_SIZE kMaxAreaBlocks = std::numeric_limits<decltype(MemPoolArea::BlockCount)>::max();
constexpr unsigned char kReleasedFill = 0xAA;

/* Where a block is, kept in its header's State word. */
enum BlockState : RTS_UI32 { kTaken = 0, kFree = 1, kListed = 2 };

std::atomic<bool> g_initialised{false};

/* The table pool: hashed-block tables, two in static memory, more from the heap. */
constexpr RTS_SIZE kTableAreaSize = 272;
alignas(8) unsigned char g_tableArea[kTableAreaSize];
RTS_HANDLE g_tablePool = RTS_INVALID_HANDLE;

/* ---- optional services ------------------------------------------------------------------- */

constexpr const char* kImportNames[] = {
    "TraceMgrPacketGetState", "TraceMgrRecordUpdate3", "TraceMgrPacketStart",  "TraceMgrPacketComplete",
    "TraceMgrRecordRemove",   "TraceMgrRecordAdd",     "TraceMgrPacketDelete", "TraceMgrPacketCreate",
    "SysTaskGetInfo",         "SysTaskGetCurrent",     "SysIntDisableAll",     "SysIntEnableAll",
};
constexpr int kImportCount = sizeof kImportNames / sizeof kImportNames[0];
constexpr int import_index(std::string_view name) {
    for (int i = 0; i < kImportCount; ++i) {
        if (name == kImportNames[i]) return i;
    }
    return -1;
}
std::atomic<RTS_VOID_FCTPTR> g_imports[kImportCount];

/* The imported function of the given index (import_index of its name), or null. */
template <class F, int Index> F imported() {
    static_assert(Index >= 0 && Index < kImportCount);
    return reinterpret_cast<F>(g_imports[Index].load(std::memory_order_acquire));
}

void import_optional_services() {
    for (int i = 0; i < kImportCount; ++i) {
        RTS_VOID_FCTPTR function = nullptr;
        CMGetAPI2(kImportNames[i], &function, CM_IMPORT_OPTIONAL, 0, 0);
        g_imports[i].store(function, std::memory_order_release);
    }
}

void forget_optional_services() {
    for (auto& function : g_imports) function.store(nullptr, std::memory_order_release);
}

/* ---- small helpers ----------------------------------------------------------------------- */

template <class T> T load(T& field) {
    return std::atomic_ref<T>(field).load(std::memory_order_acquire);
}
template <class T> void store(T& field, T value) {
    std::atomic_ref<T>(field).store(value, std::memory_order_release);
}

RTS_UINTPTR round_up(RTS_UINTPTR value, RTS_UINTPTR to) {
    return (value + to - 1) & ~(to - 1);
}

/* The control block behind a handle, or null when the handle is not a live pool (a pool's
 * block size is never 0; deleting a pool clears it). */
PoolControlBlock* pool_of(RTS_HANDLE h) {
    if (!valid_handle(h)) return nullptr;
    auto* p = static_cast<PoolControlBlock*>(h);
    return load(p->BlockSize) != 0 ? p : nullptr;
}

MemPoolBlockHeader* header_of(void* pBlock) {
    return reinterpret_cast<MemPoolBlockHeader*>(static_cast<unsigned char*>(pBlock) -
                                                 MEM_POOL_BLOCK_HEADER_SIZE);
}
void* data_of(MemPoolBlockHeader* h) {
    return reinterpret_cast<unsigned char*>(h) + MEM_POOL_BLOCK_HEADER_SIZE;
}

/* The pool that owns a block, or null for a null block or one whose header names no pool. */
PoolControlBlock* owner_of(void* pBlock) {
    if (pBlock == nullptr) return nullptr;
    return pool_of(load(header_of(pBlock)->Pool));
}

/* The pool whose used list an operation changes: hPool, or the block's own for all ones. */
PoolControlBlock* list_pool(void* pBlock, RTS_HANDLE hPool) {
    return hPool == RTS_INVALID_HANDLE ? owner_of(pBlock) : pool_of(hPool);
}

const char* text(const char* s) {
    return s != nullptr ? s : "";
}

unsigned short_address(const void* p) {
    return static_cast<unsigned>(reinterpret_cast<RTS_UINTPTR>(p));
}

/* Holds the pool's lock for a scope when the pool has one and the component runs. */
class PoolGuard {
public:
    explicit PoolGuard(PoolControlBlock* p) : pool_(p), locked_(MemPoolLock(p) == RES_OK) {}
    ~PoolGuard() {
        if (locked_) MemPoolUnlock(pool_);
    }
    PoolGuard(const PoolGuard&) = delete;
    PoolGuard& operator=(const PoolGuard&) = delete;

private:
    PoolControlBlock* pool_;
    bool locked_;
};

/* ---- lock trace --------------------------------------------------------------------------- */

constexpr int kTraceThreads = 100;
constexpr RTS_UI32 kTraceBufferSize = 2000;
constexpr RTS_UI32 kTracePacketFlags = 0x10020;
constexpr RTS_SIZE kTraceNameSize = 128;

struct TraceThread {
    RTS_HANDLE task; /* all ones: free */
    RTS_UI8 depth;   /* 1 waiting, 2 holding, +2 per recursion */
    RTS_UI32 start;
};

enum class TraceStep { BeforeEnter, AfterEnter, BeforeLeave };

struct LockTrace {
    std::atomic<PoolControlBlock*> pool{nullptr};
    RTS_HANDLE packet = nullptr;
    TraceThread* threads = nullptr;
    RTS_HANDLE* records = nullptr;
    RTS_UI32 maxLockMs = 0;
    std::mutex mutex; /* guards the thread table between tasks */
};
LockTrace g_trace;

const char* task_name(RTS_HANDLE task) {
    const char* name = nullptr;
    auto getInfo = imported<PF_SYSTASK_GET_INFO, import_index("SysTaskGetInfo")>();
    if (getInfo == nullptr || getInfo(task, &name) != RES_OK || name == nullptr) return "";
    return name;
}

/* The slot of a task in the thread table: its own, else the first free one (*isNew), else -1. */
int trace_slot(RTS_HANDLE task, bool* isNew) {
    for (int i = 0; i < kTraceThreads; ++i) {
        if (g_trace.threads[i].task == RTS_INVALID_HANDLE) {
            *isNew = true;
            return i;
        }
        if (g_trace.threads[i].task == task) {
            *isNew = false;
            return i;
        }
    }
    return -1;
}

void trace_sample(int slot) {
    auto getState = imported<PF_TRACEMGR_PACKET_GET_STATE, import_index("TraceMgrPacketGetState")>();
    auto update = imported<PF_TRACEMGR_RECORD_UPDATE3, import_index("TraceMgrRecordUpdate3")>();
    RTS_UI32 state = 0;
    if (getState == nullptr || update == nullptr || getState(g_trace.packet, &state) != RES_OK) return;
    if ((state & MEM_POOL_TRACE_RECORDING) != 0)
        update(g_trace.packet, g_trace.records[slot], g_trace.threads[slot].depth);
}

void trace_leave(TraceThread& t, RTS_HANDLE task) {
    const RTS_UI8 before = t.depth;
    t.depth = before >= 2 ? static_cast<RTS_UI8>(before - 2) : 0;
    if (before != 2 || g_trace.maxLockMs == 0) return;
    const RTS_UI32 held = SysTimeGetMs() - t.start;
    if (held > g_trace.maxLockMs)
        LogAdd(nullptr, CMPID_CmpMemPool, LOG_DEBUG, 0, 0,
               "MemPoolLockTrace Info: Semaphore was hold %d ms by thread %s", static_cast<int>(held),
               task_name(task));
}

void trace_step(PoolControlBlock* p, TraceStep step) {
    if (g_trace.pool.load(std::memory_order_acquire) != p) return;
    auto getCurrent = imported<PF_SYSTASK_GET_CURRENT, import_index("SysTaskGetCurrent")>();
    if (getCurrent == nullptr) return;
    const RTS_HANDLE task = getCurrent(nullptr);
    std::lock_guard<std::mutex> guard(g_trace.mutex);
    if (g_trace.threads == nullptr) return;
    bool isNew = false;
    const int slot = trace_slot(task, &isNew);
    if (slot < 0) return;
    TraceThread& t = g_trace.threads[slot];
    if (isNew) {
        if (step == TraceStep::BeforeLeave) {
            LogAdd(nullptr, CMPID_CmpMemPool, LOG_ERROR, 1, 0,
                   "MemPoolLockTrace: Unlock without previous lock");
            return;
        }
        auto recordAdd = imported<PF_TRACEMGR_RECORD_ADD, import_index("TraceMgrRecordAdd")>();
        t = TraceThread{task, 0, 0};
        g_trace.records[slot] =
            recordAdd != nullptr ? recordAdd(g_trace.packet, task_name(task), nullptr) : nullptr;
    }
    if (step == TraceStep::BeforeLeave) {
        trace_leave(t, task);
    } else {
        ++t.depth;
        if (t.depth == 2 && g_trace.maxLockMs != 0) t.start = SysTimeGetMs();
    }
    trace_sample(slot);
}

void trace_end() {
    g_trace.pool.store(nullptr, std::memory_order_release);
    std::lock_guard<std::mutex> guard(g_trace.mutex);
    if (g_trace.threads == nullptr) return;
    auto recordRemove = imported<PF_TRACEMGR_RECORD_REMOVE, import_index("TraceMgrRecordRemove")>();
    auto packetDelete = imported<PF_TRACEMGR_PACKET_DELETE, import_index("TraceMgrPacketDelete")>();
    for (int i = 0; i < kTraceThreads && g_trace.threads[i].task != RTS_INVALID_HANDLE; ++i) {
        if (recordRemove != nullptr && g_trace.records[i] != nullptr)
            recordRemove(g_trace.packet, g_trace.records[i]);
    }
    if (packetDelete != nullptr) packetDelete(g_trace.packet);
    SysMemFreeData(kOwner, g_trace.threads);
    SysMemFreeData(kOwner, g_trace.records);
    g_trace.threads = nullptr;
    g_trace.records = nullptr;
    g_trace.packet = nullptr;
}

/* ---- layout ------------------------------------------------------------------------------- */

/* Lays out count blocks from first on, each pointing to the next and the last to tail; returns
 * the first header (tail when count is 0). */
MemPoolBlockHeader* chain_blocks(PoolControlBlock* p, RTS_UINTPTR first, RTS_SIZE count,
                                 MemPoolBlockHeader* tail) {
    const RTS_UINTPTR stride = p->BlockSize + MEM_POOL_BLOCK_HEADER_SIZE;
    MemPoolBlockHeader* next = tail;
    for (RTS_SIZE i = count; i > 0; --i) {
        auto* h = reinterpret_cast<MemPoolBlockHeader*>(first + (i - 1) * stride);
        store(h->Next, next);
        store(h->Pool, static_cast<void*>(p));
        store(h->Flags, RTS_UI32{0});
        store(h->State, RTS_UI32{kFree});
        next = h;
    }
    return next;
}

RTS_RESULT create_lock(PoolControlBlock* p) {
    store(p->Lock, RTS_INVALID_HANDLE);
    if ((p->Flags & kLockFlags) != 0 || !g_initialised.load()) return RES_OK;
    RTS_RESULT result = RES_OK;
    RTS_HANDLE lock = SysSemCreate(&result);
    if (valid_handle(lock)) {
        store(p->Lock, lock);
        return RES_OK;
    }
    if (result == RES_NOTINITIALIZED) return RES_OK;
    LogAdd(nullptr, CMPID_CmpMemPool, LOG_ERROR, 1, 0,
           "Could not create mempool sync object: Cmp=%s, hPool=0x%x", kOwner, short_address(p));
    return RES_NOMEMORY;
}

/* Lays out a pool in [memory, memory + size): control block, then as many blocks as fit. */
RTS_HANDLE create_in(void* memory, RTS_SIZE size, RTS_SIZE blockSize, RTS_UI32 flags, RTS_RESULT* pResult) {
    const auto start = reinterpret_cast<RTS_UINTPTR>(memory);
    const RTS_UINTPTR end = start + size;
    /* Eight, not four: the control block's 64-bit fields are accessed atomically. */
    const RTS_UINTPTR control = round_up(start, alignof(PoolControlBlock));
    if (size < MEM_POOL_CONTROL_BLOCK_SIZE || end < start || control + MEM_POOL_CONTROL_BLOCK_SIZE > end)
        return report(pResult, RES_NOMEMORY, RTS_INVALID_HANDLE);
    std::memset(reinterpret_cast<void*>(control), 0, end - control);
    auto* p = reinterpret_cast<PoolControlBlock*>(control);
    p->BlockSize = MEM_POOL_ROUND8(blockSize);
    p->Flags = flags;
    const RTS_UINTPTR first = round_up(control + MEM_POOL_CONTROL_BLOCK_SIZE, kHeaderAlignment);
    const RTS_SIZE count = first <= end ? (end - first) / (p->BlockSize + MEM_POOL_BLOCK_HEADER_SIZE) : 0;
    p->FreeHead = chain_blocks(p, first, count, nullptr);
    const RTS_RESULT result = create_lock(p);
    if (result != RES_OK) return report(pResult, result, RTS_INVALID_HANDLE);
    return report(pResult, RES_OK, static_cast<RTS_HANDLE>(p));
}

RTS_HANDLE create_dynamic(const char* owner, RTS_SIZE count, RTS_SIZE blockSize, RTS_UI32 lockFlags,
                          RTS_RESULT* pResult) {
    if (owner == nullptr || count == 0 || blockSize == 0)
        return report(pResult, RES_PARAMETER, RTS_INVALID_HANDLE);
    const RTS_SIZE stride = MEM_POOL_ROUND8(blockSize) + MEM_POOL_BLOCK_HEADER_SIZE;
    if (count > (~RTS_SIZE{0} - MEM_POOL_AREA_OVERHEAD) / stride)
        return report(pResult, RES_NOMEMORY, RTS_INVALID_HANDLE);
    const RTS_SIZE size = MEM_POOL_AREA_SIZE(blockSize, count);
    void* memory = SysMemAllocData(owner, size, nullptr);
    if (memory == nullptr) return report(pResult, RES_NOMEMORY, RTS_INVALID_HANDLE);
    RTS_RESULT result = RES_OK;
    RTS_HANDLE h = create_in(memory, size, blockSize, MEM_POOL_DYNAMIC | lockFlags, &result);
    if (h == RTS_INVALID_HANDLE) SysMemFreeData(owner, memory);
    return report(pResult, result, h);
}

RTS_HANDLE create_static(RTS_SIZE blockSize, RTS_SIZE memSize, void* memory, RTS_UI32 lockFlags,
                         RTS_RESULT* pResult) {
    if (memory == nullptr || memSize == 0 || blockSize == 0)
        return report(pResult, RES_PARAMETER, RTS_INVALID_HANDLE);
    return create_in(memory, memSize, blockSize, MEM_POOL_STATIC | lockFlags, pResult);
}

/* Where an extension area's first block header lies. */
RTS_UINTPTR first_block_of(const MemPoolArea* area) {
    return round_up(reinterpret_cast<RTS_UINTPTR>(area) + sizeof(MemPoolArea), kHeaderAlignment);
}

/* A pool may grow unless its newest area is a static extension (callers hold the lock). */
bool growable(const PoolControlBlock* p) {
    return p->Areas == nullptr || (p->Areas->Flags & MEM_POOL_AREA_HEAP) != 0;
}

/* The pool behind a handle if it may grow now, else null. */
PoolControlBlock* extendable(RTS_HANDLE hPool) {
    PoolControlBlock* p = pool_of(hPool);
    if (p == nullptr) return nullptr;
    PoolGuard guard(p);
    return growable(p) ? p : nullptr;
}

/* Puts an extension area with count blocks in front of the free list and the area list, in one
 * locked step with the check that the pool may still grow (another thread may have added a
 * static extension since extendable() said yes); false, with nothing changed, when it may not. */
bool add_area(PoolControlBlock* p, MemPoolArea* area, RTS_UI32 areaFlags, RTS_SIZE count) {
    PoolGuard guard(p);
    if (!growable(p)) return false;
    area->Flags = areaFlags;
    area->BlockCount = static_cast<RTS_UI32>(count);
    p->FreeHead = chain_blocks(p, first_block_of(area), count, p->FreeHead);
    area->Next = p->Areas;
    p->Areas = area;
    return true;
}

bool area_holds(const PoolControlBlock* p, const MemPoolArea* area, const MemPoolBlockHeader* h) {
    const RTS_UINTPTR first = first_block_of(area);
    const auto at = reinterpret_cast<RTS_UINTPTR>(h);
    return at >= first && at < first + area->BlockCount * (p->BlockSize + MEM_POOL_BLOCK_HEADER_SIZE);
}

void report_leak(const PoolControlBlock* p, const char* owner, MemPoolBlockHeader* h) {
    LogAdd(nullptr, CMPID_CmpMemPool, LOG_DEBUG, 1, 0,
           "**** Pool leak: Cmp=%s, hPool=0x%x, pBlock=0x%x, Size=%ld", text(owner), short_address(p),
           short_address(data_of(h)), static_cast<long>(p->BlockSize));
}

/* ---- lists (callers hold the pool lock) ---------------------------------------------------- */

void release_data(PoolControlBlock* owner, MemPoolBlockHeader* h) {
    std::memset(data_of(h), kReleasedFill, owner->BlockSize);
}

void push_free(PoolControlBlock* owner, MemPoolBlockHeader* h) {
    release_data(owner, h);
    store(h->Flags, RTS_UI32{0});
    store(h->State, RTS_UI32{kFree});
    store(h->Next, owner->FreeHead);
    owner->FreeHead = h;
}

/* Puts a taken block back onto its own pool's free list, under that pool's lock. */
void give_back(MemPoolBlockHeader* h) {
    PoolControlBlock* owner = owner_of(data_of(h));
    assert(owner != nullptr && "a listed block always belongs to a live pool");
    PoolGuard guard(owner);
    push_free(owner, h);
}

/* A block may be linked into a used list or given back only while it is taken. */
bool linkable(MemPoolBlockHeader* h) {
    return load(h->State) == kTaken;
}

void mark_used(MemPoolBlockHeader* h) {
    store(h->State, RTS_UI32{kListed});
}

void link_head(PoolControlBlock* list, MemPoolBlockHeader* h) {
    mark_used(h);
    store(h->Next, load(list->UsedHead));
    store(list->UsedHead, h);
    if (list->UsedTail == nullptr) list->UsedTail = h;
}

void link_tail(PoolControlBlock* list, MemPoolBlockHeader* h) {
    mark_used(h);
    store(h->Next, static_cast<MemPoolBlockHeader*>(nullptr));
    if (list->UsedTail != nullptr)
        store(list->UsedTail->Next, h);
    else
        store(list->UsedHead, h);
    list->UsedTail = h;
}

bool in_used_list(PoolControlBlock* list, MemPoolBlockHeader* wanted) {
    for (MemPoolBlockHeader* h = load(list->UsedHead); h != nullptr; h = load(h->Next)) {
        if (h == wanted) return true;
    }
    return false;
}

RTS_RESULT link_after(PoolControlBlock* list, MemPoolBlockHeader* prev, MemPoolBlockHeader* h) {
    if (!in_used_list(list, prev)) return RES_PARAMETER;
    mark_used(h);
    store(h->Next, load(prev->Next));
    store(prev->Next, h);
    if (list->UsedTail == prev) list->UsedTail = h;
    return RES_OK;
}

RTS_RESULT unlink_used(PoolControlBlock* list, MemPoolBlockHeader* wanted) {
    MemPoolBlockHeader* prev = nullptr;
    for (MemPoolBlockHeader* h = load(list->UsedHead); h != nullptr; prev = h, h = load(h->Next)) {
        if (h != wanted) continue;
        if (prev != nullptr)
            store(prev->Next, load(h->Next));
        else
            store(list->UsedHead, load(h->Next));
        if (list->UsedTail == h) list->UsedTail = prev;
        std::atomic_ref<RTS_UI32>(h->Flags).fetch_and(~MEM_POOL_BLOCK_RELEASE_PENDING);
        store(h->State, RTS_UI32{kTaken});
        return RES_OK;
    }
    return RES_PARAMETER;
}

enum class LinkKind { Head, Tail };

RTS_RESULT link_used(void* pBlock, RTS_HANDLE hPool, LinkKind kind) {
    PoolControlBlock* list = list_pool(pBlock, hPool);
    if (list == nullptr || owner_of(pBlock) == nullptr) return RES_PARAMETER;
    MemPoolBlockHeader* h = header_of(pBlock);
    PoolGuard guard(list);
    if (!linkable(h)) return RES_PARAMETER;
    if (kind == LinkKind::Head)
        link_head(list, h);
    else
        link_tail(list, h);
    return RES_OK;
}

RTS_RESULT remove_lf(PoolControlBlock* list, MemPoolBlockHeader* h) {
    PoolGuard guard(list);
    if (load(list->ReaderCount) < 1) return unlink_used(list, h);
    std::atomic_ref<RTS_UI32>(h->Flags).fetch_or(MEM_POOL_BLOCK_RELEASE_PENDING);
    return RES_PENDING;
}

/* ---- hashed-block tables ------------------------------------------------------------------ */

MemPoolHashTable* table_of(RTS_HANDLE hTable) {
    PoolControlBlock* tables = pool_of(g_tablePool);
    if (!valid_handle(hTable) || tables == nullptr || owner_of(hTable) != tables) return nullptr;
    if (load(header_of(hTable)->State) == kFree) return nullptr;
    auto* t = static_cast<MemPoolHashTable*>(hTable);
    return t->Table.bucketCount != 0 ? t : nullptr;
}

RTS_UI32 next_key(MemPoolHashTable* t) {
    RTS_UI32 key;
    do {
        key = static_cast<RTS_UI32>(SysCpuAtomicAdd(reinterpret_cast<RTS_I32*>(&t->KeyCounter), 1, nullptr));
    } while (key == MEM_POOL_NO_KEY);
    return key;
}

void* hashed_block(MemPoolHashTable* t, RTS_SIZE extendCount, RTS_RESULT* pResult) {
    void* block = MemPoolGetBlock(t->Pool, pResult);
    if (block != nullptr || extendCount == 0) return block;
    const RTS_RESULT extended = MemPoolExtendDynamic(t->Pool, t->Table.owner, extendCount);
    if (extended != RES_OK) return report(pResult, extended, static_cast<void*>(nullptr));
    return MemPoolGetBlock(t->Pool, pResult);
}

/* ---- the component ------------------------------------------------------------------------ */

const CMExportEntry kExports[] = {
    CM_EXPORT(MemPoolCreate),
    CM_EXPORT(MemPoolCreateStatic),
    CM_EXPORT(MemPoolCreateDynamic),
    CM_EXPORT(MemPoolExtendDynamic),
    CM_EXPORT(MemPoolExtendStatic),
    CM_EXPORT(MemPoolCreateSyncObject),
    CM_EXPORT(MemPoolDeleteSyncObject),
    CM_EXPORT(MemPoolDelete),
    CM_EXPORT(MemPoolCleanup),
    CM_EXPORT(MemPoolGetPCB),
    CM_EXPORT(MemPoolGetBlock),
    CM_EXPORT(MemPoolGetBlock2),
    CM_EXPORT(MemPoolPutBlock),
    CM_EXPORT(MemPoolAddUsedBlock),
    CM_EXPORT(MemPoolAppendUsedBlock),
    CM_EXPORT(MemPoolInsertUsedBlock),
    CM_EXPORT(MemPoolRemoveUsedBlock),
    CM_EXPORT(MemPoolAddUsedBlockToPool),
    CM_EXPORT(MemPoolAppendUsedBlockToPool),
    CM_EXPORT(MemPoolInsertUsedBlockToPool),
    CM_EXPORT(MemPoolRemoveUsedBlockFromPool),
    CM_EXPORT(MemPoolGetFirstBlock),
    CM_EXPORT(MemPoolGetNextBlock),
    CM_EXPORT(MemPoolFindBlock),
    CM_EXPORT(MemPoolIsValidBlock),
    CM_EXPORT(MemPoolReleaseBlocks),
    CM_EXPORT(MemPoolLock),
    CM_EXPORT(MemPoolUnlock),
    CM_EXPORT(MemPoolLockBlock),
    CM_EXPORT(MemPoolUnlockBlock),
    CM_EXPORT(MemPoolAddRef_LF),
    CM_EXPORT(MemPoolReleaseRef_LF),
    CM_EXPORT(MemPoolLock_LF),
    CM_EXPORT(MemPoolUnlock_LF),
    CM_EXPORT(MemPoolIsValidBlock_LF),
    CM_EXPORT(MemPoolRemoveUsedBlock_LF),
    CM_EXPORT(MemPoolRemoveUsedBlockFromPool_LF),
    CM_EXPORT(MemPoolPutBlock_LF),
    CM_EXPORT(MemPoolLockTraceRegister),
    CM_EXPORT(MemPoolCreateHashTable),
    CM_EXPORT(MemPoolCreateHashTable2),
    CM_EXPORT(MemPoolDeleteHashTable),
    CM_EXPORT(MemPoolGetBlockHashed),
    CM_EXPORT(MemPoolGetBlockHashed2),
    CM_EXPORT(MemPoolGetBlockByHash),
    CM_EXPORT(MemPoolRemoveBlockHashed),
    {nullptr, nullptr, 0, 0},
};
RTS_RESULT export_functions() {
    return CMRegisterAPI(kExports, 0, 0, CMPID_CmpMemPool);
}

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) {
    switch (hook) {
        case CH_INIT_SYSTEM:
            import_optional_services();
            g_initialised.store(true);
            if (g_tablePool == RTS_INVALID_HANDLE)
                g_tablePool =
                    MemPoolCreateStatic(sizeof(MemPoolHashTable), kTableAreaSize, g_tableArea, nullptr);
            break;
        case CH_EXIT3:
            trace_end();
            break;
        case CH_EXIT:
            MemPoolDelete(g_tablePool, kOwner);
            g_tablePool = RTS_INVALID_HANDLE;
            break;
        case CH_EXIT_SYSTEM:
            g_initialised.store(false);
            forget_optional_services();
            break;
        default:
            break;
    }
    return RES_OK;
}

} // namespace

extern "C" RTS_RESULT CmpMemPool__Entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(pInit, CMPID_CmpMemPool, export_functions, nullptr, CMComponentVersion,
                            hook_function);
}

/* ---- creating and deleting ---------------------------------------------------------------- */

extern "C" RTS_HANDLE MemPoolCreate(const MemPoolCreateInfo* pInfo, RTS_RESULT* pResult) {
    if (pInfo == nullptr) return report(pResult, RES_PARAMETER, RTS_INVALID_HANDLE);
    const RTS_UI32 kind = pInfo->Flags & kKindFlags;
    const RTS_UI32 lockFlags = pInfo->Flags & kLockFlags;
    RTS_HANDLE h = RTS_INVALID_HANDLE;
    if (kind == MEM_POOL_STATIC) {
        h = create_static(pInfo->BlockSizeOrOwner, pInfo->MemSizeOrCount,
                          reinterpret_cast<void*>(pInfo->MemoryOrBlockSize), lockFlags, pResult);
    } else if (kind == MEM_POOL_DYNAMIC) {
        h = create_dynamic(reinterpret_cast<const char*>(pInfo->BlockSizeOrOwner), pInfo->MemSizeOrCount,
                           pInfo->MemoryOrBlockSize, lockFlags, pResult);
    } else {
        return report(pResult, RES_PARAMETER, RTS_INVALID_HANDLE);
    }
    if (h != RTS_INVALID_HANDLE) static_cast<PoolControlBlock*>(h)->Release = pInfo->Release;
    return h;
}

extern "C" RTS_HANDLE MemPoolCreateStatic(RTS_SIZE blockSize, RTS_SIZE memSize, void* pMemory,
                                          RTS_RESULT* pResult) {
    return create_static(blockSize, memSize, pMemory, 0, pResult);
}

extern "C" RTS_HANDLE MemPoolCreateDynamic(const char* owner, RTS_SIZE count, RTS_SIZE blockSize,
                                           RTS_RESULT* pResult) {
    return create_dynamic(owner, count, blockSize, 0, pResult);
}

extern "C" RTS_RESULT MemPoolExtendDynamic(RTS_HANDLE hPool, const char* owner, RTS_SIZE count) {
    if (count == 0 || owner == nullptr) return RES_PARAMETER;
    PoolControlBlock* p = extendable(hPool);
    if (p == nullptr) return RES_INVALID_HANDLE;
    const RTS_SIZE stride = p->BlockSize + MEM_POOL_BLOCK_HEADER_SIZE;
    if (count > (~RTS_SIZE{0} - kExtensionOverhead) / stride || count > kMaxAreaBlocks) return RES_NOMEMORY;
    void* memory = SysMemAllocData(owner, stride * count + kExtensionOverhead, nullptr);
    if (memory == nullptr) return RES_NOMEMORY;
    if (add_area(p, static_cast<MemPoolArea*>(memory), MEM_POOL_AREA_HEAP, count)) return RES_OK;
    SysMemFreeData(owner, memory);
    return RES_INVALID_HANDLE;
}

extern "C" RTS_RESULT MemPoolExtendStatic(RTS_HANDLE hPool, RTS_SIZE memSize, void* pMemory) {
    if (memSize == 0 || pMemory == nullptr) return RES_PARAMETER;
    PoolControlBlock* p = extendable(hPool);
    if (p == nullptr) return RES_INVALID_HANDLE;
    /* Counted as if a control block came first; the blocks start right after the area header,
     * so they always fit. */
    const auto start = reinterpret_cast<RTS_UINTPTR>(pMemory);
    const RTS_UINTPTR end = start + memSize;
    const RTS_UINTPTR first =
        round_up(round_up(start, kCountedControlAlignment) + MEM_POOL_CONTROL_BLOCK_SIZE, kHeaderAlignment);
    const RTS_SIZE count =
        end > start && first <= end ? (end - first) / (p->BlockSize + MEM_POOL_BLOCK_HEADER_SIZE) : 0;
    if (count == 0 || count > kMaxAreaBlocks) return RES_NOMEMORY;
    const RTS_UINTPTR areaStart = round_up(start, alignof(MemPoolArea));
    return add_area(p, reinterpret_cast<MemPoolArea*>(areaStart), 0, count) ? RES_OK : RES_INVALID_HANDLE;
}

extern "C" RTS_RESULT MemPoolCreateSyncObject(RTS_HANDLE hPool) {
    PoolControlBlock* p = pool_of(hPool);
    if (p == nullptr) return RES_PARAMETER;
    if (!g_initialised.load()) return RES_NOTINITIALIZED;
    if (valid_handle(load(p->Lock)) || (p->Flags & MEM_POOL_NOLOCK) != 0) return RES_OK;
    RTS_RESULT result = RES_OK;
    RTS_HANDLE lock = SysSemCreate(&result);
    if (!valid_handle(lock)) return result != RES_OK ? result : RES_NOMEMORY;
    store(p->Lock, lock);
    return RES_OK;
}

extern "C" RTS_RESULT MemPoolDeleteSyncObject(RTS_HANDLE hPool) {
    PoolControlBlock* p = pool_of(hPool);
    if (p == nullptr) return RES_PARAMETER;
    const RTS_HANDLE lock = load(p->Lock);
    if (valid_handle(lock)) {
        store(p->Lock, RTS_INVALID_HANDLE);
        SysSemDelete(lock);
    } else {
        store(p->Lock, static_cast<RTS_HANDLE>(nullptr));
    }
    return RES_OK;
}

extern "C" RTS_RESULT MemPoolDelete(RTS_HANDLE hPool, const char* owner) {
    PoolControlBlock* p = pool_of(hPool);
    if (p == nullptr) return RES_INVALID_HANDLE;
    if (g_trace.pool.load() == p) trace_end();
    for (MemPoolBlockHeader* h = load(p->UsedHead); h != nullptr; h = load(h->Next)) report_leak(p, owner, h);
    for (MemPoolArea* area = p->Areas; area != nullptr;) {
        MemPoolArea* next = area->Next;
        if ((area->Flags & MEM_POOL_AREA_HEAP) != 0) SysMemFreeData(owner, area);
        area = next;
    }
    p->Areas = nullptr;
    MemPoolDeleteSyncObject(p);
    store(p->BlockSize, RTS_UI64{0});
    if ((p->Flags & MEM_POOL_DYNAMIC) != 0) SysMemFreeData(owner, p);
    return RES_OK;
}

extern "C" RTS_RESULT MemPoolCleanup(RTS_HANDLE hPool, const char* owner, int deleteLock) {
    PoolControlBlock* p = pool_of(hPool);
    if (p == nullptr) return RES_INVALID_HANDLE;
    {
        PoolGuard guard(p);
        for (MemPoolArea* area = p->Areas; area != nullptr;) {
            MemPoolArea* next = area->Next;
            if ((area->Flags & MEM_POOL_AREA_HEAP) != 0) {
                for (MemPoolBlockHeader* h = load(p->UsedHead); h != nullptr;) {
                    MemPoolBlockHeader* after = load(h->Next);
                    if (area_holds(p, area, h)) {
                        report_leak(p, owner, h);
                        unlink_used(p, h);
                    }
                    h = after;
                }
                SysMemFreeData(owner, area);
            }
            area = next;
        }
        p->Areas = nullptr;
        p->FreeHead = nullptr;
    }
    if (deleteLock) MemPoolDeleteSyncObject(p);
    return RES_OK;
}

extern "C" PoolControlBlock* MemPoolGetPCB(RTS_HANDLE hPool, RTS_RESULT* pResult) {
    PoolControlBlock* p = pool_of(hPool);
    return report(pResult, p != nullptr ? RES_OK : RES_PARAMETER, p);
}

/* ---- blocks and lists --------------------------------------------------------------------- */

extern "C" void* MemPoolGetBlock(RTS_HANDLE hPool, RTS_RESULT* pResult) {
    PoolControlBlock* p = pool_of(hPool);
    if (p == nullptr) return report(pResult, RES_INVALID_HANDLE, static_cast<void*>(nullptr));
    MemPoolBlockHeader* h = nullptr;
    {
        PoolGuard guard(p);
        h = p->FreeHead;
        if (h != nullptr) {
            p->FreeHead = load(h->Next);
            store(h->Next, static_cast<MemPoolBlockHeader*>(nullptr));
            store(h->Pool, static_cast<void*>(p));
            store(h->Flags, RTS_UI32{0});
            store(h->State, RTS_UI32{kTaken});
        }
    }
    if (h == nullptr) return report(pResult, RES_INVALID_HANDLE, static_cast<void*>(nullptr));
    std::memset(data_of(h), 0, p->BlockSize);
    return report(pResult, RES_OK, data_of(h));
}

extern "C" void* MemPoolGetBlock2(RTS_HANDLE hPool, int extend, const char* owner, RTS_RESULT* pResult) {
    void* block = MemPoolGetBlock(hPool, pResult);
    if (block != nullptr || !extend || pool_of(hPool) == nullptr) return block;
    if (MemPoolExtendDynamic(hPool, owner, 1) == RES_OK) block = MemPoolGetBlock(hPool, pResult);
    return block != nullptr ? block : report(pResult, RES_NOMEMORY, static_cast<void*>(nullptr));
}

extern "C" RTS_RESULT MemPoolPutBlock(void* pBlock) {
    PoolControlBlock* p = owner_of(pBlock);
    if (p == nullptr) return RES_PARAMETER;
    MemPoolBlockHeader* h = header_of(pBlock);
    PoolGuard guard(p);
    if (!linkable(h)) return RES_PARAMETER;
    push_free(p, h);
    return RES_OK;
}

extern "C" RTS_RESULT MemPoolAddUsedBlock(void* pBlock) {
    return link_used(pBlock, RTS_INVALID_HANDLE, LinkKind::Head);
}
extern "C" RTS_RESULT MemPoolAppendUsedBlock(void* pBlock) {
    return link_used(pBlock, RTS_INVALID_HANDLE, LinkKind::Tail);
}
extern "C" RTS_RESULT MemPoolInsertUsedBlock(void* pPrevBlock, void* pBlock) {
    return MemPoolInsertUsedBlockToPool(pPrevBlock, pBlock, RTS_INVALID_HANDLE);
}
extern "C" RTS_RESULT MemPoolRemoveUsedBlock(void* pBlock) {
    return MemPoolRemoveUsedBlockFromPool(pBlock, RTS_INVALID_HANDLE);
}
extern "C" RTS_RESULT MemPoolAddUsedBlockToPool(void* pBlock, RTS_HANDLE hPool) {
    return link_used(pBlock, hPool, LinkKind::Head);
}
extern "C" RTS_RESULT MemPoolAppendUsedBlockToPool(void* pBlock, RTS_HANDLE hPool) {
    return link_used(pBlock, hPool, LinkKind::Tail);
}

extern "C" RTS_RESULT MemPoolInsertUsedBlockToPool(void* pPrevBlock, void* pBlock, RTS_HANDLE hPool) {
    if (pPrevBlock == nullptr) return link_used(pBlock, hPool, LinkKind::Head);
    PoolControlBlock* list = list_pool(pBlock, hPool);
    PoolControlBlock* owner = owner_of(pBlock);
    if (list == nullptr || owner == nullptr || owner_of(pPrevBlock) != owner) return RES_PARAMETER;
    MemPoolBlockHeader* h = header_of(pBlock);
    PoolGuard guard(list);
    if (!linkable(h)) return RES_PARAMETER;
    return link_after(list, header_of(pPrevBlock), h);
}

extern "C" RTS_RESULT MemPoolRemoveUsedBlockFromPool(void* pBlock, RTS_HANDLE hPool) {
    PoolControlBlock* list = list_pool(pBlock, hPool);
    if (list == nullptr || pBlock == nullptr) return RES_PARAMETER;
    PoolGuard guard(list);
    return unlink_used(list, header_of(pBlock));
}

extern "C" void* MemPoolGetFirstBlock(RTS_HANDLE hPool, RTS_RESULT* pResult) {
    PoolControlBlock* p = pool_of(hPool);
    if (p == nullptr) return report(pResult, RES_PARAMETER, static_cast<void*>(nullptr));
    PoolGuard guard(p);
    MemPoolBlockHeader* h = load(p->UsedHead);
    if (h == nullptr) return report(pResult, RES_NO_OBJECT, static_cast<void*>(nullptr));
    return report(pResult, RES_OK, data_of(h));
}

extern "C" void* MemPoolGetNextBlock(RTS_HANDLE hPool, void* pBlock, RTS_RESULT* pResult) {
    PoolControlBlock* p = pool_of(hPool);
    if (p == nullptr || pBlock == nullptr) return report(pResult, RES_PARAMETER, static_cast<void*>(nullptr));
    PoolGuard guard(p);
    MemPoolBlockHeader* next = load(header_of(pBlock)->Next);
    return report(pResult, RES_OK, next != nullptr ? data_of(next) : nullptr);
}

extern "C" void* MemPoolFindBlock(RTS_HANDLE hPool, RTS_SIZE offset, RTS_SIZE size, const void* pData,
                                  RTS_RESULT* pResult) {
    PoolControlBlock* p = pool_of(hPool);
    if (p == nullptr || pData == nullptr || offset > p->BlockSize || size > p->BlockSize - offset)
        return report(pResult, RES_PARAMETER, static_cast<void*>(nullptr));
    PoolGuard guard(p);
    for (MemPoolBlockHeader* h = load(p->UsedHead); h != nullptr; h = load(h->Next)) {
        if (std::memcmp(static_cast<unsigned char*>(data_of(h)) + offset, pData, size) == 0)
            return report(pResult, RES_OK, data_of(h));
    }
    return report(pResult, RES_PARAMETER, static_cast<void*>(nullptr));
}

extern "C" RTS_RESULT MemPoolIsValidBlock(RTS_HANDLE hPool, void* pBlock) {
    PoolControlBlock* p = pool_of(hPool);
    if (p == nullptr || pBlock == nullptr) return RES_PARAMETER;
    const bool locked = MemPoolLock(p) == RES_OK;
    if (in_used_list(p, header_of(pBlock))) return RES_OK;
    if (locked) MemPoolUnlock(p);
    return RES_FAILED;
}

extern "C" RTS_RESULT MemPoolReleaseBlocks(RTS_HANDLE hPool, int onlyPending, void* pParam) {
    if (!g_initialised.load()) return RES_NOTINITIALIZED;
    PoolControlBlock* p = pool_of(hPool);
    if (p == nullptr) return RES_PARAMETER;
    RTS_RESULT result = RES_OK;
    MemPoolBlockHeader* released = nullptr; /* unlinked blocks, chained through Next */
    {
        PoolGuard guard(p);
        if (load(p->ReaderCount) != 0 || load(p->UsedHead) == nullptr) return RES_PENDING;
        for (MemPoolBlockHeader* h = load(p->UsedHead); h != nullptr;) {
            MemPoolBlockHeader* next = load(h->Next);
            if (!onlyPending || (load(h->Flags) & MEM_POOL_BLOCK_RELEASE_PENDING) != 0) {
                const RTS_RESULT removed = remove_lf(p, h);
                if (removed == RES_OK) {
                    if (p->Release != nullptr) p->Release(data_of(h), pParam);
                    store(h->Next, released);
                    released = h;
                } else if (result == RES_OK) {
                    result = removed;
                }
            }
            h = next;
        }
    }
    /* A block may belong to another pool than the list's: it goes back under its own pool's
     * lock, taken after the list's is left, so that no thread ever holds two pool locks. */
    while (released != nullptr) {
        MemPoolBlockHeader* next = load(released->Next);
        give_back(released);
        released = next;
    }
    return result;
}

/* ---- locking ------------------------------------------------------------------------------ */

extern "C" RTS_RESULT MemPoolLock(RTS_HANDLE hPool) {
    if (!g_initialised.load(std::memory_order_relaxed)) return RES_NOTINITIALIZED;
    PoolControlBlock* p = pool_of(hPool);
    if (p == nullptr) return RES_PARAMETER;
    const RTS_HANDLE lock = load(p->Lock);
    if (!valid_handle(lock)) return RES_NOTIMPLEMENTED;
    trace_step(p, TraceStep::BeforeEnter);
    const RTS_RESULT result = SysSemEnter(lock);
    trace_step(p, TraceStep::AfterEnter);
    return result;
}

extern "C" RTS_RESULT MemPoolUnlock(RTS_HANDLE hPool) {
    if (!g_initialised.load(std::memory_order_relaxed)) return RES_NOTINITIALIZED;
    PoolControlBlock* p = pool_of(hPool);
    if (p == nullptr) return RES_PARAMETER;
    const RTS_HANDLE lock = load(p->Lock);
    if (!valid_handle(lock)) return RES_NOTIMPLEMENTED;
    trace_step(p, TraceStep::BeforeLeave);
    return SysSemLeave(lock);
}

extern "C" RTS_RESULT MemPoolLockBlock(void* pBlock) {
    PoolControlBlock* p = owner_of(pBlock);
    return p != nullptr ? MemPoolLock(p) : RES_PARAMETER;
}

extern "C" RTS_RESULT MemPoolUnlockBlock(void* pBlock) {
    PoolControlBlock* p = owner_of(pBlock);
    return p != nullptr ? MemPoolUnlock(p) : RES_PARAMETER;
}

extern "C" RTS_RESULT MemPoolAddRef_LF(RTS_HANDLE hPool) {
    PoolControlBlock* p = pool_of(hPool);
    if (p == nullptr) return RES_PARAMETER;
    PoolGuard guard(p);
    SysCpuAtomicAdd(&p->ReaderCount, 1, nullptr);
    return RES_OK;
}

extern "C" RTS_RESULT MemPoolReleaseRef_LF(RTS_HANDLE hPool) {
    PoolControlBlock* p = pool_of(hPool);
    if (p == nullptr) return RES_PARAMETER;
    std::atomic_ref<RTS_I32> count(p->ReaderCount);
    RTS_I32 now = count.load();
    do {
        if (now <= 0) return RES_FAILED; /* more releases than references */
    } while (!count.compare_exchange_weak(now, now - 1));
    return RES_OK;
}

extern "C" RTS_RESULT MemPoolLock_LF(RTS_HANDLE hPool) {
    const RTS_RESULT result = MemPoolLock(hPool);
    if (result == RES_OK && load(static_cast<PoolControlBlock*>(hPool)->ReaderCount) > 0) return RES_BUSY;
    return result;
}

extern "C" RTS_RESULT MemPoolUnlock_LF(RTS_HANDLE hPool) {
    return MemPoolUnlock(hPool);
}

extern "C" RTS_RESULT MemPoolIsValidBlock_LF(RTS_HANDLE hPool, void* pBlock) {
    PoolControlBlock* p = pool_of(hPool);
    if (p == nullptr || pBlock == nullptr) return RES_PARAMETER;
    MemPoolAddRef_LF(p);
    const MemPoolBlockHeader* wanted = header_of(pBlock);
    for (MemPoolBlockHeader* h = load(p->UsedHead); h != nullptr; h = load(h->Next)) {
        if (h == wanted && (load(h->Flags) & MEM_POOL_BLOCK_RELEASE_PENDING) == 0) return RES_OK;
    }
    MemPoolReleaseRef_LF(p);
    return RES_PARAMETER;
}

extern "C" RTS_RESULT MemPoolRemoveUsedBlock_LF(void* pBlock) {
    return MemPoolRemoveUsedBlockFromPool_LF(pBlock, RTS_INVALID_HANDLE);
}

extern "C" RTS_RESULT MemPoolRemoveUsedBlockFromPool_LF(void* pBlock, RTS_HANDLE hPool) {
    PoolControlBlock* list = list_pool(pBlock, hPool);
    if (list == nullptr || pBlock == nullptr) return RES_PARAMETER;
    return remove_lf(list, header_of(pBlock));
}

extern "C" RTS_RESULT MemPoolPutBlock_LF(void* pBlock, void* pParam) {
    PoolControlBlock* p = owner_of(pBlock);
    if (p == nullptr || !linkable(header_of(pBlock))) return RES_PARAMETER;
    if (p->Release != nullptr) p->Release(pBlock, pParam);
    return MemPoolPutBlock(pBlock);
}

extern "C" RTS_RESULT MemPoolLockTraceRegister(RTS_HANDLE hPool, const char* poolName) {
    auto packetCreate = imported<PF_TRACEMGR_PACKET_CREATE, import_index("TraceMgrPacketCreate")>();
    auto packetDelete = imported<PF_TRACEMGR_PACKET_DELETE, import_index("TraceMgrPacketDelete")>();
    if (packetCreate == nullptr ||
        imported<PF_SYSTASK_GET_CURRENT, import_index("SysTaskGetCurrent")>() == nullptr)
        return RES_NOTSUPPORTED;
    PoolControlBlock* p = pool_of(hPool);
    if (p == nullptr || poolName == nullptr) return RES_PARAMETER;
    PoolControlBlock* registered = g_trace.pool.load();
    if (registered != nullptr) return registered == p ? RES_OK : RES_ALREADY;

    RTS_I32 enable = 0;
    RTS_I32 maxLockMs = 0;
    char configured[kTraceNameSize] = "";
    RTS_I32 length = static_cast<RTS_I32>(sizeof configured);
    SettgGetIntValue(kOwner, "MemPoolLockTrace.Enable", &enable, 0, 0);
    SettgGetStringValue(kOwner, "MemPoolLockTrace.MemPoolName", configured, &length, "", 0);
    SettgGetIntValue(kOwner, "MemPoolLockTrace.MaxLockTimeMs", &maxLockMs, 0, 0);
    if (enable == 0 || std::strcmp(configured, poolName) != 0) return RES_ALREADY;

    char packetName[kTraceNameSize + 16];
    CMUtlsnprintf(packetName, sizeof packetName, "MemPoolLock: %s", poolName);
    RTS_HANDLE packet = packetCreate(packetName, kTraceBufferSize, kTracePacketFlags, nullptr);
    if (!valid_handle(packet)) return RES_FAILED;
    auto* threads =
        static_cast<TraceThread*>(SysMemAllocData(kOwner, sizeof(TraceThread) * kTraceThreads, nullptr));
    auto* records =
        static_cast<RTS_HANDLE*>(SysMemAllocData(kOwner, sizeof(RTS_HANDLE) * kTraceThreads, nullptr));
    if (threads == nullptr || records == nullptr) {
        if (threads != nullptr) SysMemFreeData(kOwner, threads);
        if (records != nullptr) SysMemFreeData(kOwner, records);
        if (packetDelete != nullptr) packetDelete(packet);
        return RES_NOMEMORY;
    }
    for (int i = 0; i < kTraceThreads; ++i) threads[i].task = RTS_INVALID_HANDLE;
    {
        std::lock_guard<std::mutex> guard(g_trace.mutex);
        g_trace.packet = packet;
        g_trace.threads = threads;
        g_trace.records = records;
        g_trace.maxLockMs = static_cast<RTS_UI32>(maxLockMs);
    }
    g_trace.pool.store(p);
    return RES_OK;
}

/* ---- hashed blocks ------------------------------------------------------------------------ */

extern "C" RTS_HANDLE MemPoolCreateHashTable(RTS_HANDLE hPool, RTS_SIZE bucketCount, const char* owner,
                                             RTS_RESULT* pResult) {
    return MemPoolCreateHashTable2(hPool, bucketCount, nullptr, owner, pResult);
}

extern "C" RTS_HANDLE MemPoolCreateHashTable2(RTS_HANDLE hPool, RTS_SIZE bucketCount, void* pBuckets,
                                              const char* owner, RTS_RESULT* pResult) {
    if (pool_of(hPool) == nullptr || owner == nullptr || bucketCount == 0)
        return report(pResult, RES_PARAMETER, RTS_INVALID_HANDLE);
    auto* t = static_cast<MemPoolHashTable*>(MemPoolGetBlock2(g_tablePool, 1, kOwner, nullptr));
    if (t == nullptr) return report(pResult, RES_NOMEMORY, RTS_INVALID_HANDLE);
    const RTS_RESULT result =
        CMUtlHashCreate2(&t->Table, bucketCount, static_cast<CMUtlHashEntry**>(pBuckets), owner);
    if (result != RES_OK) {
        MemPoolPutBlock(t);
        return report(pResult, result, RTS_INVALID_HANDLE);
    }
    t->Pool = hPool;
    return report(pResult, RES_OK, static_cast<RTS_HANDLE>(t));
}

/* The table's block goes back to the table pool, so a deleted handle is refused afterwards. */
extern "C" RTS_RESULT MemPoolDeleteHashTable(RTS_HANDLE hTable) {
    MemPoolHashTable* t = table_of(hTable);
    if (t == nullptr) return RES_PARAMETER;
    const RTS_RESULT result = CMUtlHashDelete(&t->Table);
    MemPoolPutBlock(t);
    return result;
}

extern "C" RTS_UI32 MemPoolGetBlockHashed(RTS_HANDLE hTable, RTS_SIZE extendCount, RTS_RESULT* pResult) {
    return MemPoolGetBlockHashed2(hTable, extendCount, MEM_POOL_NO_KEY, pResult);
}

extern "C" RTS_UI32 MemPoolGetBlockHashed2(RTS_HANDLE hTable, RTS_SIZE extendCount, RTS_UI32 keyOffset,
                                           RTS_RESULT* pResult) {
    MemPoolHashTable* t = table_of(hTable);
    PoolControlBlock* p = t != nullptr ? pool_of(t->Pool) : nullptr;
    if (p == nullptr) return report(pResult, RES_PARAMETER, MEM_POOL_NO_KEY);
    if (keyOffset != MEM_POOL_NO_KEY &&
        (keyOffset > p->BlockSize || p->BlockSize - keyOffset < sizeof(RTS_UI32)))
        return report(pResult, RES_PARAMETER, MEM_POOL_NO_KEY);
    const RTS_UI32 key = next_key(t);
    auto* block = static_cast<unsigned char*>(hashed_block(t, extendCount, pResult));
    if (block == nullptr) return MEM_POOL_NO_KEY;
    RTS_RESULT result;
    if (keyOffset != MEM_POOL_NO_KEY) {
        std::memcpy(block + keyOffset, &key, sizeof key);
        result = CMUtlHashInsert2(&t->Table, nullptr, block + keyOffset, sizeof key, 0,
                                  reinterpret_cast<RTS_UINTPTR>(block));
    } else {
        result = CMUtlHashInsert(&t->Table, &key, sizeof key, 1, reinterpret_cast<RTS_UINTPTR>(block));
    }
    if (result != RES_OK) {
        MemPoolPutBlock(block);
        return report(pResult, result, MEM_POOL_NO_KEY);
    }
    return report(pResult, RES_OK, key);
}

extern "C" void* MemPoolGetBlockByHash(RTS_HANDLE hTable, RTS_UI32 key, RTS_RESULT* pResult) {
    MemPoolHashTable* t = table_of(hTable);
    if (t == nullptr) return report(pResult, RES_PARAMETER, static_cast<void*>(nullptr));
    CMLockScope locked(t->Table.lock); /* the entry stays until it is read */
    CMUtlHashEntry* entry = CMUtlHashSearch(&t->Table, &key, sizeof key, pResult);
    return entry != nullptr ? reinterpret_cast<void*>(entry->value) : nullptr;
}

extern "C" RTS_RESULT MemPoolRemoveBlockHashed(RTS_HANDLE hTable, RTS_UI32 key) {
    MemPoolHashTable* t = table_of(hTable);
    if (t == nullptr) return RES_PARAMETER;
    void* block = nullptr;
    {
        CMLockScope locked(t->Table.lock); /* search and removal in one step */
        RTS_RESULT result = RES_OK;
        CMUtlHashEntry* entry = CMUtlHashSearch(&t->Table, &key, sizeof key, &result);
        if (entry == nullptr) return result;
        block = reinterpret_cast<void*>(entry->value);
        result = CMUtlHashRemove(&t->Table, entry);
        if (result != RES_OK) return result;
    }
    return MemPoolRemoveUsedBlock_LF(block);
}
