// Small versions of the optional services the manager imports by name, in one export table for
// a test component: an event service that records what is created, posted and deleted and
// answers the manager's queries, the output functions, a target description with a resolver,
// and a task service with event objects on std::thread.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "cm.h"

namespace testsvc {

// What the event, output and target services saw, and how they answer.
struct Events {
    std::vector<RTS_UI32> created, posted; // event ids
    int deleted = 0;
    int moreCycles = 0;               // listeners of 0x00010007 ask for this many more cycles
    bool disables = false;            // listeners of 0x00010006 answer: operation 7 is disabled
    RTS_RESULT createResult = RES_OK; // what EventCreate reports
    std::string printed;              // what SysOutPrintf or SysOutVPrintf printed last
};
// The task service: tasks created and not yet ended, the milliseconds of the last
// SysTaskWaitSleep (0: none yet), and a limit on event waits (0: none), which then give up as
// if they had waited.
struct Tasks {
    std::atomic<int> live{0};
    std::atomic<RTS_UI32> lastSleepMs{0}, waitLimitMs{0};
};
inline Events events;
inline Tasks tasks;
// Both back to their defaults (the live tasks stay counted).
void reset();

// EventCreate, EventPost2, EventDelete, SysOutPrintf, SysOutVPrintf, SysTargetGetDeviceName
// ("Test Dévice"), SysTargetGetOperatingSystemId (5), SysTargetGetProcessorId (16, a processor
// without a name), SysTargetGetAPI, SysTask* and SysEvent*, and "RefusedButExported". The
// resolver answers names beginning with "Resolved" with resolved() and refuses names
// beginning with "Refused".
const CMExportEntry* exports();
RTS_VOID_FCTPTR resolved();

} // namespace testsvc
