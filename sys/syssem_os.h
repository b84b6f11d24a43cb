/* The platform side of the in-process semaphores: a recursive lock per semaphore. */
#ifndef SYSSEM_OS_H
#define SYSSEM_OS_H

#include "rts_types.h"

namespace syssem_os {

/* Bytes one platform lock needs; the caller allocates them. */
RTS_SIZE lock_size();
/* Sets up the lock in place; false when the platform refuses. */
bool lock_init(void* lock);
void lock_destroy(void* lock);
void lock_enter(void* lock);
void lock_leave(void* lock);
/* Takes the lock without waiting; false when another thread holds it. */
bool lock_try(void* lock);

} // namespace syssem_os

#endif
