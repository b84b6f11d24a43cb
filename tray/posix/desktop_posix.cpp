/* The process services of the desktop port on POSIX: standard output as it is, nanosleep and
 * the monotonic clock. The terminal desktop itself is in terminal_desktop.cpp. */
#include <cerrno>
#include <ctime>

#include "desktop.h"

namespace desktop {

bool attach_parent_console() {
    return true;
}

void sleep_ms(RTS_UI32 ms) {
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

RTS_UI32 tick_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const RTS_UI64 ms =
        static_cast<RTS_UI64>(now.tv_sec) * 1000u + static_cast<RTS_UI64>(now.tv_nsec) / 1000000u;
    return static_cast<RTS_UI32>(ms);
}

} // namespace desktop
