/* SysCpuHandling: atomic operations, stack helpers and parameter-block calls. */
#include "cm.h"

namespace {

const CMExportEntry kExports[] = {
    {nullptr, nullptr, 0, 0},
};

RTS_RESULT export_functions() { return CMRegisterAPI(kExports, 0, 0, CMPID_SysCpuHandling); }

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) { return RES_OK; }

} // namespace

extern "C" RTS_RESULT SysCpuHandling__Entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(pInit, CMPID_SysCpuHandling, export_functions, nullptr, CMComponentVersion, hook_function);
}
