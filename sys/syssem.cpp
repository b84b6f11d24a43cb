/* SysSem: semaphores inside the process, recursive for the thread that holds them. Each
 * handle is the address of a platform lock taken from the heap. */
#include "cm.h"
#include "sys/syssem_os.h"
#include "syssem.h"
#include "sysmem.h"

namespace {

constexpr const char* kOwner = "SysSem";

bool valid(RTS_HANDLE h) {
    return h != nullptr && h != RTS_INVALID_HANDLE;
}

struct SemCreateParams {
    RTS_RESULT* pResult;
    RTS_HANDLE result;
};
struct SemHandleParams {
    RTS_HANDLE hSem;
    RTS_RESULT result;
};

void syssemcreate(SemCreateParams* p) {
    p->result = SysSemCreate(p->pResult);
}
void syssemdelete(SemHandleParams* p) {
    p->result = SysSemDelete(p->hSem);
}
void syssementer(SemHandleParams* p) {
    p->result = SysSemEnter(p->hSem);
}
void syssemleave(SemHandleParams* p) {
    p->result = SysSemLeave(p->hSem);
}
void syssemtry(SemHandleParams* p) {
    p->result = SysSemTry(p->hSem);
}

const CMExportEntry kExports[] = {
    {reinterpret_cast<RTS_VOID_FCTPTR>(SysSemCreate), "SysSemCreate", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(SysSemDelete), "SysSemDelete", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(SysSemEnter), "SysSemEnter", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(SysSemLeave), "SysSemLeave", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(SysSemTry), "SysSemTry", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(syssemcreate), "syssemcreate", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(syssemdelete), "syssemdelete", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(syssementer), "syssementer", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(syssemleave), "syssemleave", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(syssemtry), "syssemtry", 0, 0},
    {nullptr, nullptr, 0, 0},
};

RTS_RESULT export_functions() {
    return CMRegisterAPI(kExports, 0, 0, CMPID_SysSem);
}

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) {
    return RES_OK;
}

} // namespace

extern "C" RTS_RESULT SysSem__Entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(pInit, CMPID_SysSem, export_functions, nullptr, CMComponentVersion,
                            hook_function);
}

extern "C" RTS_HANDLE SysSemCreate(RTS_RESULT* pResult) {
    RTS_RESULT r = RES_OK;
    void* lock = SysMemAllocData(kOwner, syssem_os::lock_size(), &r);
    if (lock == nullptr) {
        if (pResult != nullptr) *pResult = RES_NOMEMORY;
        return RTS_INVALID_HANDLE;
    }
    if (!syssem_os::lock_init(lock)) {
        SysMemFreeData(kOwner, lock);
        if (pResult != nullptr) *pResult = RES_FAILED;
        return RTS_INVALID_HANDLE;
    }
    if (pResult != nullptr) *pResult = RES_OK;
    return lock;
}

extern "C" RTS_RESULT SysSemDelete(RTS_HANDLE hSem) {
    if (!valid(hSem)) return RES_PARAMETER;
    syssem_os::lock_destroy(hSem);
    SysMemFreeData(kOwner, hSem);
    return RES_OK;
}

extern "C" RTS_RESULT SysSemEnter(RTS_HANDLE hSem) {
    if (!valid(hSem)) return RES_PARAMETER;
    syssem_os::lock_enter(hSem);
    return RES_OK;
}

extern "C" RTS_RESULT SysSemLeave(RTS_HANDLE hSem) {
    if (!valid(hSem)) return RES_PARAMETER;
    syssem_os::lock_leave(hSem);
    return RES_OK;
}

extern "C" RTS_RESULT SysSemTry(RTS_HANDLE hSem) {
    if (!valid(hSem)) return RES_PARAMETER;
    return syssem_os::lock_try(hSem) ? RES_OK : RES_FAILED;
}
