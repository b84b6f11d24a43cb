/* Monotonic clock on POSIX: CLOCK_MONOTONIC. */
#include <time.h>

#include "sys/systime_os.h"

namespace systime_os {

RTS_UI64 monotonic_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<RTS_UI64>(ts.tv_sec) * 1000000000u + static_cast<RTS_UI64>(ts.tv_nsec);
}

} // namespace systime_os
