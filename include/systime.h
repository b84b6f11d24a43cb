/* Monotonic clocks (SysTime): ticks in milliseconds (32-bit, wraps), microseconds and
 * nanoseconds, readable from any thread. */
#ifndef SYSTIME_H
#define SYSTIME_H

#include "rts_types.h"

RTS_BEGIN_C

/* Milliseconds of the tick source chosen at the first call; 32-bit, wraps, never steps back
 * except at the wrap. */
RTS_UI32 SysTimeGetMs(void);
/* Microseconds / nanoseconds of the high-resolution counter; 0 when the platform has none. */
RTS_UI64 SysTimeGetUs(void);
RTS_UI64 SysTimeGetNs(void);

/* Parameter records of the control-language wrappers: each wrapper stores the reading in its
 * record (a null record is ignored). */
typedef struct {
    RTS_UI32 SysTimeGetMs;
} systimegetms_struct;
typedef struct {
    RTS_UI64* pUs;
    RTS_RESULT SysTimeGetUs;
} systimegetus_struct;
typedef struct {
    RTS_UI64* pNs;
    RTS_RESULT SysTimeGetNs;
} systimegetns_struct;

void systimegetms(systimegetms_struct* p);
/* Writes the reading through pUs / pNs; RES_PARAMETER when that pointer is null. */
void systimegetus(systimegetus_struct* p);
void systimegetns(systimegetns_struct* p);

RTS_END_C

#endif
