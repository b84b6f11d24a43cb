/* The optional task service and event objects, as the component manager calls them. No
 * component of this program provides them; a program or a test that does lets the manager run
 * its communication cycle and its hook ranges on tasks of their own. */
#ifndef SYSTASK_H
#define SYSTASK_H

#include "rts_types.h"

RTS_BEGIN_C

/* Handed to a task's function. The service sets exitRequested (atomically) on SysTaskSetExit. */
typedef struct {
    RTS_HANDLE hTask;
    void* param;
    RTS_UI32 exitRequested;
} SysTaskInfo;

typedef void (*PF_SYS_TASK_FUNCTION)(SysTaskInfo* pInfo);

/* A task is created suspended and starts with SysTaskResume. */
typedef RTS_HANDLE (*PF_SYS_TASK_CREATE)(const char* name, PF_SYS_TASK_FUNCTION function, void* param,
                                         RTS_UI32 priority, RTS_RESULT* pResult);
typedef RTS_RESULT (*PF_SYS_TASK_HANDLE)(RTS_HANDLE hTask);
typedef RTS_RESULT (*PF_SYS_TASK_END)(RTS_HANDLE hTask, RTS_UINTPTR exitCode);
typedef RTS_RESULT (*PF_SYS_TASK_WAIT_SLEEP)(RTS_HANDLE hTask, RTS_UI32 milliseconds);
/* Waits up to the time-out for the task to end and releases it. */
typedef RTS_RESULT (*PF_SYS_TASK_EXIT)(RTS_HANDLE hTask, RTS_UI32 timeoutMs);

typedef RTS_HANDLE (*PF_SYS_EVENT_CREATE)(const char* name, RTS_RESULT* pResult);
typedef RTS_RESULT (*PF_SYS_EVENT_SET)(RTS_HANDLE hEvent);
/* RES_OK when the event was set (it resets), RES_TIMEOUT otherwise. */
typedef RTS_RESULT (*PF_SYS_EVENT_WAIT)(RTS_HANDLE hEvent, RTS_UI32 timeoutMs);
typedef RTS_RESULT (*PF_SYS_EVENT_DELETE)(RTS_HANDLE hEvent);

RTS_END_C

#endif
