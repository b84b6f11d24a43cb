/* The platform side of the shared memory: named mappings and their views, locking views in
 * physical memory, the security of new mappings, the list of desktop sessions, and windows
 * onto physical memory through the driver. */
#ifndef SYSSHM_OS_H
#define SYSSHM_OS_H

#include "rts_types.h"

namespace sysshm_os {

/* A mapped named block: the platform's mapping token, the view and the size of the view in
 * whole pages. */
struct View {
    void* mapping;
    void* address;
    RTS_UI64 size;
};

/* Opens an existing named mapping with write access and maps all of it. False when there is
 * no such mapping or it cannot be mapped. */
bool mapping_open(const char* name, View* pView);
/* Creates a mapping of size bytes under the local name (or opens it when it appeared in the
 * meantime) and maps all of it; new mappings get the security built by security_init. */
bool mapping_create(const char* localName, RTS_UI64 size, View* pView);
/* Unmaps the view and drops the mapping. */
void mapping_close(View* pView);

/* Locks size bytes at address in physical memory; *pQuota tells whether a failure came from
 * the process's limits (which grow_lock_quota may raise). */
bool lock(void* address, RTS_UI64 size, bool* pQuota);
/* Raises the process's lock limits by about size bytes; false when the platform refuses. */
bool grow_lock_quota(RTS_UI64 size);
void unlock(void* address, RTS_UI64 size);

/* Builds the access list that grants every authenticated user read, write and execute on new
 * mappings; false when that fails (new mappings then get default security). */
bool security_init();
void security_exit();

/* Session enumeration: loaded at start, released at the end; without it no session names are
 * tried. for_each_session calls visit for each session in the platform's order until visit
 * returns true; false when the enumeration is not available or fails. */
bool sessions_load();
void sessions_unload();
bool for_each_session(bool (*visit)(RTS_UI32 sessionId, void* context), void* context);

/* Windows onto physical memory through the driver. map_physical gives RES_FAILED when the
 * driver cannot be reached and RES_NO_OBJECT when it refuses the range. */
RTS_RESULT map_physical(RTS_UI64 physicalAddress, RTS_UI64 size, void** pAddress);
bool unmap_physical(void* address, RTS_UI64 size);

} // namespace sysshm_os

#endif
