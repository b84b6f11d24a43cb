/* Monotonic clocks (SysTime): ticks in milliseconds (32-bit, wraps), microseconds and
 * nanoseconds, readable from any thread. */
#ifndef SYSTIME_H
#define SYSTIME_H

#include "rts_types.h"

RTS_BEGIN_C

/* Milliseconds of the tick source chosen at the first call; 32-bit, wraps, never steps back
 * except at the wrap. */
RTS_UI32 SysTimeGetMs(void);
/* Microseconds / nanoseconds of the high-resolution counter into *pUs / *pNs: RES_OK, or
 * RES_PARAMETER for a null pointer. The reading is 0 when the platform has no counter. */
RTS_RESULT SysTimeGetUs(RTS_UI64* pUs);
RTS_RESULT SysTimeGetNs(RTS_UI64* pNs);

/* Parameter records of the control-language wrappers: the arguments, then the result the
 * wrapper stores (a null record is ignored). */
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
void systimegetus(systimegetus_struct* p);
void systimegetns(systimegetns_struct* p);

RTS_END_C

#endif
