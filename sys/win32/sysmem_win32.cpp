/* SysMem on Windows: committed virtual memory for pages, VirtualLock for locking, and
 * VirtualQuery to tell whether a range is committed and readable. */
#include <windows.h>

#include "memory/sysmem_os.h"

namespace {

using sys_os::failed;

bool readable_protection(DWORD protect) {
    if ((protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0) return false;
    constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    return (protect & kReadable) != 0;
}

rts::OsError pages_alloc(RTS_SIZE size, bool executable, void** pPages, const char** pCall) {
    void* pages = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE,
                               executable ? PAGE_EXECUTE_READWRITE : PAGE_READWRITE);
    if (pages == nullptr) return failed("VirtualAlloc", GetLastError(), pCall);
    *pPages = pages;
    return rts::kOsOk;
}

rts::OsError pages_free(void* address, const char** pCall) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(address, &info, sizeof info) == 0) return failed("VirtualQuery", GetLastError(), pCall);
    if (info.AllocationBase != address) return failed("VirtualFree", ERROR_INVALID_ADDRESS, pCall);
    return VirtualFree(address, 0, MEM_RELEASE) ? rts::kOsOk : failed("VirtualFree", GetLastError(), pCall);
}

rts::OsError pages_lock(void* address, RTS_SIZE size, const char** pCall) {
    return VirtualLock(address, size) ? rts::kOsOk : failed("VirtualLock", GetLastError(), pCall);
}

rts::OsError pages_unlock(void* address, const char** pCall) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(address, &info, sizeof info) == 0) return failed("VirtualQuery", GetLastError(), pCall);
    return VirtualUnlock(address, info.RegionSize) ? rts::kOsOk
                                                   : failed("VirtualUnlock", GetLastError(), pCall);
}

/* An address the query does not know lies outside this process's memory: not readable. */
rts::OsError readable(const void* address, RTS_SIZE size, bool* pReadable, const char**) {
    *pReadable = false;
    auto at = reinterpret_cast<RTS_UINTPTR>(address);
    const RTS_UINTPTR last = at + (size - 1);
    if (last < at) return rts::kOsOk;
    for (;;) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery(reinterpret_cast<LPCVOID>(at), &info, sizeof info) == 0) return rts::kOsOk;
        if (info.State != MEM_COMMIT || !readable_protection(info.Protect)) return rts::kOsOk;
        const RTS_UINTPTR regionEnd = reinterpret_cast<RTS_UINTPTR>(info.BaseAddress) + info.RegionSize;
        if (regionEnd == 0 || regionEnd - 1 >= last) break;
        at = regionEnd;
    }
    *pReadable = true;
    return rts::kOsOk;
}

constexpr sysmem_os::Calls kCalls = {pages_alloc, pages_free, pages_lock, pages_unlock, readable};

} // namespace

namespace sysmem_os {

const Calls& platform_calls() {
    return kCalls;
}

} // namespace sysmem_os
