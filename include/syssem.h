/* Semaphores: in-process semaphores, recursive per thread (SysSem), and named semaphores
 * between processes (SysSemProcess). */
#ifndef SYSSEM_H
#define SYSSEM_H

#include "rts_types.h"

RTS_BEGIN_C

/* New in-process semaphore; RES_NOMEMORY / RES_FAILED and the invalid handle on failure. */
RTS_HANDLE SysSemCreate(RTS_RESULT* pResult);
/* Each takes a handle from SysSemCreate; null or invalid gives RES_PARAMETER. With the setting
 * SysSem.SemEnterDiagnosis on, an enter that must wait logs the waiting and the holding thread,
 * and again once it got the semaphore. An enter or leave that the platform refuses (a leave by
 * a thread that does not hold the semaphore, for one) gives RES_FAILED; every refusal of the
 * platform is logged at LOG_DEBUG with the operating system's error. */
RTS_RESULT SysSemDelete(RTS_HANDLE hSem);
RTS_RESULT SysSemEnter(RTS_HANDLE hSem);
RTS_RESULT SysSemLeave(RTS_HANDLE hSem);
/* Takes the semaphore when that needs no wait: RES_OK, else RES_FAILED. */
RTS_RESULT SysSemTry(RTS_HANDLE hSem);

/* Create or open the named mutex "Global\\" + name: RES_OK created, RES_DUPLICATE opened. */
RTS_HANDLE SysSemProcessCreate(const char* name, RTS_RESULT* pResult);
RTS_RESULT SysSemProcessDelete(RTS_HANDLE hSem);
/* Time-out in ms, 0xFFFFFFFF waits without limit: RES_OK entered, RES_TIMEOUT expired. */
RTS_RESULT SysSemProcessEnter(RTS_HANDLE hSem, RTS_UI32 timeoutMs);
RTS_RESULT SysSemProcessLeave(RTS_HANDLE hSem);

/* Parameter records of the lower-case process-semaphore wrappers: the arguments in order, then
 * the result. */
typedef struct {
    const char* name;
    RTS_RESULT* pResult;
    RTS_HANDLE result;
} SemProcessCreateParams; /* syssemprocesscreate */
typedef struct {
    RTS_HANDLE hSem;
    RTS_RESULT result;
} SemProcessHandleParams; /* syssemprocessdelete, syssemprocessleave */
typedef struct {
    RTS_HANDLE hSem;
    RTS_UI32 timeoutMs;
    RTS_RESULT result;
} SemProcessEnterParams; /* syssemprocessenter */

RTS_END_C

#endif
