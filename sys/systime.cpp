/* SysTime: monotonic ticks in milliseconds (32-bit, wrapping), microseconds and nanoseconds. */
#include "cm.h"
#include "sys/systime_os.h"
#include "systime.h"

namespace {

const CMExportEntry kExports[] = {
    {reinterpret_cast<RTS_VOID_FCTPTR>(SysTimeGetMs), "SysTimeGetMs", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(SysTimeGetUs), "SysTimeGetUs", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(SysTimeGetNs), "SysTimeGetNs", 0, 0},
    {nullptr, nullptr, 0, 0},
};

RTS_RESULT export_functions() {
    return CMRegisterAPI(kExports, 0, 0, CMPID_SysTime);
}

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) {
    return RES_OK;
}

} // namespace

extern "C" RTS_RESULT SysTime__Entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(pInit, CMPID_SysTime, export_functions, nullptr, CMComponentVersion,
                            hook_function);
}

extern "C" RTS_UI32 SysTimeGetMs(void) {
    return static_cast<RTS_UI32>(systime_os::monotonic_ns() / 1000000u);
}
extern "C" RTS_UI64 SysTimeGetUs(void) {
    return systime_os::monotonic_ns() / 1000u;
}
extern "C" RTS_UI64 SysTimeGetNs(void) {
    return systime_os::monotonic_ns();
}
