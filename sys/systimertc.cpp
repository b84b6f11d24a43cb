/* SysTimeRtc: the calendar clock, its conversions and time zones. */
#include "cm.h"

namespace {

const CMExportEntry kExports[] = {
    {nullptr, nullptr, 0, 0},
};

RTS_RESULT export_functions() {
    return CMRegisterAPI(kExports, 0, 0, CMPID_SysTimeRtc);
}

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) {
    return RES_OK;
}

} // namespace

extern "C" RTS_RESULT SysTimeRtc__Entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(pInit, CMPID_SysTimeRtc, export_functions, nullptr, CMComponentVersion,
                            hook_function);
}
