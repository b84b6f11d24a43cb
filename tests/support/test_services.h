// Small versions of the optional services the manager imports by name, exported by a test
// component: an event service that records what is created, posted and deleted and answers the
// manager's queries, an output function, and a target description with a resolver.
#pragma once

#include <string>
#include <vector>

#include "cm.h"

namespace testsvc {

struct Events {
    std::vector<RTS_UI32> created, posted; // event ids
    int deleted = 0;
    int moreCycles = 0;               // listeners of 0x00010007 ask for this many more cycles
    bool disables = false;            // listeners of 0x00010006 answer: operation 7 is disabled
    RTS_RESULT createResult = RES_OK; // what EventCreate reports
    std::string printed;              // what SysOutPrintf or SysOutVPrintf printed last
};

// What the services saw, and how they answer.
Events& events();
void reset();

// EventCreate, EventPost2, EventDelete, SysOutPrintf, SysOutVPrintf, SysTargetGetDeviceName
// ("Test Dévice"), SysTargetGetOperatingSystemId (5), SysTargetGetProcessorId (16, a processor
// without a name), SysTargetGetAPI and a function
// "RefusedButExported". The resolver answers names beginning with "Resolved" with resolved()
// and refuses names beginning with "Refused".
const CMExportEntry* exports();
RTS_VOID_FCTPTR resolved();

} // namespace testsvc
