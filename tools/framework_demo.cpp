// Starts the framework with the program's own component list, prints what the standard
// logger's ring holds as the lines a log file would get (component listing and banner), shuts
// it down again and prints what was logged after the loggers were gone (the shut-down lines and
// any pool leak), which the early buffer keeps.
#include <cstdio>
#include <vector>

#include "cm.h"
#include "cmplog.h"
#include "log/cmplog_internal.h"

namespace {

// Room for the longest line: timestamp, five id columns and 127 characters of text.
constexpr RTS_SIZE kLineSize = 256;

void print_csv(const LogOptions& options, const std::vector<LogEntry>& entries) {
    for (const LogEntry& e : entries) {
        char line[kLineSize];
        LogFormatCsvMessage(&options, &e, line, sizeof line);
        std::printf("  %s\n", line);
    }
}

std::vector<LogEntry> ring_entries() {
    std::vector<LogEntry> out;
    LogEntry e;
    RTS_RESULT r = RES_OK;
    for (int i = LogGetFirstEntry(nullptr, &e, &r); r == RES_OK; i = LogGetNextEntry(nullptr, i, &e, &r))
        out.push_back(e);
    return out;
}

std::vector<LogEntry> early_entries() {
    std::vector<LogEntry> out;
    LogEntry e;
    for (int i = 0; i < cmplog::g_early.next.load(); ++i)
        if (cmplog::read_slot(cmplog::g_early.slots[i], e) == RES_OK) out.push_back(e);
    return out;
}

} // namespace

int main() {
    RTS_RESULT r = CMInit2(nullptr, StaticComponentList, 1);
    std::printf("CMInit2(NULL, StaticComponentList, 1) = %u, %d components\n", static_cast<unsigned>(r),
                CMGetNumOfComponents());
    LogOptions* options = nullptr;
    if (LogGetOptions(nullptr, &options) == RES_OK) {
        std::printf("The standard logger's ring, as CSV lines:\n");
        print_csv(*options, ring_entries());
    }
    r = CMExit();
    std::printf("CMExit() = %u, %d components left; logged after the loggers were gone:\n",
                static_cast<unsigned>(r), CMGetNumOfComponents());
    print_csv(LogOptions{}, early_entries());
    return 0;
}
