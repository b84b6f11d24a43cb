/* Monotonic clocks on POSIX: CLOCK_MONOTONIC serves as the high-resolution counter (in
 * nanoseconds) and as the tick count. There is no multimedia timer, and the system clock is
 * adjusted at every kernel tick, which is coarse enough that the counter gives the
 * milliseconds. */
#include <cerrno>
#include <time.h>
#include <unistd.h>

#include "sys/systime_os.h"

namespace systime_os {

namespace {

constexpr RTS_UI64 kNsPerSecond = 1000000000u;
constexpr RTS_UI64 kNsPerMs = 1000000u;
constexpr RTS_UI64 kIncrementUnitsPerSecond = 10000000u; /* 100-ns units */

rts::OsError no_timer_period(RTS_UI32* periodMs, const char**) {
    *periodMs = 0;
    return rts::kOsOk;
}

rts::OsError no_timer_begin(RTS_UI32, const char**) {
    return rts::kOsOk;
}

rts::OsError kernel_tick(RTS_UI32* units, const char** pCall) {
    errno = 0;
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    if (ticksPerSecond <= 0) {
        *pCall = "sysconf";
        return errno != 0 ? static_cast<rts::OsError>(errno) : EINVAL;
    }
    *units = static_cast<RTS_UI32>(kIncrementUnitsPerSecond / static_cast<RTS_UI64>(ticksPerSecond));
    return rts::kOsOk;
}

rts::OsError monotonic_ns(RTS_UI64* ticks, const char** pCall) {
    timespec ts{};
    if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) {
        *pCall = "clock_gettime";
        return static_cast<rts::OsError>(errno);
    }
    *ticks = static_cast<RTS_UI64>(ts.tv_sec) * kNsPerSecond + static_cast<RTS_UI64>(ts.tv_nsec);
    return rts::kOsOk;
}

rts::OsError nanoseconds_per_second(RTS_UI64* perSecond, const char**) {
    *perSecond = kNsPerSecond;
    return rts::kOsOk;
}

RTS_UI32 monotonic_ms() {
    RTS_UI64 ns = 0;
    const char* ignored = nullptr;
    monotonic_ns(&ns, &ignored);
    return static_cast<RTS_UI32>(ns / kNsPerMs);
}

const Calls kPlatformCalls = {
    no_timer_period,        no_timer_begin, kernel_tick,  monotonic_ns,
    nanoseconds_per_second, monotonic_ms,   monotonic_ms,
};

} // namespace

const Calls& platform_calls() {
    return kPlatformCalls;
}

} // namespace systime_os
