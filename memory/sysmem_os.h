/* The platform side of the heap adaptation: committed pages (read-write, optionally
 * executable), locking them in physical memory, and a readability probe that never faults. */
#ifndef SYSMEM_OS_H
#define SYSMEM_OS_H

#include "rts_types.h"

namespace sysmem_os {

/* Zeroed, committed pages for size bytes; null when the platform refuses. */
void* pages_alloc(RTS_SIZE size, bool executable);
/* Releases a whole region from pages_alloc; false for an address that does not start one. */
bool pages_free(void* address);
/* Keeps the region's first size bytes in physical memory; false when the platform refuses. */
bool pages_lock(void* address, RTS_SIZE size);
/* Unlocks the whole region that starts at address, its size as the platform knows it. */
void pages_unlock(void* address);
/* True when every byte of [address, address + size) can be read (size at least 1). */
bool readable(const void* address, RTS_SIZE size);

} // namespace sysmem_os

#endif
