/* CmpChecksum: CRC-16 and CRC-32 checksums. */
#include "cm.h"

namespace {

const CMExportEntry kExports[] = {
    {nullptr, nullptr, 0, 0},
};

RTS_RESULT export_functions() { return CMRegisterAPI(kExports, 0, 0, CMPID_CmpChecksum); }

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) { return RES_OK; }

} // namespace

extern "C" RTS_RESULT CmpChecksum__Entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(pInit, CMPID_CmpChecksum, export_functions, nullptr, CMComponentVersion, hook_function);
}
