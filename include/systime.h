/* Monotonic clocks (SysTime): ticks in milliseconds (32-bit, wraps), microseconds and
 * nanoseconds. */
#ifndef SYSTIME_H
#define SYSTIME_H

#include "rts_types.h"

RTS_BEGIN_C

RTS_UI32 SysTimeGetMs(void);
RTS_UI64 SysTimeGetUs(void);
RTS_UI64 SysTimeGetNs(void);

RTS_END_C

#endif
