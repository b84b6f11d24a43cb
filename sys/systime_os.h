/* The platform side of the monotonic clocks. */
#ifndef SYSTIME_OS_H
#define SYSTIME_OS_H

#include "rts_types.h"

namespace systime_os {

/* Nanoseconds of a monotonic clock since an arbitrary start. */
RTS_UI64 monotonic_ns();

} // namespace systime_os

#endif
