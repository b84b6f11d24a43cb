/* SysCpuHandling: atomic operations, stack helpers and parameter-block calls.
 *
 * The bit, add and compare-and-swap operations are the building blocks of lock-free counters
 * elsewhere, so they are sequentially consistent. Naturally aligned addresses go through the
 * standard atomics; misaligned ones still work (x86 locks across cache lines) but are slow, which
 * is worth one warning per kind and process run. */
#include <atomic>
#include <cstring>
#include <string_view>

#include "cm/rts_common.h"
#include "cm.h"
#include "cmplog.h"
#include "sys/syscpu_os.h"
#include "syscpu.h"
#include "sysmem.h"

using rts::set_result;

namespace {

/* Warning flags: each kind of misaligned operation is reported once per run. */
constexpr RTS_UI32 kWarnedCas32 = 0x1;
constexpr RTS_UI32 kWarnedCas64 = 0x2;
constexpr RTS_UI32 kWarnedAdd = 0x4;
constexpr RTS_UI32 kWarnedAdd64 = 0x8;
std::atomic<RTS_UI32> g_warned{0};

/* Optional services of components that are not part of this program. */
constexpr const char* kImportNames[] = {
    "SysRWLWriteUnlock",
    "SysRWLWriteLock",
    "SysRWLReadUnlock",
    "SysRWLReadLock",
    "SysRWLDelete",
    "SysRWLCreate",
    "EventUnregisterCallbackFunction",
    "EventRegisterCallbackFunction",
    "EventClose",
    "EventOpen",
    "SysTaskGetInfo",
    "SysTaskGetNext",
    "SysTaskGetFirst",
    "SysIntDisableAll",
    "SysIntEnableAll",
    "AppGetCurrent",
    "AppGetAreaOffsetByAddress",
    "AppGetApplicationByAreaAddress",
    "AppDebugHandler",
};
constexpr int kImportCount = sizeof kImportNames / sizeof kImportNames[0];
constexpr int import_index(std::string_view name) {
    for (int i = 0; i < kImportCount; ++i) {
        if (name == kImportNames[i]) return i;
    }
    return -1;
}
constexpr int kAppGetApplicationByAreaAddress = import_index("AppGetApplicationByAreaAddress");
static_assert(kAppGetApplicationByAreaAddress >= 0);
RTS_VOID_FCTPTR g_imports[kImportCount] = {};

sys_os::CallTable<syscpu_os::Calls> g_calls;

/* Parameter blocks up to this size are copied into the caller's stack frame; larger ones into a
 * heap block, which behaves the same for the called function. */
constexpr RTS_SIZE kStackAreaSize = 4096;

bool is_aligned(const void* address, RTS_SIZE alignment) {
    return reinterpret_cast<RTS_UINTPTR>(address) % alignment == 0;
}

void warn_misaligned_once(RTS_UI32 flag, const char* format, const void* address) {
    if ((g_warned.fetch_or(flag) & flag) != 0) return;
    LogAdd(nullptr, CMPID_SysCpuHandling, LOG_WARNING, RES_OK, 0, format, address);
}

/* One access of sizeof(T) bytes: atomic when aligned, a plain single copy otherwise. */
template <class T> T load_single(const void* address) {
    if (is_aligned(address, sizeof(T)))
        return std::atomic_ref<T>(*static_cast<T*>(const_cast<void*>(address))).load();
    T value;
    std::memcpy(&value, address, sizeof value);
    return value;
}

template <class T> void store_single(void* address, T value) {
    if (is_aligned(address, sizeof(T))) {
        std::atomic_ref<T>(*static_cast<T*>(address)).store(value);
        return;
    }
    std::memcpy(address, &value, sizeof value);
}

/* Copies one value of type T; the access to the shared side (source or destination) is single. */
template <class T> void copy_value(const void* source, void* dest, bool shared_source) {
    T value;
    if (shared_source) {
        value = load_single<T>(source);
        std::memcpy(dest, &value, sizeof value);
    } else {
        std::memcpy(&value, source, sizeof value);
        store_single<T>(dest, value);
    }
}

RTS_RESULT copy_sized(const void* source, void* dest, RTS_SIZE size, bool shared_source) {
    if (source == nullptr || dest == nullptr) return RES_PARAMETER;
    switch (size) {
        case 1:
            copy_value<RTS_UI8>(source, dest, shared_source);
            return RES_OK;
        case 2:
            copy_value<RTS_UI16>(source, dest, shared_source);
            return RES_OK;
        case 4:
            copy_value<RTS_UI32>(source, dest, shared_source);
            return RES_OK;
        case 8:
            copy_value<RTS_UI64>(source, dest, shared_source);
            return RES_OK;
        default:
            return RES_PARAMETER;
    }
}

bool os_cas(void* address, RTS_UI32 expected, RTS_UI32 desired) {
    return syscpu_os::cas32(address, expected, desired);
}
bool os_cas(void* address, RTS_UI64 expected, RTS_UI64 desired) {
    return syscpu_os::cas64(address, expected, desired);
}

template <class T>
RTS_RESULT compare_and_swap(void* address, const void* pNew, const void* pCompare, RTS_UI32 warn_flag,
                            const char* warning) {
    T desired;
    T expected;
    std::memcpy(&desired, pNew, sizeof desired);
    std::memcpy(&expected, pCompare, sizeof expected);
    bool stored;
    if (is_aligned(address, sizeof(T))) {
        stored = std::atomic_ref<T>(*static_cast<T*>(address)).compare_exchange_strong(expected, desired);
    } else {
        warn_misaligned_once(warn_flag, warning, address);
        stored = os_cas(address, expected, desired);
    }
    return stored ? RES_OK : RES_FAILED;
}

/* Sets or clears one bit; the result tells whether the bit changed. */
template <class T> RTS_RESULT change_bit(T* word, unsigned bit, bool set) {
    std::atomic_ref<T> ref(*word);
    const T mask = static_cast<T>(T{1} << bit);
    const T before = set ? ref.fetch_or(mask) : ref.fetch_and(static_cast<T>(~mask));
    const bool was_set = (before & mask) != 0;
    return was_set != set ? RES_OK : RES_FAILED;
}

RTS_RESULT test_and_change_bit(void* address, RTS_UI32 length, RTS_I32 bit, bool set) {
    if (address == nullptr) return RES_PARAMETER;
    if (length != 1 && length != 2 && length != 4 && length != 8) return RES_PARAMETER;
    if (bit < 0 || static_cast<RTS_UI32>(bit) >= 8 * length) return RES_PARAMETER;
    /* On this little-endian machine bit n of the aligned word holding an address, counted from
     * the address, lives in byte address + n / 8 whatever the alignment, also where it runs on
     * into the next word; changing that byte atomically touches nothing beyond the value. */
    auto* byte = static_cast<RTS_UI8*>(address) + bit / 8;
    return change_bit<RTS_UI8>(byte, static_cast<unsigned>(bit % 8), set);
}

RTS_RESULT test_and_change_word_bit(RTS_UI32* word, RTS_I32 bit, bool set) {
    if (word == nullptr || bit < 0 || bit >= 32) return RES_PARAMETER;
    return change_bit<RTS_UI32>(word, static_cast<unsigned>(bit), set);
}

void import_optional_services() {
    for (int i = 0; i < kImportCount; ++i) {
        g_imports[i] = nullptr;
        CMGetAPI2(kImportNames[i], &g_imports[i], CM_IMPORT_OPTIONAL, 0, 0);
    }
}

const CMExportEntry kExports[] = {
    CM_EXPORT(SysCpuTestAndSet),
    CM_EXPORT(SysCpuTestAndReset),
    CM_EXPORT(SysCpuTestAndSetBit),
    CM_EXPORT(SysCpuTestAndSetBit2),
    CM_EXPORT(SysCpuAtomicAdd),
    CM_EXPORT(SysCpuAtomicAdd64),
    CM_EXPORT(SysCpuAtomicCompareAndSwap),
    CM_EXPORT(SysCpuReadInt64),
    CM_EXPORT(SysCpuWriteInt64),
    CM_EXPORT(SysCpuReadReal64),
    CM_EXPORT(SysCpuWriteReal64),
    CM_EXPORT(SysCpuReadValueAtomic),
    CM_EXPORT(SysCpuWriteValueAtomic),
    CM_EXPORT(SysCpuSetRegisterValue),
    CM_EXPORT(SysCpuGetContext),
    CM_EXPORT(SysCpuGetCallstackEntry),
    CM_EXPORT(SysCpuGetCallstackEntry2),
    CM_EXPORT(SysCpuGetCallstackEntry3),
    CM_EXPORT(SysCpuGetInstancePointer),
    CM_EXPORT(SysCpuSearchOnStack_),
    CM_EXPORT(SysCpuGetBreakpointCode),
    CM_EXPORT(SysCpuFlushInstructionCache),
    CM_EXPORT(SysCpuCallIecFuncWithParams),
    CM_EXPORT(SysCpuGetMonitoringBase),
    CM_EXPORT(syscpuatomicadd),
    CM_EXPORT(syscpuatomicadd64),
    CM_EXPORT(syscpuatomiccompareandswap),
    CM_EXPORT(syscpucalliecfuncwithparams),
    CM_EXPORT(syscputestandreset),
    CM_EXPORT(syscputestandset),
    CM_EXPORT(syscputestandsetbit),
    CM_EXPORT(syscpudebughandler),
    {nullptr, nullptr, 0, 0},
};

RTS_RESULT export_functions() {
    return CMRegisterAPI(kExports, 0, 0, CMPID_SysCpuHandling);
}

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) {
    if (hook == CH_INIT_SYSTEM) import_optional_services();
    if (hook == CH_INIT) g_warned.store(0);
    return RES_OK;
}

} // namespace

namespace syscpu_os {

const Calls& calls() {
    return g_calls.get(platform_calls());
}

void set_calls(const Calls* fake) {
    g_calls.set(fake);
}

} // namespace syscpu_os

extern "C" RTS_RESULT SysCpuHandling__Entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(pInit, CMPID_SysCpuHandling, export_functions, nullptr, CMComponentVersion,
                            hook_function);
}

/* ---- bits ---------------------------------------------------------------------------------- */

extern "C" RTS_RESULT SysCpuTestAndSet(RTS_UI32* pulValue, RTS_I32 iBit) {
    return test_and_change_word_bit(pulValue, iBit, true);
}

extern "C" RTS_RESULT SysCpuTestAndReset(RTS_UI32* pulValue, RTS_I32 iBit) {
    return test_and_change_word_bit(pulValue, iBit, false);
}

extern "C" RTS_RESULT SysCpuTestAndSetBit(void* pAddress, RTS_UI32 nLen, RTS_I32 iBit, RTS_I32 bSet) {
    return test_and_change_bit(pAddress, nLen, iBit, bSet != 0);
}

extern "C" RTS_RESULT SysCpuTestAndSetBit2(void* pAddress, RTS_UI32 nLen, RTS_I32 iBit, RTS_I32 bSet) {
    return test_and_change_bit(pAddress, nLen, iBit, bSet != 0);
}

/* ---- add and compare-and-swap -------------------------------------------------------------- */

extern "C" RTS_I32 SysCpuAtomicAdd(RTS_I32* pValue, RTS_I32 nSum, RTS_RESULT* pResult) {
    if (pValue == nullptr) {
        set_result(pResult, RES_PARAMETER);
        return 0;
    }
    set_result(pResult, RES_OK);
    if (!is_aligned(pValue, sizeof *pValue)) {
        warn_misaligned_once(
            kWarnedAdd, "SysCpuAtomicAdd called with misaligned address 0x%p, possible performance issue",
            pValue);
        return syscpu_os::add32(pValue, nSum);
    }
    const RTS_I32 before = std::atomic_ref<RTS_I32>(*pValue).fetch_add(nSum);
    return static_cast<RTS_I32>(static_cast<RTS_UI32>(before) + static_cast<RTS_UI32>(nSum));
}

extern "C" RTS_I64 SysCpuAtomicAdd64(RTS_I64* pValue, RTS_I64 nSum, RTS_RESULT* pResult) {
    if (pValue == nullptr) {
        set_result(pResult, RES_PARAMETER);
        return 0;
    }
    if (!is_aligned(pValue, sizeof *pValue))
        warn_misaligned_once(
            kWarnedAdd64, "SysCpuAtomicAdd64 called with misaligned address 0x%p, possible performance issue",
            pValue);
    RTS_I64 before;
    RTS_I64 after;
    do {
        before = load_single<RTS_I64>(pValue);
        after = static_cast<RTS_I64>(static_cast<RTS_UI64>(before) + static_cast<RTS_UI64>(nSum));
    } while (SysCpuAtomicCompareAndSwap(pValue, &after, &before, sizeof after) != RES_OK);
    set_result(pResult, RES_OK);
    return after;
}

extern "C" RTS_RESULT SysCpuAtomicCompareAndSwap(void* pAddress, const void* pxNew, const void* pxCompare,
                                                 RTS_SIZE nLen) {
    if (pAddress == nullptr || pxNew == nullptr || pxCompare == nullptr) return RES_PARAMETER;
    if (nLen == 4)
        return compare_and_swap<RTS_UI32>(
            pAddress, pxNew, pxCompare, kWarnedCas32,
            "SysCpuAtomicCompareAndSwap(32) called with misaligned address 0x%p, possible performance issue");
    if (nLen == 8)
        return compare_and_swap<RTS_UI64>(
            pAddress, pxNew, pxCompare, kWarnedCas64,
            "SysCpuAtomicCompareAndSwap(64) called with misaligned address 0x%p, possible performance issue");
    return RES_PARAMETER;
}

/* ---- single accesses ----------------------------------------------------------------------- */

extern "C" RTS_I64 SysCpuReadInt64(const RTS_I64* pAddress, RTS_RESULT* pResult) {
    set_result(pResult, pAddress == nullptr ? RES_PARAMETER : RES_OK);
    return pAddress == nullptr ? 0 : load_single<RTS_I64>(pAddress);
}

extern "C" RTS_RESULT SysCpuWriteInt64(RTS_I64* pAddress, RTS_I64 value) {
    if (pAddress == nullptr) return RES_PARAMETER;
    store_single<RTS_I64>(pAddress, value);
    return RES_OK;
}

extern "C" RTS_REAL64 SysCpuReadReal64(const RTS_REAL64* pAddress, RTS_RESULT* pResult) {
    set_result(pResult, pAddress == nullptr ? RES_PARAMETER : RES_OK);
    return pAddress == nullptr ? 0.0 : load_single<RTS_REAL64>(pAddress);
}

extern "C" RTS_RESULT SysCpuWriteReal64(RTS_REAL64* pAddress, RTS_REAL64 value) {
    if (pAddress == nullptr) return RES_PARAMETER;
    store_single<RTS_REAL64>(pAddress, value);
    return RES_OK;
}

extern "C" RTS_RESULT SysCpuReadValueAtomic(const void* pSource, void* pDest, RTS_SIZE nLen) {
    return copy_sized(pSource, pDest, nLen, true);
}

extern "C" RTS_RESULT SysCpuWriteValueAtomic(void* pDest, const void* pSource, RTS_SIZE nLen) {
    return copy_sized(pSource, pDest, nLen, false);
}

extern "C" RTS_RESULT SysCpuSetRegisterValue(RTS_UI64* pRegBuff, RTS_I32 index, RTS_UI64 value) {
    if (pRegBuff == nullptr || index < 0) return RES_PARAMETER;
    pRegBuff[index] = value;
    return RES_OK;
}

/* ---- context and stack --------------------------------------------------------------------- */

extern "C" [[gnu::noinline]] RTS_RESULT SysCpuGetContext(RegContext* pContext) {
    if (pContext == nullptr) return RES_PARAMETER;
    RTS_UI64 bp = 0;
    RTS_UI64 sp = 0;
    /* One level up from here is the caller's frame. */
    const bool captured = syscpu_os::capture_frame(1, &bp, &sp);
    pContext->PC = 0;
    pContext->BP = bp;
    pContext->SP = sp;
    return captured ? RES_OK : RES_FAILED;
}

extern "C" RTS_RESULT SysCpuGetCallstackEntry(RTS_UINTPTR* pBP, void** ppAddress) {
    if (pBP == nullptr || ppAddress == nullptr || *pBP == 0) return RES_PARAMETER;
    /* A frame holds the caller's frame pointer and above it the return address. */
    RTS_UI64 frame[2];
    if (!syscpu_os::read_memory(reinterpret_cast<const void*>(*pBP), frame, sizeof frame)) {
        *pBP = 0;
        return RES_NOMEMORY;
    }
    *ppAddress = reinterpret_cast<void*>(static_cast<RTS_UINTPTR>(frame[1]));
    *pBP = static_cast<RTS_UINTPTR>(frame[0]);
    return RES_OK;
}

extern "C" RTS_RESULT SysCpuGetCallstackEntry2(RTS_I32 mode, RTS_UINTPTR* pBP, void** ppAddress) {
    if (mode == 0) return RES_NOTIMPLEMENTED;
    return SysCpuGetCallstackEntry(pBP, ppAddress);
}

extern "C" RTS_RESULT SysCpuGetCallstackEntry3(RTS_UINTPTR* pBP, void** ppAddress) {
    if (pBP == nullptr || ppAddress == nullptr || *pBP == 0) return RES_PARAMETER;
    if (g_imports[kAppGetApplicationByAreaAddress] == nullptr) return RES_NOTSUPPORTED;
    /* Application code was entered through SysCpuCallIecFuncWithParams, which left the marker
     * followed by the frame pointer of the frame that made the call. */
    RTS_RESULT found = RES_OK;
    auto* marker = static_cast<RTS_UI64*>(
        SysCpuSearchOnStack_(reinterpret_cast<void*>(*pBP), SYSCPU_STACK_MARKER, &found));
    RTS_UI64 caller_bp = 0;
    if (marker == nullptr || !syscpu_os::read_memory(marker + 1, &caller_bp, sizeof caller_bp) ||
        caller_bp == 0) {
        LogAdd(nullptr, CMPID_SysCpuHandling, LOG_ERROR, RES_FAILED, 0,
               "Unable to retrieve context for task in external call.");
        return RES_FAILED;
    }
    *pBP = static_cast<RTS_UINTPTR>(caller_bp);
    return SysCpuGetCallstackEntry(pBP, ppAddress);
}

extern "C" RTS_RESULT SysCpuGetInstancePointer(const RegContext* pContext, RTS_UI64* pInstance) {
    if (pContext == nullptr || pInstance == nullptr || pContext->PC == 0) return RES_PARAMETER;
    const auto* base = reinterpret_cast<const RTS_UI8*>(static_cast<RTS_UINTPTR>(pContext->PC));
    return syscpu_os::read_memory(base + 16, pInstance, sizeof *pInstance) ? RES_OK : RES_PARAMETER;
}

extern "C" void* SysCpuSearchOnStack_(void* pStart, RTS_UI64 pattern, RTS_RESULT* pResult) {
    auto address = reinterpret_cast<RTS_UINTPTR>(pStart);
    /* Read in chunks so that a long walk does not cost one probe per word; a chunk that is not
     * readable as a whole is finished word by word, up to the first unreadable word. */
    constexpr RTS_SIZE kChunkWords = 64;
    RTS_UI64 chunk[kChunkWords];
    while (address != 0) {
        RTS_SIZE words = kChunkWords;
        if (!syscpu_os::read_memory(reinterpret_cast<const void*>(address), chunk, sizeof chunk)) words = 0;
        for (RTS_SIZE i = 0; i < kChunkWords; ++i) {
            if (i >= words && !syscpu_os::read_memory(reinterpret_cast<const void*>(address), &chunk[i], 8)) {
                set_result(pResult, RES_NOMEMORY);
                return nullptr;
            }
            if (chunk[i] == pattern) {
                set_result(pResult, RES_OK);
                return reinterpret_cast<void*>(address);
            }
            address += 8;
        }
    }
    set_result(pResult, RES_NOMEMORY);
    return nullptr;
}

/* ---- code ---------------------------------------------------------------------------------- */

extern "C" RTS_RESULT SysCpuGetBreakpointCode(RTS_UI16* pCode, RTS_UI32* pLength) {
    if (pCode == nullptr || pLength == nullptr) return RES_PARAMETER;
    *pCode = 0x0B0F; /* the bytes 0F 0B in memory order */
    *pLength = 2;
    return RES_OK;
}

extern "C" RTS_RESULT SysCpuFlushInstructionCache(void* pBaseAddress, RTS_SIZE size) {
    const rts::OsError error = sys_os::call(CMPID_SysCpuHandling, nullptr,
                                            syscpu_os::calls().flush_instruction_cache, pBaseAddress, size);
    return error == rts::kOsOk ? RES_OK : RES_FAILED;
}

extern "C" [[gnu::noinline]] RTS_RESULT SysCpuCallIecFuncWithParams(RTS_VOID_FCTPTR pfFunction, void* pParam,
                                                                    RTS_SIZE size) {
    if (pfFunction == nullptr || (pParam == nullptr) != (size == 0)) return RES_PARAMETER;
    const RTS_SIZE area_size = (size + 15) & ~static_cast<RTS_SIZE>(15);
    if (area_size < size) return RES_PARAMETER;
    /* The marker lets a stack walk from inside the called code find its way back here. */
    [[maybe_unused]] volatile RTS_UI64 mark[2] = {SYSCPU_STACK_MARKER,
                                                  reinterpret_cast<RTS_UINTPTR>(__builtin_frame_address(0))};
    alignas(16) RTS_UI8 stack_area[kStackAreaSize];
    RTS_UI8* area = stack_area;
    RTS_RESULT result = RES_OK;
    if (area_size > kStackAreaSize) {
        area = static_cast<RTS_UI8*>(SysMemAllocData("SysCpuHandling", area_size, &result));
        if (area == nullptr) return RES_NOMEMORY;
    }
    if (size != 0) std::memcpy(area, pParam, size);
    std::memset(area + size, 0, area_size - size);
    reinterpret_cast<void (*)(void*)>(pfFunction)(area);
    if (size != 0) std::memcpy(pParam, area, size);
    if (area != stack_area) SysMemFreeData("SysCpuHandling", area);
    return RES_OK;
}

extern "C" void* SysCpuGetMonitoringBase(void) {
    return nullptr;
}

/* ---- parameter-record wrappers ------------------------------------------------------------- */

extern "C" void syscpuatomicadd(syscpuatomicadd_struct* p) {
    p->SysCpuAtomicAdd = SysCpuAtomicAdd(p->pValue, p->nSum, p->pResult);
}

extern "C" void syscpuatomicadd64(syscpuatomicadd64_struct* p) {
    p->SysCpuAtomicAdd64 = SysCpuAtomicAdd64(p->pValue, p->nSum, p->pResult);
}

extern "C" void syscpuatomiccompareandswap(syscpuatomiccompareandswap_struct* p) {
    p->SysCpuAtomicCompareAndSwap = SysCpuAtomicCompareAndSwap(p->pAddress, p->pxNew, p->pxCompare, p->nLen);
}

extern "C" void syscpucalliecfuncwithparams(syscpucalliecfuncwithparams_struct* p) {
    p->SysCpuCallIecFuncWithParams = SysCpuCallIecFuncWithParams(p->pfFunction, p->pParam, p->size);
}

extern "C" void syscputestandset(syscputestandset_struct* p) {
    p->SysCpuTestAndSet = SysCpuTestAndSet(p->pulValue, p->iBit);
}

extern "C" void syscputestandreset(syscputestandreset_struct* p) {
    p->SysCpuTestAndReset = SysCpuTestAndReset(p->pulValue, p->iBit);
}

extern "C" void syscputestandsetbit(syscputestandsetbit_struct* p) {
    p->SysCpuTestAndSetBit = SysCpuTestAndSetBit(p->pAddress, p->nLen, p->iBit, p->bSet);
}

extern "C" void syscpudebughandler(void* p) {}
