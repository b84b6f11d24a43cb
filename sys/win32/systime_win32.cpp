/* Monotonic clock on Windows: the performance counter. */
#include <windows.h>

#include "sys/systime_os.h"

namespace systime_os {

RTS_UI64 monotonic_ns() {
    static const RTS_UI64 frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<RTS_UI64>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const RTS_UI64 ticks = static_cast<RTS_UI64>(now.QuadPart);
    return ticks / frequency * 1000000000u + ticks % frequency * 1000000000u / frequency;
}

} // namespace systime_os
