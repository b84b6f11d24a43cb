// A small task service and event objects on std::thread, exported by a test component so the
// manager can run its communication cycle and hook ranges on tasks of their own.
#pragma once

#include <chrono>
#include <thread>

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

// Waits up to 10 s for what a task is to bring about; whether it came.
template <typename Done> bool eventually(Done done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
}

} // namespace testtask
