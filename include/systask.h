/* The optional task service and event objects, as the component manager calls them. No
 * component of this program provides them; a program or a test that does lets the manager run
 * its communication cycle and its hook ranges on tasks of their own. */
#ifndef SYSTASK_H
#define SYSTASK_H

#include "rts_types.h"

RTS_BEGIN_C

/* Handed to a task's function. The service sets exitRequested (atomically) on SysTaskSetExit;
 * flags carry SYS_TASK_FLAG_KEEP_ON_EXCEPTION for a task that an exception must not suspend. */
#define SYS_TASK_FLAG_KEEP_ON_EXCEPTION 0x4u
typedef struct {
    RTS_HANDLE hTask;
    void* param;
    RTS_UI32 exitRequested;
    RTS_UI32 flags;
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

/* The task of the calling thread (null when the thread is no task), and a task's information. */
typedef RTS_HANDLE (*PF_SYS_TASK_GET_CURRENT)(RTS_RESULT* pResult);
typedef RTS_RESULT (*PF_SYS_TASK_GET_INFO)(RTS_HANDLE hTask, SysTaskInfo** ppInfo);

/* Timers that run tasks: the timer of the calling thread, a walk over all timers, the task a
 * timer runs, and stopping a timer. */
typedef struct {
    RTS_HANDLE hTask;
} SysTimerInfo;
typedef RTS_HANDLE (*PF_SYS_TIMER_GET_CURRENT)(RTS_RESULT* pResult);
typedef RTS_HANDLE (*PF_SYS_TIMER_GET_FIRST)(RTS_RESULT* pResult);
typedef RTS_HANDLE (*PF_SYS_TIMER_GET_NEXT)(RTS_HANDLE hTimer, RTS_RESULT* pResult);
typedef RTS_RESULT (*PF_SYS_TIMER_GET_INFO)(RTS_HANDLE hTimer, SysTimerInfo** ppInfo);
typedef RTS_RESULT (*PF_SYS_TIMER_STOP)(RTS_HANDLE hTimer);

typedef RTS_HANDLE (*PF_SYS_EVENT_CREATE)(const char* name, RTS_RESULT* pResult);
typedef RTS_RESULT (*PF_SYS_EVENT_SET)(RTS_HANDLE hEvent);
/* RES_OK when the event was set (it resets), RES_TIMEOUT otherwise. */
typedef RTS_RESULT (*PF_SYS_EVENT_WAIT)(RTS_HANDLE hEvent, RTS_UI32 timeoutMs);
typedef RTS_RESULT (*PF_SYS_EVENT_DELETE)(RTS_HANDLE hEvent);

RTS_END_C

#endif
