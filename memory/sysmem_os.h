/* The platform side of the heap adaptation: committed pages (read-write, optionally
 * executable), locking them in physical memory, and a readability probe that never faults.
 *
 * Each call hands back the operating system's error (errno, GetLastError(); 0 when it worked)
 * and its results through out-parameters; when it fails it names the platform call that failed
 * through pCall, for the one log line the core writes. The core reaches the calls only through
 * calls(); tests put a table of their own in place with set_calls (null restores the
 * platform's). */
#ifndef SYSMEM_OS_H
#define SYSMEM_OS_H

#include "sys/os_seam.h"

namespace sysmem_os {

struct Calls {
    /* Zeroed, committed pages for size bytes. */
    rts::OsError (*pages_alloc)(RTS_SIZE size, bool executable, void** pPages, const char** pCall);
    /* Releases a whole region from pages_alloc; an address that starts none is an error. */
    rts::OsError (*pages_free)(void* address, const char** pCall);
    /* Keeps the region's first size bytes in physical memory. */
    rts::OsError (*pages_lock)(void* address, RTS_SIZE size, const char** pCall);
    /* Unlocks the whole region that starts at address, its size as the platform knows it. */
    rts::OsError (*pages_unlock)(void* address, const char** pCall);
    /* Whether every byte of [address, address + size) can be read (size at least 1). An
     * unreadable range is an answer, not an error. */
    rts::OsError (*readable)(const void* address, RTS_SIZE size, bool* pReadable, const char** pCall);
};

/* This platform's table (sys/posix, sys/win32). */
const Calls& platform_calls();
/* The table in use, and the override for tests. */
const Calls& calls();
void set_calls(const Calls* fake);

} // namespace sysmem_os

#endif
