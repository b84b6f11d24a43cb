/* SysMem on Windows: committed virtual memory for pages, VirtualLock for locking, and
 * VirtualQuery to tell whether a range is committed and readable. */
#include <windows.h>

#include "memory/sysmem_os.h"

namespace {

bool readable_protection(DWORD protect) {
    if ((protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0) return false;
    constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    return (protect & kReadable) != 0;
}

} // namespace

namespace sysmem_os {

void* pages_alloc(RTS_SIZE size, bool executable) {
    return VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE,
                        executable ? PAGE_EXECUTE_READWRITE : PAGE_READWRITE);
}

bool pages_free(void* address) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(address, &info, sizeof info) == 0 || info.AllocationBase != address) return false;
    return VirtualFree(address, 0, MEM_RELEASE) != 0;
}

bool pages_lock(void* address, RTS_SIZE size) {
    return VirtualLock(address, size) != 0;
}

void pages_unlock(void* address) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(address, &info, sizeof info) != 0) VirtualUnlock(address, info.RegionSize);
}

bool readable(const void* address, RTS_SIZE size) {
    auto at = reinterpret_cast<RTS_UINTPTR>(address);
    const RTS_UINTPTR last = at + (size - 1);
    if (last < at) return false;
    for (;;) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery(reinterpret_cast<LPCVOID>(at), &info, sizeof info) == 0) return false;
        if (info.State != MEM_COMMIT || !readable_protection(info.Protect)) return false;
        const RTS_UINTPTR regionEnd = reinterpret_cast<RTS_UINTPTR>(info.BaseAddress) + info.RegionSize;
        if (regionEnd == 0 || regionEnd - 1 >= last) return true;
        at = regionEnd;
    }
}

} // namespace sysmem_os
