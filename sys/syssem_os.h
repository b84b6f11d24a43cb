/* The platform side of the in-process semaphores: a recursive lock per semaphore, thread ids,
 * and the thread descriptions the diagnosis mode names in the log.
 *
 * Every call that can fail hands back the operating system's error (0 on success) and, when it
 * fails, the name of the platform call that failed through pCall, so that the core can log
 * both. The core reaches the platform only through calls(); tests put a fake table in place
 * with set_calls. */
#ifndef SYSSEM_OS_H
#define SYSSEM_OS_H

#include "sys/os_seam.h"

namespace syssem_os {

struct Calls {
    /* Bytes one platform lock needs; the core allocates them. */
    RTS_SIZE lock_size;
    rts::OsError (*lock_init)(void* lock, const char** pCall);
    rts::OsError (*lock_destroy)(void* lock, const char** pCall);
    rts::OsError (*lock_enter)(void* lock, const char** pCall);
    rts::OsError (*lock_leave)(void* lock, const char** pCall);
    /* Takes the lock without waiting; *pTaken is false (and the result 0) when another thread
     * holds it. */
    rts::OsError (*lock_try)(void* lock, bool* pTaken, const char** pCall);
    /* The calling thread's id as the platform counts threads (never 0); it cannot fail. */
    RTS_UI32 (*current_thread_id)();
    /* Makes thread descriptions readable (a run-time lookup where the platform needs one);
     * descriptions_close undoes it. */
    rts::OsError (*descriptions_open)(const char** pCall);
    rts::OsError (*descriptions_close)(const char** pCall);
    /* The description of a thread of this process, terminated within size (size > 0); empty
     * when the thread has none. */
    rts::OsError (*thread_description)(RTS_UI32 threadId, char* name, RTS_SIZE size, const char** pCall);
};

/* The table of this platform (sys/posix or sys/win32). */
const Calls& platform_calls();
/* The table in use: a fake put in place by set_calls, else the platform's. */
const Calls& calls();
/* Puts a fake table in place; null restores the platform's. */
void set_calls(const Calls* fake);

} // namespace syssem_os

#endif
