/* The desktop port on POSIX: the string table compiled in from the shared resource header,
 * message boxes as "<caption>: <text>" lines on standard error, standard output as it is,
 * nanosleep and the monotonic clock. */
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "desktop.h"
#include "resources/strings.h"

namespace desktop {

namespace {

struct TableEntry {
    RTS_UI32 id;
    const char* text;
};

constexpr TableEntry kStringTable[] = {
    {IDS_APP_TITLE, STR_APP_TITLE},
    {IDS_COMPANY, STR_COMPANY},
    {IDS_SERVICE_NAME, STR_SERVICE_NAME},
    {IDS_MAIN_WINDOW_CLASS, STR_MAIN_WINDOW_CLASS},
};

} // namespace

int load_string(RTS_HANDLE instance, RTS_UI32 id, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    buffer[0] = '\0';
    for (const TableEntry& entry : kStringTable) {
        if (entry.id != id) continue;
        int n = 0;
        for (; n + 1 < size && entry.text[n] != '\0'; ++n) buffer[n] = entry.text[n];
        buffer[n] = '\0';
        return n;
    }
    return 0;
}

void message_box(const char* text, const char* caption, BoxKind kind) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
}

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
