/* SysSem: semaphores inside the process, recursive for the thread that holds them. Each
 * handle is the address of a small record taken from the heap: the holding thread and its
 * depth, followed by the platform lock. The holder is kept so that the diagnosis mode
 * ("SemEnterDiagnosis") can name the thread a waiter is blocked by. A platform call that
 * fails is logged with the operating system's error; an operation it leaves undone reports
 * RES_FAILED. */
#include <atomic>
#include <cstddef>
#include <new>

#include "cm/rts_common.h"
#include "cm.h"
#include "cmplog.h"
#include "cmpsettings.h"
#include "sys/syssem_os.h"
#include "syssem.h"
#include "sysmem.h"

using rts::report;
using rts::valid_handle;

namespace {

constexpr const char* kOwner = "SysSem";
constexpr RTS_SIZE kDescriptionSize = 255;

sys_os::CallTable<syssem_os::Calls> g_calls;

struct SemRecord {
    std::atomic<RTS_UI32> holder{0}; /* thread id of the holder, 0 while free */
    RTS_UI32 depth = 0;              /* levels entered by the holder; changed only under the lock */
};

/* The platform lock follows the record, aligned for any type. */
constexpr RTS_SIZE kLockOffset = (sizeof(SemRecord) + alignof(std::max_align_t) - 1) /
                                 alignof(std::max_align_t) * alignof(std::max_align_t);

/* Decided at CH_INIT2 and dropped at CH_EXIT; read by every enter. */
std::atomic<bool> g_diagnosis{false};

SemRecord* record_of(RTS_HANDLE h) {
    return static_cast<SemRecord*>(h);
}

void* lock_of(RTS_HANDLE h) {
    return static_cast<unsigned char*>(h) + kLockOffset;
}

/* Makes a platform call; a failure is logged, and the operation then reports RES_FAILED. */
template <typename Fn, typename... Args> bool os_ok(Fn fn, Args... args) {
    return sys_os::call(CMPID_SysSem, nullptr, fn, args...) == rts::kOsOk;
}

/* Bookkeeping right after the calling thread took the lock / right before it gives it up. */
void note_taken(SemRecord* sem, const syssem_os::Calls& os) {
    if (sem->depth++ == 0) sem->holder.store(os.current_thread_id(), std::memory_order_relaxed);
}

void note_leaving(SemRecord* sem) {
    if (sem->depth > 0 && --sem->depth == 0) sem->holder.store(0, std::memory_order_relaxed);
}

/* Waits for the lock and notes the new holder. */
RTS_RESULT take(RTS_HANDLE h) {
    const syssem_os::Calls& os = syssem_os::calls();
    if (!os_ok(os.lock_enter, lock_of(h))) return RES_FAILED;
    note_taken(record_of(h), os);
    return RES_OK;
}

unsigned log_handle(RTS_HANDLE h) {
    return static_cast<unsigned>(reinterpret_cast<RTS_UINTPTR>(h));
}

/* The description of a thread for the diagnosis lines; empty when the platform has none. */
void describe(RTS_UI32 threadId, char (&name)[kDescriptionSize]) {
    if (!os_ok(syssem_os::calls().thread_description, threadId, name, sizeof name)) name[0] = '\0';
}

/* Enter with the diagnosis on: a wait on a held semaphore is logged with both threads, and
 * its end once the semaphore is taken. */
RTS_RESULT enter_with_diagnosis(RTS_HANDLE h) {
    bool taken = false;
    if (!os_ok(syssem_os::calls().lock_try, lock_of(h), &taken)) return RES_FAILED;
    if (taken) {
        note_taken(record_of(h), syssem_os::calls());
        return RES_OK;
    }
    const RTS_UI32 self = syssem_os::calls().current_thread_id();
    const RTS_UI32 holder = record_of(h)->holder.load(std::memory_order_relaxed);
    char selfName[kDescriptionSize];
    char holderName[kDescriptionSize];
    describe(self, selfName);
    describe(holder, holderName);
    LogAdd(nullptr, CMPID_SysSem, LOG_DEBUG, RES_OK, 0,
           "ERROR: SysSemEnter: [Sem:0x%x] <%s> [tid:%d] is locked because of <%s> [tid:%d]", log_handle(h),
           selfName, static_cast<int>(self), holderName, static_cast<int>(holder));
    const RTS_RESULT result = take(h);
    if (result == RES_OK) {
        LogAdd(nullptr, CMPID_SysSem, LOG_DEBUG, RES_OK, 0,
               "ERROR: SysSemEnter: [Sem:0x%x] <%s> [tid:%d] lock finished", log_handle(h), selfName,
               static_cast<int>(self));
    }
    return result;
}

void start_diagnosis() {
    RTS_I32 setting = 0;
    SettgGetIntValue(kOwner, "SemEnterDiagnosis", &setting, 0, 0);
    if (setting == 0) return;
    if (!os_ok(syssem_os::calls().descriptions_open)) return;
    LogAdd(nullptr, CMPID_SysSem, LOG_WARNING, RES_OK, 0,
           "SysSemWin32: SysSemEnter diagnosis enabled! Only use this for diagnosis!");
    g_diagnosis.store(true);
}

void stop_diagnosis() {
    if (g_diagnosis.exchange(false)) os_ok(syssem_os::calls().descriptions_close);
}

struct SemCreateParams {
    RTS_RESULT* pResult;
    RTS_HANDLE result;
};
struct SemHandleParams {
    RTS_HANDLE hSem;
    RTS_RESULT result;
};

extern "C" {
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
}

const CMExportEntry kExports[] = {
    CM_EXPORT(SysSemCreate), CM_EXPORT(SysSemDelete), CM_EXPORT(SysSemEnter),   CM_EXPORT(SysSemLeave),
    CM_EXPORT(SysSemTry),    CM_EXPORT(syssemcreate), CM_EXPORT(syssemdelete),  CM_EXPORT(syssementer),
    CM_EXPORT(syssemleave),  CM_EXPORT(syssemtry),    {nullptr, nullptr, 0, 0},
};

RTS_RESULT export_functions() {
    return CMRegisterAPI(kExports, 0, 0, CMPID_SysSem);
}

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
    if (hook == CH_INIT2) start_diagnosis();
    if (hook == CH_EXIT) stop_diagnosis();
    return RES_OK;
}

} // namespace

const syssem_os::Calls& syssem_os::calls() {
    return g_calls.get(platform_calls());
}

void syssem_os::set_calls(const Calls* fake) {
    g_calls.set(fake);
}

extern "C" RTS_RESULT SysSem__Entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(pInit, CMPID_SysSem, export_functions, nullptr, CMComponentVersion,
                            hook_function);
}

extern "C" RTS_HANDLE SysSemCreate(RTS_RESULT* pResult) {
    void* memory = SysMemAllocData(kOwner, kLockOffset + syssem_os::calls().lock_size, nullptr);
    if (memory == nullptr) return report(pResult, RES_NOMEMORY, RTS_INVALID_HANDLE);
    SemRecord* sem = new (memory) SemRecord();
    if (!os_ok(syssem_os::calls().lock_init, lock_of(sem))) {
        sem->~SemRecord();
        SysMemFreeData(kOwner, memory);
        return report(pResult, RES_FAILED, RTS_INVALID_HANDLE);
    }
    return report(pResult, RES_OK, static_cast<RTS_HANDLE>(sem));
}

extern "C" RTS_RESULT SysSemDelete(RTS_HANDLE hSem) {
    if (!valid_handle(hSem)) return RES_PARAMETER;
    os_ok(syssem_os::calls().lock_destroy, lock_of(hSem));
    record_of(hSem)->~SemRecord();
    SysMemFreeData(kOwner, hSem);
    return RES_OK;
}

extern "C" RTS_RESULT SysSemEnter(RTS_HANDLE hSem) {
    if (!valid_handle(hSem)) return RES_PARAMETER;
    if (g_diagnosis.load(std::memory_order_relaxed)) return enter_with_diagnosis(hSem);
    return take(hSem);
}

extern "C" RTS_RESULT SysSemLeave(RTS_HANDLE hSem) {
    if (!valid_handle(hSem)) return RES_PARAMETER;
    /* Only the holder keeps the books; the platform refuses a leave by any other thread. */
    const syssem_os::Calls& os = syssem_os::calls();
    SemRecord* sem = record_of(hSem);
    if (sem->holder.load(std::memory_order_relaxed) == os.current_thread_id()) note_leaving(sem);
    return os_ok(os.lock_leave, lock_of(hSem)) ? RES_OK : RES_FAILED;
}

extern "C" RTS_RESULT SysSemTry(RTS_HANDLE hSem) {
    if (!valid_handle(hSem)) return RES_PARAMETER;
    const syssem_os::Calls& os = syssem_os::calls();
    bool taken = false;
    if (!os_ok(os.lock_try, lock_of(hSem), &taken) || !taken) return RES_FAILED;
    note_taken(record_of(hSem), os);
    return RES_OK;
}
