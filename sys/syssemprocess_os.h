/* The platform side of the semaphores between processes: named mutexes that every
 * authenticated user may use, entered with a real time-out and released once per enter.
 *
 * Every call that can fail hands back the operating system's error (0 on success) and, when it
 * fails, the name of the platform call that failed through pCall, so that the core can log
 * both. The core reaches the platform only through calls(); tests put a fake table in place
 * with set_calls. */
#ifndef SYSSEMPROCESS_OS_H
#define SYSSEMPROCESS_OS_H

#include "sys/os_seam.h"

namespace syssemprocess_os {

struct Calls {
    /* Builds the security that grants every authenticated user full use of new mutexes; after
     * a failure mutexes get default security. security_exit releases it. */
    rts::OsError (*security_init)(const char** pCall);
    rts::OsError (*security_exit)(const char** pCall);
    /* Creates the named mutex (not owned) or opens it when it exists; *pExisted tells which. */
    rts::OsError (*mutex_create)(const char* globalName, void** pMutex, bool* pExisted, const char** pCall);
    /* Drops this process's handle; the mutex lives on while other processes hold it. Fails for
     * a handle that is not (or no longer) one of this process's mutexes. */
    rts::OsError (*mutex_close)(void* mutex, const char** pCall);
    /* Waits up to timeoutMs (0xFFFFFFFF: no limit); *pEntered is false (and the result 0) when
     * the time-out expired. A mutex left by a holder that ended counts as entered. Recursive
     * for the owning thread. */
    rts::OsError (*mutex_enter)(void* mutex, RTS_UI32 timeoutMs, bool* pEntered, const char** pCall);
    /* Releases one level. */
    rts::OsError (*mutex_leave)(void* mutex, const char** pCall);
    /* Whether an error of mutex_leave means that the calling thread does not hold the mutex. */
    bool (*not_owner)(rts::OsError error);
    /* Gives back what the platform side keeps for handles that were deleted; called at
     * shut-down, when no other thread uses the component any more. It cannot fail. */
    void (*release_free_handles)();
};

/* The table of this platform (sys/posix or sys/win32). */
const Calls& platform_calls();
/* The table in use: a fake put in place by set_calls, else the platform's. */
const Calls& calls();
/* Puts a fake table in place; null restores the platform's. */
void set_calls(const Calls* fake);

} // namespace syssemprocess_os

#endif
