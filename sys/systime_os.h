/* The platform side of the monotonic clocks: which millisecond source the platform offers,
 * the raw readings of each source and the high-resolution counter with its frequency. */
#ifndef SYSTIME_OS_H
#define SYSTIME_OS_H

#include "rts_types.h"

namespace systime_os {

enum class MsSource {
    MultimediaTimer,    /* a 1 ms timer whose readings are used as they are */
    TickCount,          /* a coarse 32-bit tick that needs the wrap guard */
    PerformanceCounter, /* milliseconds derived from the high-resolution counter */
};

/* Picks the millisecond source once; may request a 1 ms timer period for the rest of the
 * process's life. */
MsSource choose_ms_source();
RTS_UI32 multimedia_time();
RTS_UI32 tick_count();
/* The high-resolution counter and its ticks per second (0 when there is no counter). */
RTS_UI64 counter();
RTS_UI64 counter_frequency();

} // namespace systime_os

#endif
