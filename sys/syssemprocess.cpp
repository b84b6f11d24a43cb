/* SysSemProcess: named semaphores between processes. Each one is a named mutex in the global
 * namespace ("Global\\" + the caller's name); its handle is the platform's handle. The
 * component owns the security that lets every authenticated user open the mutexes, built
 * at CH_INIT_SYSTEM and released at CH_EXIT_SYSTEM. A platform call that fails is logged with
 * the operating system's error before the documented result is returned. */
#include <cstring>

#include "cm/rts_common.h"
#include "cm.h"
#include "sys/syssemprocess_os.h"
#include "syssem.h"
#include "sysmem.h"

using rts::report;
using rts::valid_handle;

namespace {

constexpr const char* kOwner = "SysSemProcess";
constexpr const char kGlobalPrefix[] = "Global\\";
constexpr RTS_SIZE kGlobalPrefixLength = sizeof kGlobalPrefix - 1;

sys_os::CallTable<syssemprocess_os::Calls> g_calls;
bool g_secured = false;

/* Makes a platform call about the object named (null: none); a failure is logged. */
template <typename Fn, typename... Args> rts::OsError os_call(const char* object, Fn fn, Args... args) {
    return sys_os::call(CMPID_SysSemProcess, object, fn, args...);
}

/* Frees a name copy of this component when the scope ends. */
struct OwnedText {
    char* text;
    ~OwnedText() {
        if (text != nullptr) SysMemFreeData(kOwner, text);
    }
};

extern "C" {
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
}

const CMExportEntry kExports[] = {
    CM_EXPORT(SysSemProcessCreate), CM_EXPORT(SysSemProcessDelete), CM_EXPORT(SysSemProcessEnter),
    CM_EXPORT(SysSemProcessLeave),  CM_EXPORT(syssemprocesscreate), CM_EXPORT(syssemprocessdelete),
    CM_EXPORT(syssemprocessenter),  CM_EXPORT(syssemprocessleave),  {nullptr, nullptr, 0, 0},
};

RTS_RESULT export_functions() {
    return CMRegisterAPI(kExports, 0, 0, CMPID_SysSemProcess);
}

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
    const syssemprocess_os::Calls& os = syssemprocess_os::calls();
    if (hook == CH_INIT_SYSTEM && !g_secured) {
        g_secured = os_call(nullptr, os.security_init) == rts::kOsOk;
    } else if (hook == CH_EXIT_SYSTEM) {
        if (g_secured) os_call(nullptr, os.security_exit);
        g_secured = false;
        os.release_free_handles();
    }
    return RES_OK;
}

} // namespace

const syssemprocess_os::Calls& syssemprocess_os::calls() {
    return g_calls.get(platform_calls());
}

void syssemprocess_os::set_calls(const Calls* fake) {
    g_calls.set(fake);
}

extern "C" RTS_RESULT SysSemProcess__Entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(pInit, CMPID_SysSemProcess, export_functions, nullptr, CMComponentVersion,
                            hook_function);
}

extern "C" RTS_HANDLE SysSemProcessCreate(const char* name, RTS_RESULT* pResult) {
    if (name == nullptr) return report(pResult, RES_PARAMETER, RTS_INVALID_HANDLE);
    const RTS_SIZE length = std::strlen(name);
    OwnedText copy{static_cast<char*>(SysMemAllocData(kOwner, length + 1, nullptr))};
    OwnedText global{static_cast<char*>(SysMemAllocData(kOwner, length + kGlobalPrefixLength + 2, nullptr))};
    if (copy.text == nullptr || global.text == nullptr)
        return report(pResult, RES_NOMEMORY, RTS_INVALID_HANDLE);
    std::memcpy(copy.text, name, length + 1);
    std::memcpy(global.text, kGlobalPrefix, kGlobalPrefixLength);
    std::memcpy(global.text + kGlobalPrefixLength, copy.text, length + 1);

    void* mutex = nullptr;
    bool existed = false;
    if (os_call(global.text, syssemprocess_os::calls().mutex_create, global.text, &mutex, &existed) !=
        rts::kOsOk)
        return report(pResult, RES_FAILED, RTS_INVALID_HANDLE);
    return report(pResult, existed ? RES_DUPLICATE : RES_OK, static_cast<RTS_HANDLE>(mutex));
}

/* A handle that is not a live mutex of this process is bad input like the invalid handle. */
extern "C" RTS_RESULT SysSemProcessDelete(RTS_HANDLE hSem) {
    if (!valid_handle(hSem)) return RES_PARAMETER;
    return os_call(nullptr, syssemprocess_os::calls().mutex_close, hSem) == rts::kOsOk ? RES_OK
                                                                                       : RES_PARAMETER;
}

extern "C" RTS_RESULT SysSemProcessEnter(RTS_HANDLE hSem, RTS_UI32 timeoutMs) {
    if (!valid_handle(hSem)) return RES_PARAMETER;
    bool entered = false;
    if (os_call(nullptr, syssemprocess_os::calls().mutex_enter, hSem, timeoutMs, &entered) != rts::kOsOk)
        return RES_PARAMETER;
    return entered ? RES_OK : RES_TIMEOUT;
}

/* A leave from a thread that does not hold the mutex is refused with RES_FAILED. */
extern "C" RTS_RESULT SysSemProcessLeave(RTS_HANDLE hSem) {
    if (!valid_handle(hSem)) return RES_PARAMETER;
    const syssemprocess_os::Calls& os = syssemprocess_os::calls();
    const rts::OsError error = os_call(nullptr, os.mutex_leave, hSem);
    if (error == rts::kOsOk) return RES_OK;
    return os.not_owner(error) ? RES_FAILED : RES_PARAMETER;
}
