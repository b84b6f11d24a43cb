/* The platform side of the semaphores between processes: named mutexes that every
 * authenticated user may use, entered with a real time-out and released once per enter. */
#ifndef SYSSEMPROCESS_OS_H
#define SYSSEMPROCESS_OS_H

#include "rts_types.h"

namespace syssemprocess_os {

/* Builds the security that grants every authenticated user full use of new mutexes; false
 * when that is not possible (mutexes then get default security). */
bool security_init();
/* Releases what security_init built. */
void security_exit();

/* Creates the named mutex (not owned) or opens it when it exists; *pExisted tells which.
 * Null when the platform refuses. */
void* mutex_create(const char* globalName, bool* pExisted);
/* Drops this process's handle; the mutex lives on while other processes hold it. False when
 * the handle is not (or no longer) one of this process's mutexes. */
bool mutex_close(void* mutex);

/* Gives back what the platform side keeps for handles that were deleted; called at shut-down,
 * when no other thread uses the component any more. */
void release_free_handles();

enum class Outcome { ok, timeout, not_owner, bad_handle };
/* Waits up to timeoutMs (0xFFFFFFFF: no limit): ok, timeout or bad_handle. A mutex left by a
 * holder that ended counts as entered. Recursive for the owning thread. */
Outcome mutex_enter(void* mutex, RTS_UI32 timeoutMs);
/* Releases one level: ok, not_owner (the calling thread does not hold it) or bad_handle. */
Outcome mutex_leave(void* mutex);

} // namespace syssemprocess_os

#endif
