/* SysSemProcess: named semaphores between processes. Each one is a named mutex in the global
 * namespace ("Global\\" + the caller's name); its handle is the platform's handle. The
 * component owns the security that lets every authenticated user open the mutexes, built
 * at CH_INIT_SYSTEM and released at CH_EXIT_SYSTEM. */
#include <cstring>

#include "cm/rts_common.h"
#include "cm.h"
#include "sys/syssemprocess_os.h"
#include "syssem.h"
#include "sysmem.h"

using rts::valid_handle;

namespace {

constexpr const char* kOwner = "SysSemProcess";
constexpr const char kGlobalPrefix[] = "Global\\";
constexpr RTS_SIZE kGlobalPrefixLength = sizeof kGlobalPrefix - 1;

/* A handle that is not a live mutex of this process is bad input like the invalid handle; a
 * leave from a thread that does not hold the mutex is refused. */
RTS_RESULT to_result(syssemprocess_os::Outcome outcome) {
    switch (outcome) {
        case syssemprocess_os::Outcome::ok:
            return RES_OK;
        case syssemprocess_os::Outcome::timeout:
            return RES_TIMEOUT;
        case syssemprocess_os::Outcome::not_owner:
            return RES_FAILED;
        default:
            return RES_PARAMETER;
    }
}

RTS_HANDLE fail(RTS_RESULT* pResult, RTS_RESULT result) {
    if (pResult != nullptr) *pResult = result;
    return RTS_INVALID_HANDLE;
}

/* Frees a name copy of this component when the scope ends. */
struct OwnedText {
    char* text;
    ~OwnedText() {
        if (text != nullptr) SysMemFreeData(kOwner, text);
    }
};

void syssemprocesscreate(SemProcessCreateParams* p) {
    p->result = SysSemProcessCreate(p->name, p->pResult);
}
void syssemprocessdelete(SemProcessHandleParams* p) {
    p->result = SysSemProcessDelete(p->hSem);
}
void syssemprocessenter(SemProcessEnterParams* p) {
    p->result = SysSemProcessEnter(p->hSem, p->timeoutMs);
}
void syssemprocessleave(SemProcessHandleParams* p) {
    p->result = SysSemProcessLeave(p->hSem);
}

const CMExportEntry kExports[] = {
    {reinterpret_cast<RTS_VOID_FCTPTR>(SysSemProcessCreate), "SysSemProcessCreate", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(SysSemProcessDelete), "SysSemProcessDelete", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(SysSemProcessEnter), "SysSemProcessEnter", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(SysSemProcessLeave), "SysSemProcessLeave", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(syssemprocesscreate), "syssemprocesscreate", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(syssemprocessdelete), "syssemprocessdelete", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(syssemprocessenter), "syssemprocessenter", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(syssemprocessleave), "syssemprocessleave", 0, 0},
    {nullptr, nullptr, 0, 0},
};

RTS_RESULT export_functions() {
    return CMRegisterAPI(kExports, 0, 0, CMPID_SysSemProcess);
}

bool g_secured = false;

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) {
    if (hook == CH_INIT_SYSTEM && !g_secured) {
        g_secured = syssemprocess_os::security_init();
    } else if (hook == CH_EXIT_SYSTEM) {
        if (g_secured) syssemprocess_os::security_exit();
        g_secured = false;
        syssemprocess_os::release_free_handles();
    }
    return RES_OK;
}

} // namespace

extern "C" RTS_RESULT SysSemProcess__Entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(pInit, CMPID_SysSemProcess, export_functions, nullptr, CMComponentVersion,
                            hook_function);
}

extern "C" RTS_HANDLE SysSemProcessCreate(const char* name, RTS_RESULT* pResult) {
    if (name == nullptr) return fail(pResult, RES_PARAMETER);
    const RTS_SIZE length = std::strlen(name);
    RTS_RESULT r = RES_OK;
    OwnedText copy{static_cast<char*>(SysMemAllocData(kOwner, length + 1, &r))};
    OwnedText global{static_cast<char*>(SysMemAllocData(kOwner, length + kGlobalPrefixLength + 2, &r))};
    if (copy.text == nullptr || global.text == nullptr) return fail(pResult, RES_NOMEMORY);
    std::memcpy(copy.text, name, length + 1);
    std::memcpy(global.text, kGlobalPrefix, kGlobalPrefixLength);
    std::memcpy(global.text + kGlobalPrefixLength, copy.text, length + 1);

    bool existed = false;
    void* mutex = syssemprocess_os::mutex_create(global.text, &existed);
    if (mutex == nullptr) return fail(pResult, RES_FAILED);
    if (pResult != nullptr) *pResult = existed ? RES_DUPLICATE : RES_OK;
    return mutex;
}

extern "C" RTS_RESULT SysSemProcessDelete(RTS_HANDLE hSem) {
    if (!valid_handle(hSem)) return RES_PARAMETER;
    return syssemprocess_os::mutex_close(hSem) ? RES_OK : RES_PARAMETER;
}

extern "C" RTS_RESULT SysSemProcessEnter(RTS_HANDLE hSem, RTS_UI32 timeoutMs) {
    if (!valid_handle(hSem)) return RES_PARAMETER;
    return to_result(syssemprocess_os::mutex_enter(hSem, timeoutMs));
}

extern "C" RTS_RESULT SysSemProcessLeave(RTS_HANDLE hSem) {
    if (!valid_handle(hSem)) return RES_PARAMETER;
    return to_result(syssemprocess_os::mutex_leave(hSem));
}
