/* The platform side of the shared memory: named mappings and their views, locking views in
 * physical memory, the security of new mappings, the list of desktop sessions, and windows
 * onto physical memory through the driver.
 *
 * Every call that can fail hands back the operating system's error (0 on success) and, when it
 * fails, the name of the platform call that failed through pCall, so that the core can log
 * both. The core reaches the platform only through calls(); tests put a fake table in place
 * with set_calls. */
#ifndef SYSSHM_OS_H
#define SYSSHM_OS_H

#include "sys/os_seam.h"

namespace sysshm_os {

/* A mapped named block: the platform's mapping token, the view and the size of the view in
 * whole pages. */
struct View {
    void* mapping;
    void* address;
    RTS_UI64 size;
};

struct Calls {
    /* Opens an existing named mapping with write access and maps all of it. */
    rts::OsError (*mapping_open)(const char* name, View* pView, const char** pCall);
    /* Creates a mapping of size bytes (all 64 bits of it) under the local name, or opens it when
     * it appeared in the meantime, and maps all of it; new mappings get the security built by
     * security_init. */
    rts::OsError (*mapping_create)(const char* localName, RTS_UI64 size, View* pView, const char** pCall);
    /* Unmaps the view and drops the mapping; the view is cleared whatever the outcome. */
    rts::OsError (*mapping_close)(View* pView, const char** pCall);

    /* Locks size bytes at address in physical memory. */
    rts::OsError (*lock)(void* address, RTS_UI64 size, const char** pCall);
    /* Whether an error of lock came from the process's limits, which grow_lock_quota raises by
     * about size bytes. */
    bool (*quota_exceeded)(rts::OsError error);
    rts::OsError (*grow_lock_quota)(RTS_UI64 size, const char** pCall);
    rts::OsError (*unlock)(void* address, RTS_UI64 size, const char** pCall);

    /* Builds the access list that grants every authenticated user read, write and execute on
     * new mappings (after a failure they get default security); security_exit releases it. */
    rts::OsError (*security_init)(const char** pCall);
    rts::OsError (*security_exit)(const char** pCall);

    /* The desktop sessions: loaded at start (*pAvailable false when the platform cannot list
     * them), released at the end. for_each_session calls visit for each session in the
     * platform's order until visit returns true. */
    rts::OsError (*sessions_load)(bool* pAvailable, const char** pCall);
    rts::OsError (*sessions_unload)(const char** pCall);
    rts::OsError (*for_each_session)(bool (*visit)(RTS_UI32 sessionId, void* context), void* context,
                                     const char** pCall);

    /* Windows onto physical memory through the driver: opened for each map and unmap. */
    rts::OsError (*driver_open)(void** pDevice, const char** pCall);
    rts::OsError (*driver_map)(void* device, RTS_UI64 physicalAddress, RTS_UI64 size, void** pAddress,
                               const char** pCall);
    rts::OsError (*driver_unmap)(void* device, void* address, RTS_UI64 size, const char** pCall);
    rts::OsError (*driver_close)(void* device, const char** pCall);
};

/* The table of this platform (sys/posix or sys/win32). */
const Calls& platform_calls();
/* The table in use: a fake put in place by set_calls, else the platform's. */
const Calls& calls();
/* Puts a fake table in place; null restores the platform's. */
void set_calls(const Calls* fake);

} // namespace sysshm_os

#endif
