// A small task service and event objects on std::thread, exported by a test component so the
// manager can run its communication cycle and hook ranges on tasks of their own.
#pragma once

#include "cm.h"

namespace testtask {

// The export table of the service: SysTaskCreate ... SysEventDelete.
const CMExportEntry* exports();
// Tasks created and not yet ended.
int live_tasks();
// The milliseconds of the last SysTaskWaitSleep, kNoSleep when none came since reset().
constexpr RTS_UI32 kNoSleep = 0xFFFFFFFFu;
RTS_UI32 last_sleep_ms();
// Event waits give up after at most this many milliseconds (0: as asked), as if they had waited.
void set_wait_limit_ms(RTS_UI32 ms);
void reset();

} // namespace testtask
