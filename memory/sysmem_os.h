/* The platform side of the heap adaptation: committed pages (read-write, optionally
 * executable), locking them in physical memory, and a readability probe that never faults.
 *
 * Each call hands back the operating system's error (errno, GetLastError(); 0 when it worked)
 * and its results through out-parameters, and carries the name the platform knows it by, for
 * the one log line the core writes when it fails. The core reaches the calls only through
 * calls(); tests put a table of their own in place with set_calls (null restores the
 * platform's). */
#ifndef SYSMEM_OS_H
#define SYSMEM_OS_H

#include "rts_types.h"
#include "sys/os_call.h"

namespace sysmem_os {

struct Calls {
    /* Zeroed, committed pages for size bytes. */
    sys_os::OsCall<rts::OsError (*)(RTS_SIZE size, bool executable, void** pPages)> pages_alloc;
    /* Releases a whole region from pages_alloc; an address that starts none is an error. */
    sys_os::OsCall<rts::OsError (*)(void* address)> pages_free;
    /* Keeps the region's first size bytes in physical memory. */
    sys_os::OsCall<rts::OsError (*)(void* address, RTS_SIZE size)> pages_lock;
    /* Unlocks the whole region that starts at address, its size as the platform knows it. */
    sys_os::OsCall<rts::OsError (*)(void* address)> pages_unlock;
    /* Whether every byte of [address, address + size) can be read (size at least 1). An
     * unreadable range is an answer, not an error. */
    sys_os::OsCall<rts::OsError (*)(const void* address, RTS_SIZE size, bool* pReadable)> readable;
};

/* This platform's table (sys/posix, sys/win32). */
const Calls& platform_calls();
/* The table in use, and the override for tests. */
const Calls& calls();
void set_calls(const Calls* fake);

} // namespace sysmem_os

#endif
