// Starts the framework with the program's own component list and prints, as the CSV lines a
// log file would get, every entry of the standard logger: a console backend of its own,
// registered through the manager's classes, receives the start-up entries in the
// communication cycle and the shut-down entries as they come (the logger dumps every entry
// from its exit on). What is logged after the loggers are gone (a pool leak, say) the early
// buffer keeps; that is printed last.
#include <cstdio>
#include <vector>

#include "cm.h"
#include "cmplog.h"
#include "log/cmplog_internal.h"

namespace {

constexpr RTS_UI32 kDemoCmpId = 0x7700;
constexpr RTS_UI32 kConsoleBackend = 0x7700;
// Room for the longest line: timestamp, five id columns and 127 characters of text.
constexpr RTS_SIZE kLineSize = 256;

void print_csv(const LogOptions& options, const LogEntry& e) {
    char line[kLineSize];
    LogFormatCsvMessage(&options, &e, line, sizeof line);
    std::printf("  %s\n", line);
}

// The console backend: its handle is the logger whose options shape the lines.
struct ConsoleBackend {
    LogBackendInstance base;
    ILogBackend itf;
};
int g_printed = 0;

void* create_console(RTS_UI32 classId) {
    auto* b = new ConsoleBackend{};
    b->base.QueryInterface = [](void* self, RTS_UI32 id, RTS_RESULT*) -> void* {
        return id == LOG_BACKEND_INTERFACE_ID ? &static_cast<ConsoleBackend*>(self)->itf : nullptr;
    };
    b->itf = {&b->base, [](LogBackendInstance*, RTS_UI32, RTS_HANDLE logger) { return logger; },
              [](RTS_HANDLE, ILogBackend*) { return RES_OK; },
              [](RTS_HANDLE logger, RTS_HANDLE, const LogEntry* e, RTS_RESULT* pResult) {
                  print_csv(*static_cast<const LogOptions*>(logger), *e);
                  ++g_printed;
                  *pResult = RES_OK;
                  return logger;
              }};
    return b;
}

RTS_RESULT delete_console(void* instance) {
    delete static_cast<ConsoleBackend*>(instance);
    return RES_OK;
}

void add_console_backend() {
    ComponentRecord rec{.id = kDemoCmpId, .name = "DemoConsole", .createInstance = create_console};
    rec.deleteInstance = delete_console;
    rec.state = CM_STATE_REGISTERED;
    rec.staticName = 1;
    CMAddComponent(&rec, nullptr);
    CMRegisterClass(kDemoCmpId, kConsoleBackend);
    LogRegisterBackend(nullptr, kConsoleBackend);
}

} // namespace

int main() {
    RTS_RESULT r = CMInit2(nullptr, StaticComponentList, 1);
    std::printf("CMInit2(NULL, StaticComponentList, 1) = %u, %d components\n", static_cast<unsigned>(r),
                CMGetNumOfComponents());
    add_console_backend();
    for (int before = -1; before != g_printed;) { // four entries per cycle, as in the program
        before = g_printed;
        CMCallHook(CH_COMM_CYCLE, 0, nullptr, 0);
    }
    r = CMExit();
    std::printf("CMExit() = %u, %d components left\n", static_cast<unsigned>(r), CMGetNumOfComponents());
    for (int i = 0; i < cmplog::g_early.next.load(); ++i) {
        LogEntry e;
        if (cmplog::read_slot(cmplog::g_early.slots[i], e) == RES_OK) print_csv(LogOptions{}, e);
    }
    return 0;
}
