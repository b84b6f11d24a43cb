// Starts the framework with the program's own component list, prints what the standard
// logger's ring holds as the lines a log file would get (component listing and banner), and
// shuts it down again.
#include <cstdio>

#include "cm.h"
#include "cmplog.h"

namespace {

// Room for the longest line: timestamp, five id columns and 127 characters of text.
constexpr RTS_SIZE kLineSize = 256;

void print_ring_as_csv() {
    LogOptions* options = nullptr;
    if (LogGetOptions(nullptr, &options) != RES_OK) return;
    LogEntry e;
    RTS_RESULT r = RES_OK;
    for (int i = LogGetFirstEntry(nullptr, &e, &r); r == RES_OK; i = LogGetNextEntry(nullptr, i, &e, &r)) {
        char line[kLineSize];
        LogFormatCsvMessage(options, &e, line, sizeof line);
        std::printf("  %s\n", line);
    }
}

} // namespace

int main() {
    RTS_RESULT r = CMInit2(nullptr, StaticComponentList, 1);
    std::printf("CMInit2(NULL, StaticComponentList, 1) = %u, %d components\n", static_cast<unsigned>(r),
                CMGetNumOfComponents());
    std::printf("The standard logger's ring, as CSV lines:\n");
    print_ring_as_csv();
    r = CMExit();
    std::printf("CMExit() = %u, %d components left\n", static_cast<unsigned>(r), CMGetNumOfComponents());
    return 0;
}
