/* The platform side of the monotonic clocks: the multimedia timer, the interval of the system
 * clock's adjustments, the tick count and the high-resolution counter with its frequency.
 *
 * Every call that can fail hands back the operating system's error (0 on success) and its
 * results through out-parameters and, when it fails, the name of the platform call that failed
 * through pCall, so that the core can log both; the two millisecond readings cannot fail. The
 * core reaches the platform only through calls(); tests put a fake table in place with
 * set_calls. */
#ifndef SYSTIME_OS_H
#define SYSTIME_OS_H

#include "sys/os_seam.h"

namespace systime_os {

struct Calls {
    /* The finest period the multimedia timer offers, in ms; 0 when the platform has none. */
    rts::OsError (*timer_period)(RTS_UI32* periodMs, const char** pCall);
    /* Asks the multimedia timer for that period for the rest of the process's life. */
    rts::OsError (*timer_begin)(RTS_UI32 periodMs, const char** pCall);
    /* The interval between the system clock's adjustments, in 100-ns units. */
    rts::OsError (*clock_increment)(RTS_UI32* units, const char** pCall);
    /* The high-resolution counter and its ticks per second. */
    rts::OsError (*counter)(RTS_UI64* ticks, const char** pCall);
    rts::OsError (*counter_frequency)(RTS_UI64* perSecond, const char** pCall);
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
