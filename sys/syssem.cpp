/* SysSem: semaphores inside the process, recursive for the thread that holds them. Each
 * handle is the address of a small record taken from the heap: the holding thread and its
 * depth, followed by the platform lock. The holder is kept so that the diagnosis mode
 * ("SemEnterDiagnosis") can name the thread a waiter is blocked by. */
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

using rts::valid_handle;

namespace {

constexpr const char* kOwner = "SysSem";
constexpr RTS_SIZE kDescriptionSize = 255;

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

/* Bookkeeping right after the calling thread took the lock / right before it gives it up. */
void note_taken(SemRecord* sem) {
    if (sem->depth++ == 0) sem->holder.store(syssem_os::current_thread_id(), std::memory_order_relaxed);
}

void note_leaving(SemRecord* sem) {
    if (sem->depth > 0 && --sem->depth == 0) sem->holder.store(0, std::memory_order_relaxed);
}

unsigned log_handle(RTS_HANDLE h) {
    return static_cast<unsigned>(reinterpret_cast<RTS_UINTPTR>(h));
}

/* Enter with the diagnosis on: a wait on a held semaphore is logged with both threads, and
 * its end once the semaphore is taken. */
void enter_with_diagnosis(RTS_HANDLE h) {
    SemRecord* sem = record_of(h);
    if (syssem_os::lock_try(lock_of(h))) {
        note_taken(sem);
        return;
    }
    const RTS_UI32 self = syssem_os::current_thread_id();
    const RTS_UI32 holder = sem->holder.load(std::memory_order_relaxed);
    char selfName[kDescriptionSize];
    char holderName[kDescriptionSize];
    syssem_os::thread_description(self, selfName, sizeof selfName);
    syssem_os::thread_description(holder, holderName, sizeof holderName);
    LogAdd(nullptr, CMPID_SysSem, LOG_DEBUG, RES_OK, 0,
           "ERROR: SysSemEnter: [Sem:0x%x] <%s> [tid:%d] is locked because of <%s> [tid:%d]", log_handle(h),
           selfName, static_cast<int>(self), holderName, static_cast<int>(holder));
    syssem_os::lock_enter(lock_of(h));
    note_taken(sem);
    LogAdd(nullptr, CMPID_SysSem, LOG_DEBUG, RES_OK, 0,
           "ERROR: SysSemEnter: [Sem:0x%x] <%s> [tid:%d] lock finished", log_handle(h), selfName,
           static_cast<int>(self));
}

void start_diagnosis() {
    RTS_I32 setting = 0;
    SettgGetIntValue(kOwner, "SemEnterDiagnosis", &setting, 0, 0);
    if (setting == 0 || !syssem_os::descriptions_open()) return;
    LogAdd(nullptr, CMPID_SysSem, LOG_WARNING, RES_OK, 0,
           "SysSemWin32: SysSemEnter diagnosis enabled! Only use this for diagnosis!");
    g_diagnosis.store(true);
}

void stop_diagnosis() {
    if (g_diagnosis.exchange(false)) syssem_os::descriptions_close();
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
    if (hook == CH_INIT2) start_diagnosis();
    if (hook == CH_EXIT) stop_diagnosis();
    return RES_OK;
}

} // namespace

extern "C" RTS_RESULT SysSem__Entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(pInit, CMPID_SysSem, export_functions, nullptr, CMComponentVersion,
                            hook_function);
}

extern "C" RTS_HANDLE SysSemCreate(RTS_RESULT* pResult) {
    RTS_RESULT r = RES_OK;
    void* memory = SysMemAllocData(kOwner, kLockOffset + syssem_os::lock_size(), &r);
    if (memory == nullptr) {
        if (pResult != nullptr) *pResult = RES_NOMEMORY;
        return RTS_INVALID_HANDLE;
    }
    SemRecord* sem = new (memory) SemRecord();
    if (!syssem_os::lock_init(lock_of(sem))) {
        sem->~SemRecord();
        SysMemFreeData(kOwner, memory);
        if (pResult != nullptr) *pResult = RES_FAILED;
        return RTS_INVALID_HANDLE;
    }
    if (pResult != nullptr) *pResult = RES_OK;
    return sem;
}

extern "C" RTS_RESULT SysSemDelete(RTS_HANDLE hSem) {
    if (!valid_handle(hSem)) return RES_PARAMETER;
    syssem_os::lock_destroy(lock_of(hSem));
    record_of(hSem)->~SemRecord();
    SysMemFreeData(kOwner, hSem);
    return RES_OK;
}

extern "C" RTS_RESULT SysSemEnter(RTS_HANDLE hSem) {
    if (!valid_handle(hSem)) return RES_PARAMETER;
    if (g_diagnosis.load(std::memory_order_relaxed)) {
        enter_with_diagnosis(hSem);
        return RES_OK;
    }
    syssem_os::lock_enter(lock_of(hSem));
    note_taken(record_of(hSem));
    return RES_OK;
}

extern "C" RTS_RESULT SysSemLeave(RTS_HANDLE hSem) {
    if (!valid_handle(hSem)) return RES_PARAMETER;
    note_leaving(record_of(hSem));
    syssem_os::lock_leave(lock_of(hSem));
    return RES_OK;
}

extern "C" RTS_RESULT SysSemTry(RTS_HANDLE hSem) {
    if (!valid_handle(hSem)) return RES_PARAMETER;
    if (!syssem_os::lock_try(lock_of(hSem))) return RES_FAILED;
    note_taken(record_of(hSem));
    return RES_OK;
}
