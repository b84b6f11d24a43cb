/* SysShm: named shared-memory blocks with per-process reference counts. */
#include "cm.h"

namespace {

const CMExportEntry kExports[] = {
    {nullptr, nullptr, 0, 0},
};

RTS_RESULT export_functions() { return CMRegisterAPI(kExports, 0, 0, CMPID_SysShm); }

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) { return RES_OK; }

} // namespace

extern "C" RTS_RESULT SysShm__Entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(pInit, CMPID_SysShm, export_functions, nullptr, CMComponentVersion, hook_function);
}
