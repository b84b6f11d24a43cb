/* The platform side of the in-process semaphores: a recursive lock per semaphore, thread ids,
 * and the thread descriptions the diagnosis mode names in the log. */
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

/* The calling thread's id as the platform counts threads (never 0). */
RTS_UI32 current_thread_id();
/* Makes thread descriptions readable (a run-time lookup where the platform needs one); false
 * when the platform cannot give them. descriptions_close undoes it. */
bool descriptions_open();
void descriptions_close();
/* The description of a thread of this process, terminated within size; empty when the thread
 * has none or has ended. */
void thread_description(RTS_UI32 threadId, char* name, RTS_SIZE size);

} // namespace syssem_os

#endif
