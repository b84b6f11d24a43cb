/* SysMem: the heap adaptation. Every block carries its owner component's name at the call
 * site; blocks are zero-filled. */
#include <cstdlib>

#include "cm.h"
#include "sysmem.h"

namespace {

const CMExportEntry kExports[] = {
    {reinterpret_cast<RTS_VOID_FCTPTR>(SysMemAllocData), "SysMemAllocData", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(SysMemFreeData), "SysMemFreeData", 0, 0},
    {nullptr, nullptr, 0, 0},
};

RTS_RESULT export_functions() {
    return CMRegisterAPI(kExports, 0, 0, CMPID_SysMem);
}

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) {
    return RES_OK;
}

} // namespace

extern "C" RTS_RESULT SysMem__Entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(pInit, CMPID_SysMem, export_functions, nullptr, CMComponentVersion,
                            hook_function);
}

extern "C" void* SysMemAllocData(const char* owner, RTS_SIZE size, RTS_RESULT* pResult) {
    if (size == 0) {
        if (pResult != nullptr) *pResult = RES_PARAMETER;
        return nullptr;
    }
    void* p = std::calloc(1, size);
    if (pResult != nullptr) *pResult = p != nullptr ? RES_OK : RES_NOMEMORY;
    return p;
}

extern "C" RTS_RESULT SysMemFreeData(const char* owner, void* address) {
    if (address == nullptr) return RES_PARAMETER;
    std::free(address);
    return RES_OK;
}
