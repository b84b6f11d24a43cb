/* SysMem: the heap adaptation. The component owns the mapping of every heap, code and area
 * allocation onto the process heap and the platform's pages, the hand-over to the optional
 * memory tracker (imported by name when a "CmpMemGC" component is present), the list of areas
 * it handed out, and the byte-swapping and memory primitives. Heap blocks are zero-filled.
 * Every call into the platform's pages goes through the seam in memory/sysmem_os.h; a failed
 * one is logged once with its operating-system error before it becomes the documented result. */
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "cm/rts_common.h"
#include "cm.h"
#include "cmpsettings.h"
#include "memory/sysmem_os.h"
#include "sysmem.h"
#include "sysshm.h"

using rts::report;

namespace {

/* Runs one platform call; a failure is logged once under SysMem's id and answered with false. */
template <class Fn, class... Args> bool os_call(Fn fn, Args&&... args) {
    return sys_os::call(CMPID_SysMem, nullptr, fn, std::forward<Args>(args)...) == rts::kOsOk;
}

const sysmem_os::Calls& os() {
    return sysmem_os::calls();
}

constexpr const char* kOwner = "SysMem";
constexpr const char* kTrackerName = "CmpMemGC";
constexpr const char* kMarkerName = "MarkerMemory";

/* ---- the optional tracker -----------------------------------------------------------------
 * Once found, a tracker function is kept for the rest of the run (a later import that finds it
 * again replaces it): blocks the tracker handed out must go back through it, also those freed
 * late in the shut-down. */

struct Tracker {
    std::atomic<PF_MEMGC_FIND_ENTRY> findEntry{nullptr};
    std::atomic<PF_MEMGC_GET_CURRENT_HEAP_SIZE> heapSize{nullptr};
    std::atomic<PF_MEMGC_GET_SIZE> getSize{nullptr};
    std::atomic<PF_MEMGC_ADD> add{nullptr};
    std::atomic<PF_MEMGC_REMOVE> remove{nullptr};
};
Tracker g_tracker;

template <class F> void import_one(std::atomic<F>& slot, const char* name) {
    RTS_VOID_FCTPTR function = nullptr;
    if (CMGetAPI2(name, &function, CM_IMPORT_OPTIONAL, 0, 0) == RES_OK && function != nullptr)
        slot.store(reinterpret_cast<F>(function));
}

void import_tracker() {
    import_one(g_tracker.findEntry, "MemGCFindEntry");
    import_one(g_tracker.heapSize, "MemGCGetCurrentHeapSize");
    import_one(g_tracker.getSize, "MemGCGetSize");
    import_one(g_tracker.add, "MemGCAdd");
    import_one(g_tracker.remove, "MemGCRemove");
}

RTS_SIZE tracked_size(RTS_SIZE size) {
    PF_MEMGC_GET_SIZE getSize = g_tracker.getSize.load();
    return getSize != nullptr ? getSize(size) : size;
}

/* What the caller gets for a new block: the tracker's address when it registers blocks. */
void* register_block(const char* owner, void* address, RTS_SIZE size, RTS_RESULT* pResult) {
    *pResult = RES_OK;
    PF_MEMGC_ADD add = g_tracker.add.load();
    return add != nullptr ? add(owner, address, size, pResult) : address;
}

/* The address to release for a handed-out block; null with the tracker's result when there is
 * nothing to release. */
void* unregister_block(const char* owner, void* address, RTS_RESULT* pResult) {
    *pResult = RES_OK;
    PF_MEMGC_REMOVE remove = g_tracker.remove.load();
    return remove != nullptr ? remove(owner, address, pResult) : address;
}

/* ---- code memory and areas ---------------------------------------------------------------- */

/* Code sizes: rounded up to 16, then half as much again. */
constexpr RTS_SIZE kCodeGranule = 16;
RTS_SIZE code_size(RTS_SIZE size) {
    const RTS_SIZE rounded = (size + kCodeGranule - 1) & ~(kCodeGranule - 1);
    return rounded + rounded / 2;
}
/* The largest code or area size whose grown size still fits. */
constexpr RTS_SIZE kLargestPages = ~RTS_SIZE{0} / 2;

struct Area {
    void* address;
    RTS_SIZE size;
    RTS_UI16 kind;
    Area* next;
};

std::mutex g_areaLock;
Area* g_areas = nullptr; /* newest first */

bool enter_area(void* address, RTS_SIZE size, RTS_UI16 kind) {
    auto* area = static_cast<Area*>(std::malloc(sizeof(Area)));
    if (area == nullptr) return false;
    std::lock_guard<std::mutex> guard(g_areaLock);
    *area = Area{address, size, kind, g_areas};
    g_areas = area;
    return true;
}

/* Removes the area entry of an address; false when there is none. */
bool leave_area(void* address) {
    std::lock_guard<std::mutex> guard(g_areaLock);
    for (Area** link = &g_areas; *link != nullptr; link = &(*link)->next) {
        Area* area = *link;
        if (area->address != address) continue;
        *link = area->next;
        std::free(area);
        return true;
    }
    return false;
}

void* marker_memory(RTS_SIZE size) {
    RTS_I32 physical = 0;
    SettgGetIntValue(kOwner, "WinCE.MemoryAddress", &physical, 0, 0);
    if (physical == 0) return nullptr;
    RTS_RESULT result = RES_FAILED;
    RTS_SIZE mapped = size;
    RTS_HANDLE h = SysSharedMemoryOpen(kMarkerName, static_cast<RTS_UINTPTR>(static_cast<RTS_UI32>(physical)),
                                       &mapped, &result);
    if (result != RES_OK) return nullptr;
    return SysSharedMemoryGetPointer(h, nullptr);
}

void* page_area(RTS_SIZE size, bool executable) {
    void* pages = nullptr;
    if (!os_call(os().pages_alloc, size, executable, &pages)) return nullptr;
    if (!enter_area(pages, size, executable ? SYSMEM_AREA_CODE : SYSMEM_AREA_DATA)) {
        os_call(os().pages_free, pages);
        return nullptr;
    }
    os_call(os().pages_lock, pages, size); /* a refused lock is logged, but no error */
    return pages;
}

template <class T> void reverse_elements(unsigned char* buffer, RTS_I32 count) {
    for (RTS_I32 i = 0; i < count; ++i) {
        unsigned char* element = buffer + static_cast<RTS_SIZE>(i) * sizeof(T);
        for (RTS_SIZE a = 0, b = sizeof(T) - 1; a < b; ++a, --b) {
            const unsigned char byte = element[a];
            element[a] = element[b];
            element[b] = byte;
        }
    }
}

/* -1, 0 or 1 as value is negative, zero or positive: the compare wrapper's answer. */
int sign_of(int value) {
    return (value > 0) - (value < 0);
}

const CMExportEntry kExports[] = {
    CM_EXPORT(SysMemAllocData),
    CM_EXPORT(SysMemReallocData),
    CM_EXPORT(SysMemFreeData),
    CM_EXPORT(SysMemAllocCode),
    CM_EXPORT(SysMemFreeCode),
    CM_EXPORT(SysMemAllocArea),
    CM_EXPORT(SysMemFreeArea),
    CM_EXPORT(SysMemIsValidPointer),
    CM_EXPORT(SysMemGetCurrentHeapSize),
    CM_EXPORT(SysMemSwap),
    CM_EXPORT(SysMemForceSwap),
    CM_EXPORT(SysMemMalloc),
    CM_EXPORT(SysMemRealloc),
    CM_EXPORT(SysMemFree),
    CM_EXPORT(sysmemallocarea),
    CM_EXPORT(sysmemalloccode),
    CM_EXPORT(sysmemallocdata),
    CM_EXPORT(sysmemreallocdata),
    CM_EXPORT(sysmemfreearea),
    CM_EXPORT(sysmemfreecode),
    CM_EXPORT(sysmemfreedata),
    CM_EXPORT(sysmemgetcurrentheapsize),
    CM_EXPORT(sysmemisvalidpointer),
    CM_EXPORT(sysmemforceswap),
    CM_EXPORT(sysmemswap),
    CM_EXPORT(sysmemcmp),
    CM_EXPORT(sysmemcpy),
    CM_EXPORT(sysmemmove),
    CM_EXPORT(sysmemset),
    {nullptr, nullptr, 0, 0},
};
RTS_RESULT export_functions() {
    return CMRegisterAPI(kExports, 0, 0, CMPID_SysMem);
}

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) {
    const auto* name = reinterpret_cast<const char*>(param1);
    if (hook == CH_INIT_SYSTEM ||
        (hook == CH_ON_IMPORT && name != nullptr && std::strcmp(name, kTrackerName) == 0))
        import_tracker();
    return RES_OK;
}

} // namespace

extern "C" RTS_RESULT SysMem__Entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(pInit, CMPID_SysMem, export_functions, nullptr, CMComponentVersion,
                            hook_function);
}

/* ---- heap --------------------------------------------------------------------------------- */

extern "C" void* SysMemAllocData(const char* owner, RTS_SIZE size, RTS_RESULT* pResult) {
    if (size == 0) return report(pResult, RES_PARAMETER, static_cast<void*>(nullptr));
    const RTS_SIZE actual = tracked_size(size);
    void* block = std::calloc(1, actual);
    if (block == nullptr) return report(pResult, RES_NOMEMORY, static_cast<void*>(nullptr));
    RTS_RESULT result = RES_OK;
    void* handed = register_block(owner, block, actual, &result);
    if (handed == nullptr) {
        std::free(block);
        return report(pResult, result != RES_OK ? result : RES_NOMEMORY, static_cast<void*>(nullptr));
    }
    return report(pResult, RES_OK, handed);
}

extern "C" void* SysMemReallocData(const char* owner, void* address, RTS_SIZE size, RTS_RESULT* pResult) {
    if (size == 0) return report(pResult, RES_PARAMETER, static_cast<void*>(nullptr));
    RTS_RESULT result = RES_OK;
    void* old = address;
    if (address != nullptr) {
        old = unregister_block(owner, address, &result);
        if (old == nullptr)
            return report(pResult, result != RES_OK ? result : RES_FAILED, static_cast<void*>(nullptr));
    }
    const RTS_SIZE actual = tracked_size(size);
    void* resized = std::realloc(old, actual);
    if (resized == nullptr) {
        /* The old block stays the caller's: back under the tracker (its size is not known here). */
        if (old != nullptr) register_block(owner, old, 0, &result);
        return report(pResult, RES_NOMEMORY, static_cast<void*>(nullptr));
    }
    void* handed = register_block(owner, resized, actual, &result);
    if (handed == nullptr) {
        std::free(resized);
        return report(pResult, result != RES_OK ? result : RES_NOMEMORY, static_cast<void*>(nullptr));
    }
    return report(pResult, RES_OK, handed);
}

extern "C" RTS_RESULT SysMemFreeData(const char* owner, void* address) {
    if (address == nullptr) return RES_PARAMETER;
    RTS_RESULT result = RES_OK;
    void* block = unregister_block(owner, address, &result);
    if (block != nullptr && result == RES_OK) std::free(block);
    return result;
}

extern "C" void* SysMemMalloc(RTS_SIZE size) {
    return SysMemAllocData(kOwner, size, nullptr);
}

extern "C" void* SysMemRealloc(void* address, RTS_SIZE size) {
    return SysMemReallocData(kOwner, address, size, nullptr);
}

extern "C" void SysMemFree(void* address) {
    SysMemFreeData(kOwner, address);
}

extern "C" RTS_SIZE SysMemGetCurrentHeapSize(RTS_RESULT* pResult) {
    PF_MEMGC_GET_CURRENT_HEAP_SIZE heapSize = g_tracker.heapSize.load();
    if (heapSize == nullptr) return report(pResult, RES_NOTSUPPORTED, RTS_SIZE{0});
    return heapSize(pResult);
}

/* ---- code and areas ----------------------------------------------------------------------- */

extern "C" void* SysMemAllocCode(const char* owner, RTS_SIZE size, RTS_RESULT* pResult) {
    if (size == 0 || size > kLargestPages) return report(pResult, RES_PARAMETER, static_cast<void*>(nullptr));
    const RTS_SIZE actual = tracked_size(code_size(size));
    void* pages = nullptr;
    if (!os_call(os().pages_alloc, actual, true, &pages))
        return report(pResult, RES_NOMEMORY, static_cast<void*>(nullptr));
    RTS_RESULT result = RES_OK;
    void* handed = register_block(owner, pages, actual, &result);
    if (handed == nullptr) {
        os_call(os().pages_free, pages);
        return report(pResult, RES_NOMEMORY, static_cast<void*>(nullptr));
    }
    os_call(os().pages_lock, pages, actual); /* a refused lock is logged, but no error */
    return report(pResult, RES_OK, handed);
}

extern "C" RTS_RESULT SysMemFreeCode(const char* owner, void* address) {
    if (address == nullptr) return RES_PARAMETER;
    RTS_RESULT result = RES_OK;
    void* pages = unregister_block(owner, address, &result);
    if (pages == nullptr) return result;
    os_call(os().pages_unlock, pages);
    if (!os_call(os().pages_free, pages)) return RES_FAILED;
    return result;
}

extern "C" void* SysMemAllocArea(const char* owner, RTS_UI16 kind, RTS_SIZE size, RTS_RESULT* pResult) {
    void* area = nullptr;
    if (size == 0 || size > kLargestPages) {
        area = nullptr;
    } else if (kind == SYSMEM_AREA_MARKER) {
        area = marker_memory(size);
    } else if ((kind & SYSMEM_AREA_CODE) != 0) {
        area = page_area(code_size(size), true);
    } else if ((kind & SYSMEM_AREA_DATA) != 0) {
        area = page_area(size, false);
    }
    return report(pResult, area != nullptr ? RES_OK : RES_NOMEMORY, area);
}

extern "C" RTS_RESULT SysMemFreeArea(const char* owner, void* address) {
    if (address == nullptr || !leave_area(address)) return RES_FAILED;
    os_call(os().pages_unlock, address);
    os_call(os().pages_free, address);
    return RES_OK;
}

extern "C" RTS_RESULT SysMemIsValidPointer(const void* address, RTS_SIZE size, RTS_I32 write) {
    bool readable = false;
    if (address == nullptr || !os_call(os().readable, address, size != 0 ? size : 1, &readable))
        return RES_FAILED;
    return readable ? RES_OK : RES_FAILED;
}

/* ---- byte order ----------------------------------------------------------------------------- */

/* Data are already in this platform's byte order: nothing to swap. */
extern "C" RTS_I32 SysMemSwap(void*, RTS_I32, RTS_I32) {
    return 0;
}

extern "C" RTS_I32 SysMemForceSwap(void* buffer, RTS_I32 elementSize, RTS_I32 count) {
    if (buffer == nullptr) return -1;
    auto* bytes = static_cast<unsigned char*>(buffer);
    switch (elementSize) {
        case 2:
            reverse_elements<RTS_UI16>(bytes, count);
            break;
        case 4:
            reverse_elements<RTS_UI32>(bytes, count);
            break;
        case 8:
            reverse_elements<RTS_UI64>(bytes, count);
            break;
        default:
            return -1;
    }
    return count > 0 ? elementSize * count : 0;
}

/* ---- lower-case wrappers ------------------------------------------------------------------ */

extern "C" void sysmemallocarea(sysmemallocarea_struct* p) {
    p->result = SysMemAllocArea(p->owner, p->kind, p->size, p->pResult);
}
extern "C" void sysmemalloccode(sysmemalloc_struct* p) {
    p->result = SysMemAllocCode(p->owner, p->size, p->pResult);
}
extern "C" void sysmemallocdata(sysmemalloc_struct* p) {
    p->result = SysMemAllocData(p->owner, p->size, p->pResult);
}
extern "C" void sysmemreallocdata(sysmemreallocdata_struct* p) {
    p->result = SysMemReallocData(p->owner, p->address, p->size, p->pResult);
}
extern "C" void sysmemfreearea(sysmemfree_struct* p) {
    p->result = SysMemFreeArea(p->owner, p->address);
}
extern "C" void sysmemfreecode(sysmemfree_struct* p) {
    p->result = SysMemFreeCode(p->owner, p->address);
}
extern "C" void sysmemfreedata(sysmemfree_struct* p) {
    p->result = SysMemFreeData(p->owner, p->address);
}
extern "C" void sysmemgetcurrentheapsize(sysmemgetcurrentheapsize_struct* p) {
    p->result = SysMemGetCurrentHeapSize(p->pResult);
}
extern "C" void sysmemisvalidpointer(sysmemisvalidpointer_struct* p) {
    p->result = SysMemIsValidPointer(p->address, p->size, p->write);
}
extern "C" void sysmemforceswap(sysmemswap_struct* p) {
    p->result = SysMemForceSwap(p->buffer, p->elementSize, p->count);
}
extern "C" void sysmemswap(sysmemswap_struct* p) {
    p->result = 0;
}
extern "C" void sysmemcmp(sysmemcmp_struct* p) {
    p->result = p->size == 0 ? 0 : sign_of(std::memcmp(p->p1, p->p2, p->size));
}
extern "C" void sysmemcpy(sysmemcpy_struct* p) {
    if (p->size != 0) std::memmove(p->dest, p->source, p->size);
    p->result = p->dest;
}
extern "C" void sysmemmove(sysmemcpy_struct* p) {
    if (p->size != 0) std::memmove(p->dest, p->source, p->size);
    p->result = p->dest;
}
extern "C" void sysmemset(sysmemset_struct* p) {
    if (p->size != 0) std::memset(p->dest, p->value, p->size);
    p->result = p->dest;
}
