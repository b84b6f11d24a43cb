/* Monotonic clocks on POSIX: CLOCK_MONOTONIC serves as the high-resolution counter (in
 * nanoseconds) and the millisecond tick is derived from it. */
#include <time.h>

#include "sys/systime_os.h"

namespace systime_os {

namespace {

constexpr RTS_UI64 kNsPerSecond = 1000000000u;

} // namespace

MsSource choose_ms_source() {
    return MsSource::PerformanceCounter;
}

RTS_UI32 multimedia_time() {
    return static_cast<RTS_UI32>(counter() / 1000000u);
}

RTS_UI32 tick_count() {
    return multimedia_time();
}

RTS_UI64 counter() {
    timespec ts{};
    if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return 0;
    return static_cast<RTS_UI64>(ts.tv_sec) * kNsPerSecond + static_cast<RTS_UI64>(ts.tv_nsec);
}

RTS_UI64 counter_frequency() {
    return kNsPerSecond;
}

} // namespace systime_os
