/* The deadline of a timed enter of the POSIX process semaphores, shared by the wait and its
 * test. */
#ifndef SYSSEMPROCESS_POSIX_H
#define SYSSEMPROCESS_POSIX_H

#include <ctime>

#include "rts_types.h"

namespace syssemprocess_posix {

/* The clock a timed enter waits against: the monotonic one, so that setting the calendar
 * clock neither stretches nor cuts a time-out. */
constexpr clockid_t kWaitClock = CLOCK_MONOTONIC;

/* The moment, on kWaitClock, at which a wait of timeoutMs from now ends. */
timespec deadline_after(RTS_UI32 timeoutMs);

} // namespace syssemprocess_posix

#endif
