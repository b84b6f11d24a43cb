/* Pieces of the clock logic that hold no state of their own, shared between the SysTime unit
 * and its tests: the tick wrap guard, the counter scaling and the back-jump report. */
#ifndef SYSTIME_INTERNAL_H
#define SYSTIME_INTERNAL_H

#include "rts_types.h"

namespace systime_internal {

/* The value to give for a new tick reading when `last` was given before: a smaller reading
 * counts only as a wrap (last >= 0xFFFF0001 and now < 4096); any other step back gives last. */
RTS_UI32 guard_tick(RTS_UI32 now, RTS_UI32 last);

/* counter ticks at `frequency` per second expressed in units of 1/perSecond s; exact when one
 * rate divides the other, else through a double factor. 0 for frequency 0. */
RTS_UI64 scale_counter(RTS_UI64 counter, RTS_UI64 frequency, RTS_UI64 perSecond);

/* One set of readings of the three sources. */
struct Readings {
    RTS_UI32 ms;
    RTS_UI64 us;
    RTS_UI64 ns;
};

/* Logs every source of `now` that is behind `last` (signed difference, so a wrap is no jump)
 * and then keeps `now` as the new last readings. */
void report_back_jumps(const Readings& now, Readings& last);

} // namespace systime_internal

#endif
