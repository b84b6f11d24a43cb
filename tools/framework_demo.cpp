// Starts the framework with the program's own component list, prints what the standard
// logger's early ring holds (component listing and banner), and shuts it down again.
#include <cstdio>

#include "cm.h"
#include "cmplog.h"

namespace {

void print_log(int from) {
    LogEntry e;
    for (int i = from; LogEarlyBufferGet(i, &e) == RES_OK; ++i)
        std::printf("  [cmp 0x%04x class %2u info %2u] %s\n", static_cast<unsigned>(e.CmpId),
                    static_cast<unsigned>(e.ClassId), static_cast<unsigned>(e.InfoId), e.InfoText);
}

} // namespace

int main() {
    RTS_RESULT r = CMInit2(nullptr, StaticComponentList, 1);
    std::printf("CMInit2(NULL, StaticComponentList, 1) = %u, %d components\n", static_cast<unsigned>(r),
                CMGetNumOfComponents());
    print_log(0);
    int mark = LogEarlyBufferCount();
    r = CMExit();
    std::printf("CMExit() = %u, %d components left\n", static_cast<unsigned>(r), CMGetNumOfComponents());
    print_log(mark);
    return 0;
}
