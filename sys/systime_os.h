/* The platform side of the monotonic clocks, as a table of calls that tests can replace: the
 * multimedia timer, the interval of the system clock's adjustments, the tick count and the
 * high-resolution counter with its frequency. Calls that can fail give back the OS error and
 * their results through out-parameters; the two millisecond readings cannot fail. */
#ifndef SYSTIME_OS_H
#define SYSTIME_OS_H

#include "rts_types.h"
#include "sys/os_call.h"

namespace systime_os {

using sys_os::OsCall;

struct Calls {
    /* The finest period the multimedia timer offers, in ms; 0 when the platform has none. */
    OsCall<rts::OsError (*)(RTS_UI32* periodMs)> timer_period;
    /* Asks the multimedia timer for that period for the rest of the process's life. */
    OsCall<rts::OsError (*)(RTS_UI32 periodMs)> timer_begin;
    /* The interval between the system clock's adjustments, in 100-ns units. */
    OsCall<rts::OsError (*)(RTS_UI32* units)> clock_increment;
    /* The high-resolution counter and its ticks per second. */
    OsCall<rts::OsError (*)(RTS_UI64* ticks)> counter;
    OsCall<rts::OsError (*)(RTS_UI64* perSecond)> counter_frequency;
    /* The multimedia timer's time and the coarse 32-bit tick count, in ms. */
    RTS_UI32 (*timer_time)();
    RTS_UI32 (*tick_count)();
};

/* The platform's own table. */
const Calls& platform_calls();
/* The table in use, and its replacement (null puts the platform's back). A replacement also
 * forgets the chosen millisecond source and the counter's frequency, so the next reading
 * chooses again through the new table. */
const Calls& calls();
void set_calls(const Calls* fake);

} // namespace systime_os

#endif
