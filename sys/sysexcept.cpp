/* SysExcept: the system's exception codes and their names, the mapping of platform codes onto
 * them, the table of registered exception handlers, the try frames of each running context and
 * the raising of exceptions, from a call or from a fault of the processor.
 *
 * Each context has a slot that heads its chain of try frames: a task's own slot (every task is
 * a thread), and for code outside tasks one slot for the start-up and another for the
 * communication cycle. Which of the two is told by the hook the manager delivers last: the
 * start-up lasts until this component has seen CH_INIT_FINISHED and the manager has delivered a
 * later hook, the cycle's slot serves while CH_COMM_CYCLE is the hook delivered last. At other
 * times there is none, and nothing is resumed.
 * A raise that finds a frame in the slot resumes it instead of calling the handlers. The
 * handler table and its growth are guarded by one recursive lock, which a raise holds while it
 * calls the handlers, so that a handler may unregister itself or register another. */
#include <atomic>
#include <cstring>
#include <mutex>
#include <string_view>

#include "cm/rts_common.h"
#include "cm.h"
#include "cmutils.h"
#include "events.h"
#include "sys/sysexcept_internal.h"
#include "sys/sysexcept_os.h"
#include "sysexcept.h"
#include "sysmem.h"
#include "systask.h"

using rts::valid_handle;
using sysexcept::imported;

namespace {

/* ---- codes and names ----------------------------------------------------------------------- */

struct CodeName {
    RTS_UI32 code;
    const char* name;
};

/* In the order names are searched. */
constexpr CodeName kCodeNames[] = {
    {RTSEXCPT_NOEXCEPTION, "NoException"},
    {RTSEXCPT_WATCHDOG, "Watchdog"},
    {RTSEXCPT_PROCESSORLOAD_WATCHDOG, "ProcessorLoadWatchdog"},
    {RTSEXCPT_HARDWARE_WATCHDOG, "HardwareWatchdog"},
    {RTSEXCPT_IO_CONFIG_ERROR, "IoConfigError"},
    {RTSEXCPT_PROGRAMCHECKSUM, "ProgramChecksum"},
    {RTSEXCPT_FIELDBUS_ERROR, "FieldbusError"},
    {RTSEXCPT_IOUPDATE_ERROR, "IoUpdateError"},
    {RTSEXCPT_CYCLE_TIME_EXCEED, "CycleTimeExceed"},
    {RTSEXCPT_ONLCHANGE_PROGRAM_EXCEEDED, "OnlineChangeProgramExceed"},
    {RTSEXCPT_UNRESOLVED_EXTREFS, "UnresolvedExternalReferences"},
    {RTSEXCPT_DOWNLOAD_REJECTED, "DownloadRejected"},
    {RTSEXCPT_BOOTPROJECT_REJECTED_DUE_RETAIN_ERROR, "BootprojectRejectedRetainError"},
    {RTSEXCPT_LOADBOOTPROJECT_FAILED, "LoadBootprojectFailed"},
    {RTSEXCPT_OUT_OF_MEMORY, "OutOfMemory"},
    {RTSEXCPT_RETAIN_MEMORY_ERROR, "RetainMemoryError"},
    {RTSEXCPT_BOOTPROJECT_CRASH, "BootprojectCrash"},
    {RTSEXCPT_BOOTPROJECTTARGETMISMATCH, "BootprojectTargetMismatch"},
    {RTSEXCPT_SCHEDULEERROR, "ScheduleError"},
    {RTSEXCPT_FILE_CHECKSUM_ERR, "FileChecksumError"},
    {RTSEXCPT_RETAIN_IDENTITY_MISMATCH, "RetainIdentityMismatch"},
    {RTSEXCPT_IEC_TASK_CONFIG_ERROR, "IecTaskConfigError"},
    {RTSEXCPT_APP_TARGET_MISMATCH, "TargetMismatch"},
    {RTSEXCPT_ILLEGAL_INSTRUCTION, "IllegalInstruction"},
    {RTSEXCPT_ACCESS_VIOLATION, "AccessViolation"},
    {RTSEXCPT_PRIV_INSTRUCTION, "PriviledgedInstruction"},
    {RTSEXCPT_IN_PAGE_ERROR, "InPageError"},
    {RTSEXCPT_STACK_OVERFLOW, "StackOverflow"},
    {RTSEXCPT_INVALID_DISPOSITION, "InvalidDisposition"},
    {RTSEXCPT_INVALID_HANDLE, "InvalidHandle"},
    {RTSEXCPT_GUARD_PAGE, "GuardPage"},
    {RTSEXCPT_DOUBLE_FAULT, "DoubleFault"},
    {RTSEXCPT_INVALID_OPCODE, "InvalidOpCode"},
    {RTSEXCPT_MISALIGNMENT, "Misalignment"},
    {RTSEXCPT_ARRAYBOUNDS, "ArrayBounds"},
    {RTSEXCPT_DIVIDEBYZERO, "DivisionByZero"},
    {RTSEXCPT_OVERFLOW, "Overflow"},
    {RTSEXCPT_NONCONTINUABLE, "NonContinuable"},
    {RTSEXCPT_FPU_ERROR, "FPU Error"},
    {RTSEXCPT_FPU_DENORMAL_OPERAND, "FPU DenormalOperand"},
    {RTSEXCPT_FPU_DIVIDEBYZERO, "FPU DivisionByZero"},
    {RTSEXCPT_FPU_INEXACT_RESULT, "FPU InexactResult"},
    {RTSEXCPT_FPU_INVALID_OPERATION, "FPU InvalidOperation"},
    {RTSEXCPT_FPU_OVERFLOW, "FPU Overflow"},
    {RTSEXCPT_FPU_STACK_CHECK, "FPU StackCheck"},
    {RTSEXCPT_FPU_UNDERFLOW, "FPU Underflow"},
    {RTSEXCPT_OMITTED_CYCLE_WATCHDOG, "OmittedCycle watchdog"},
    {RTSEXCPT_VENDOR_EXCEPTION_BASE, "VendorException"},
};

/* Windows exception codes and the system codes they stand for. */
struct PlatformCode {
    RTS_UI32 platform;
    RTS_UI32 code;
};
constexpr PlatformCode kMapping[] = {
    {0xC0000005u, RTSEXCPT_ACCESS_VIOLATION},
    {0x80000002u, RTSEXCPT_MISALIGNMENT},
    {0xC0000025u, RTSEXCPT_NONCONTINUABLE},
    {0xC000008Cu, RTSEXCPT_ARRAYBOUNDS},
    {0xC000008Du, RTSEXCPT_FPU_DENORMAL_OPERAND},
    {0xC000008Eu, RTSEXCPT_FPU_DIVIDEBYZERO},
    {0xC000008Fu, RTSEXCPT_FPU_INEXACT_RESULT},
    {0xC0000090u, RTSEXCPT_FPU_INVALID_OPERATION},
    {0xC0000091u, RTSEXCPT_FPU_OVERFLOW},
    {0xC0000092u, RTSEXCPT_FPU_STACK_CHECK},
    {0xC0000093u, RTSEXCPT_FPU_UNDERFLOW},
    {0xC0000094u, RTSEXCPT_DIVIDEBYZERO},
    {0xC0000095u, RTSEXCPT_OVERFLOW},
    {0xC0000096u, RTSEXCPT_PRIV_INSTRUCTION},
    {0xC00000FDu, RTSEXCPT_STACK_OVERFLOW},
};

/* Codes that resume a try frame besides the platform's own. */
bool resumes_frame(RTS_UI32 code, bool platform) {
    return platform || (code >= RTSEXCPT_ILLEGAL_INSTRUCTION && code <= RTSEXCPT_NONCONTINUABLE) ||
           (code >= RTSEXCPT_FPU_ERROR && code <= RTSEXCPT_FPU_UNDERFLOW) ||
           (code & RTSEXCPT_VENDOR_EXCEPTION_BASE) != 0;
}

/* ---- optional services --------------------------------------------------------------------- */

constexpr const char* kImportNames[] = {
    "SchedGetCurrentTask",
    "AppDebugHandler2",
    "AppDebugHandler",
    "SysTimerStop",
    "SysTimerGetInfo",
    "SysTimerGetNext",
    "SysTimerGetFirst",
    "SysTimerGetContext",
    "SysTimerGetCurrent",
    "SysTaskSuspend",
    "SysTaskGetHandleByOSHandle",
    "SysTaskGetInfo",
    "SysTaskGetOSHandle",
    "SysTaskGetContext",
    "SysTaskGetCurrent",
    "EventPost2",
    "EventPost",
    "EventUnregisterCallbackFunction",
    "EventRegisterCallbackFunction",
    "EventClose",
    "EventOpen",
    "EventDelete",
    "EventCreate",
};
constexpr int kImportCount = sizeof kImportNames / sizeof kImportNames[0];
RTS_VOID_FCTPTR g_imports[kImportCount] = {};

void import_optional_services() {
    for (int i = 0; i < kImportCount; ++i) {
        g_imports[i] = nullptr;
        CMGetAPI2(kImportNames[i], &g_imports[i], CM_IMPORT_OPTIONAL, 0, 0);
    }
}

/* ---- state --------------------------------------------------------------------------------- */

constexpr int kStaticSlots = 5;
constexpr int kGrowth = 5;
constexpr RTS_UI32 kEventParamId = 1;
constexpr RTS_UI32 kEventVersion = 1;

std::recursive_mutex g_lock;
PF_SYSEXCEPT_HANDLER g_staticTable[kStaticSlots] = {};
PF_SYSEXCEPT_HANDLER* g_table = g_staticTable;
int g_slots = kStaticSlots;

std::atomic<bool> g_initialized{false};
std::atomic<bool> g_startupOver{false};
std::atomic<SysExceptFrame*> g_startupFrame{nullptr};
std::atomic<SysExceptFrame*> g_commCycleFrame{nullptr};
thread_local std::atomic<SysExceptFrame*> t_taskFrame{nullptr};
RTS_HANDLE g_events[2] = {nullptr, nullptr};

void reset_table() {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (g_table != g_staticTable) SysMemFreeData("SysExcept", g_table);
    g_table = g_staticTable;
    g_slots = kStaticSlots;
    std::memset(g_staticTable, 0, sizeof g_staticTable);
}

RTS_HANDLE current_task() {
    if (auto get = imported<PF_SYS_TASK_GET_CURRENT>("SysTaskGetCurrent")) {
        RTS_HANDLE task = get(nullptr);
        if (valid_handle(task)) return task;
    }
    if (auto get = imported<PF_SYS_TIMER_GET_CURRENT>("SysTimerGetCurrent")) return get(nullptr);
    return nullptr;
}

/* The slot that heads the frame chain of the running context, or null when it has none. */
std::atomic<SysExceptFrame*>* frame_slot() {
    if (valid_handle(current_task())) return &t_taskFrame;
    const RTS_UI32 hook = CMGetCurrentHook();
    if (!g_startupOver || hook == CH_INIT_FINISHED) return &g_startupFrame;
    if (hook == CH_COMM_CYCLE) return &g_commCycleFrame;
    return nullptr;
}

/* Takes a frame out of its context's chain when it heads it; the frame can be entered again. */
void close_frame(SysExceptFrame* frame) {
    std::atomic<SysExceptFrame*>* slot = frame_slot();
    SysExceptFrame* expected = frame;
    if (slot != nullptr) slot->compare_exchange_strong(expected, frame->previous);
    frame->entered = 0;
}

void post(int event, RTS_HANDLE task, RTS_UI32 code, RegContext* context) {
    auto post2 = imported<PF_EVENT_POST2>("EventPost2");
    if (post2 == nullptr || !valid_handle(g_events[event])) return;
    SysExceptEventParam param{task, code, context};
    post2(g_events[event], kEventParamId, kEventVersion, &param);
}

void create_events() {
    auto create = imported<PF_EVENT_CREATE>("EventCreate");
    const RTS_UI32 ids[2] = {SYSEXCEPT_EVENT_BEFORE, SYSEXCEPT_EVENT_AFTER};
    for (int i = 0; i < 2 && create != nullptr; ++i) g_events[i] = create(ids[i], CMPID_SysExcept, nullptr);
}

void delete_events() {
    auto remove = imported<PF_EVENT_HANDLE>("EventDelete");
    for (RTS_HANDLE& event : g_events) {
        if (remove != nullptr && valid_handle(event)) remove(event);
        event = nullptr;
    }
}

RTS_RESULT call_handlers(RTS_HANDLE task, RTS_UI32 code, RegContext* context) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    RTS_RESULT result = RES_OK;
    /* The table may grow or lose entries under a handler: read it afresh for every slot. */
    for (int i = 0; i < g_slots; ++i) {
        PF_SYSEXCEPT_HANDLER handler = g_table[i];
        if (handler != nullptr && handler(task, code, context) == RES_EXCEPTION) result = RES_EXCEPTION;
    }
    return result;
}

/* The frame of the running context that an exception with this code resumes, with the code
 * and context stored in it; null when none does. A code that resumes no frame ends the chain
 * of the context. Touches nothing but memory, as it also runs inside a fault. */
SysExceptFrame* frame_taking(RTS_UI32 code, bool platform, const RegContext* context) {
    std::atomic<SysExceptFrame*>* slot = frame_slot();
    if (slot == nullptr) return nullptr;
    if (!resumes_frame(code, platform)) {
        slot->store(nullptr);
        return nullptr;
    }
    SysExceptFrame* frame = slot->load();
    if (frame == nullptr || frame->magic != SYSEXCEPT_FRAME_MAGIC) return nullptr;
    frame->code = code;
    frame->context = *context;
    return frame;
}

RTS_UI32 system_code(RTS_UI64 exception) {
    const auto code = static_cast<RTS_UI32>(exception);
    return (exception >> 32) != 0 ? SysExceptMapException(code) : code;
}

/* What a raise came to: the frame to resume (then nothing else happened), or the handlers'
 * result; ended when the code only informed the listeners of the first event. */
struct Outcome {
    SysExceptFrame* resume;
    RTS_RESULT result;
    bool ended;
};

Outcome dispatch(RTS_HANDLE task, RTS_UI64 exception, RegContext* context) {
    const auto high = static_cast<RTS_UI32>(exception >> 32);
    const RTS_UI32 code = system_code(exception);
    SysExceptFrame* frame = high != 2 ? frame_taking(code, high != 0, context) : nullptr;
    post(0, task, code, context);
    if (high == 2) return {nullptr, RES_OK, true};
    if (frame != nullptr) return {frame, RES_OK, false};
    post(1, task, code, context);
    return {nullptr, call_handlers(task, code, context), false};
}

/* A fault of the processor, for the running task. */
SysExceptFrame* frame_for_fault(RTS_UI64 code, const RegContext* context) {
    return g_initialized ? frame_taking(system_code(code), true, context) : nullptr;
}

[[noreturn]] void take_fault(SysExceptFrame* frame) {
    post(0, current_task(), frame->code, &frame->context);
    sysexcept_os::resume(frame);
}

void report_fault(RTS_UI64 code, RegContext* context) {
    if (g_initialized) dispatch(current_task(), code, context);
}

const sysexcept_os::FaultCallbacks kFaultCallbacks = {frame_for_fault, take_fault, report_fault};

/* Raises for a task (invalid: the current one) with a context (null: the caller's). */
Outcome raise(RTS_HANDLE& task, RTS_UI64 exception, RegContext* context) {
    if (task == RTS_INVALID_HANDLE) task = current_task();
    RegContext own{};
    if (context == nullptr) {
        SysCpuGetContext(&own);
        context = &own;
    }
    Outcome outcome = dispatch(task, exception, context);
    if (outcome.resume != nullptr) sysexcept_os::resume(outcome.resume);
    return outcome;
}

RTS_RESULT suspend_task(RTS_HANDLE task) {
    auto info_of = imported<PF_SYS_TASK_GET_INFO>("SysTaskGetInfo");
    auto suspend = imported<PF_SYS_TASK_HANDLE>("SysTaskSuspend");
    SysTaskInfo* info = nullptr;
    if (info_of == nullptr || suspend == nullptr || !valid_handle(task) || info_of(task, &info) != RES_OK ||
        info == nullptr)
        return RES_NO_OBJECT;
    if ((info->flags & SYS_TASK_FLAG_KEEP_ON_EXCEPTION) != 0) return RES_OK;
    return suspend(task) == RES_OK ? RES_EXCEPTION : RES_NO_OBJECT;
}

RTS_RESULT stop_timer_of(RTS_HANDLE task) {
    auto first = imported<PF_SYS_TIMER_GET_FIRST>("SysTimerGetFirst");
    auto next = imported<PF_SYS_TIMER_GET_NEXT>("SysTimerGetNext");
    auto info_of = imported<PF_SYS_TIMER_GET_INFO>("SysTimerGetInfo");
    auto stop = imported<PF_SYS_TIMER_STOP>("SysTimerStop");
    if (first == nullptr || next == nullptr || info_of == nullptr || stop == nullptr) return RES_NOTSUPPORTED;
    for (RTS_HANDLE timer = first(nullptr); valid_handle(timer); timer = next(timer, nullptr)) {
        SysTimerInfo* info = nullptr;
        if (info_of(timer, &info) == RES_OK && info != nullptr && info->hTask == task)
            return stop(timer) == RES_OK ? RES_EXCEPTION : RES_NOTSUPPORTED;
    }
    return RES_NOTSUPPORTED;
}

void install_fault_handlers() {
    sys_os::call(CMPID_SysExcept, nullptr, sysexcept_os::calls().install_fault_handlers, &kFaultCallbacks);
}

void remove_fault_handlers() {
    sys_os::call(CMPID_SysExcept, nullptr, sysexcept_os::calls().remove_fault_handlers);
}

const CMExportEntry kExports[] = {
    CM_EXPORT(SysExceptRegisterInterface),
    CM_EXPORT(SysExceptUnregisterInterface),
    CM_EXPORT(SysExceptMapException),
    CM_EXPORT(SysExceptConvertToString),
    CM_EXPORT(SysExceptTry),
    CM_EXPORT(SysExceptCatch),
    CM_EXPORT(SysExceptCatchException),
    CM_EXPORT(SysExceptGenerateException),
    CM_EXPORT(SysExceptGenerateException2),
    CM_EXPORT(sysexceptgenerateexception),
    CM_EXPORT(sysexceptenableseh),
    CM_EXPORT(sysexceptenableseh2),
    CM_EXPORT(sysexceptdisableseh),
    CM_EXPORT(sysexceptdisableseh2),
    {nullptr, nullptr, 0, 0},
};

RTS_RESULT export_functions() {
    return CMRegisterAPI(kExports, 0, 0, CMPID_SysExcept);
}

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) {
    switch (hook) {
        case CH_INIT_SYSTEM:
            reset_table();
            import_optional_services();
            g_startupOver = false;
            g_startupFrame = nullptr;
            g_commCycleFrame = nullptr;
            install_fault_handlers();
            g_initialized = true;
            break;
        case CH_INIT2:
            create_events();
            break;
        case CH_INIT3:
            sysexcept_unwind::open_code_events();
            break;
        case CH_INIT_FINISHED:
            g_startupOver = true;
            break;
        case CH_EXIT3:
            sysexcept_unwind::close_code_events();
            break;
        case CH_EXIT2:
            delete_events();
            break;
        case CH_EXIT_SYSTEM:
            g_initialized = false;
            remove_fault_handlers();
            reset_table();
            break;
        default:
            break;
    }
    return RES_OK;
}

} // namespace

RTS_VOID_FCTPTR sysexcept::imported_function(std::string_view name) {
    for (int i = 0; i < kImportCount; ++i)
        if (name == kImportNames[i]) return g_imports[i];
    return nullptr;
}

extern "C" RTS_RESULT SysExcept__Entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(pInit, CMPID_SysExcept, export_functions, nullptr, CMComponentVersion,
                            hook_function);
}

/* ---- handlers ------------------------------------------------------------------------------ */

extern "C" RTS_RESULT SysExceptRegisterInterface(PF_SYSEXCEPT_HANDLER pfHandler) {
    if (!g_initialized) return RES_NOTINITIALIZED;
    if (pfHandler == nullptr) return RES_PARAMETER;
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    for (int i = 0; i < g_slots; ++i) {
        if (g_table[i] == nullptr) {
            g_table[i] = pfHandler;
            return RES_OK;
        }
    }
    RTS_RESULT r = RES_OK;
    auto* grown = static_cast<PF_SYSEXCEPT_HANDLER*>(
        SysMemAllocData("SysExcept", sizeof(PF_SYSEXCEPT_HANDLER) * (g_slots + kGrowth), &r));
    if (grown == nullptr) return RES_NOMEMORY;
    std::memcpy(grown, g_table, sizeof(PF_SYSEXCEPT_HANDLER) * g_slots);
    std::memset(grown + g_slots, 0, sizeof(PF_SYSEXCEPT_HANDLER) * kGrowth);
    if (g_table != g_staticTable) SysMemFreeData("SysExcept", g_table);
    grown[g_slots] = pfHandler;
    g_table = grown;
    g_slots += kGrowth;
    return RES_OK;
}

extern "C" RTS_RESULT SysExceptUnregisterInterface(PF_SYSEXCEPT_HANDLER pfHandler) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    for (int i = 0; i < g_slots && pfHandler != nullptr; ++i) {
        if (g_table[i] == pfHandler) {
            g_table[i] = nullptr;
            return RES_OK;
        }
    }
    return RES_FAILED;
}

/* ---- codes --------------------------------------------------------------------------------- */

extern "C" RTS_UI32 SysExceptMapException(RTS_UI32 ulOSException) {
    for (const PlatformCode& m : kMapping)
        if (m.platform == ulOSException) return m.code;
    return ulOSException;
}

extern "C" RTS_RESULT SysExceptConvertToString(RTS_UI32 ulException, char* pszException,
                                               int iMaxExceptionLen) {
    if (pszException == nullptr || iMaxExceptionLen <= 0) return RES_PARAMETER;
    const auto size = static_cast<RTS_SIZE>(iMaxExceptionLen);
    for (const CodeName& c : kCodeNames)
        if (c.code == ulException) return CMUtlSafeStrCpy(pszException, size, c.name);
    if (ulException > RTSEXCPT_VENDOR_EXCEPTION_BASE)
        return CMUtlsnprintf(pszException, size, "VendorException %ld",
                             static_cast<long>(ulException & 0xFFF));
    CMUtlSafeStrCpy(pszException, size, "UNKNOWN");
    return RES_PARAMETER;
}

/* ---- frames -------------------------------------------------------------------------------- */

extern "C" int SysExceptTry(SysExceptFrame* pFrame) {
    if (pFrame == nullptr) return 1;
    if (pFrame->magic == SYSEXCEPT_FRAME_MAGIC && pFrame->entered != 0) {
        close_frame(pFrame);
        return 1;
    }
    std::atomic<SysExceptFrame*>* slot = frame_slot();
    pFrame->previous = slot != nullptr ? slot->load() : nullptr;
    pFrame->magic = SYSEXCEPT_FRAME_MAGIC;
    pFrame->code = RTSEXCPT_NOEXCEPTION;
    pFrame->caught = 0;
    pFrame->entered = 1;
    if (slot != nullptr) slot->store(pFrame);
    return 0;
}

extern "C" int SysExceptCatchException(SysExceptFrame* pFrame, RTS_UI32 ulException) {
    if (pFrame == nullptr) return 1;
    if (pFrame->entered != 0) close_frame(pFrame);
    if (pFrame->code == RTSEXCPT_NOEXCEPTION || pFrame->code != ulException || pFrame->caught != 0) return 1;
    pFrame->caught = 1;
    return 0;
}

extern "C" int SysExceptCatch(SysExceptFrame* pFrame) {
    return SysExceptCatchException(pFrame, pFrame != nullptr ? pFrame->code : 0);
}

/* ---- raising ------------------------------------------------------------------------------- */

extern "C" RTS_RESULT SysExceptGenerateException(RTS_HANDLE hTask, RTS_UI64 ulException,
                                                 RegContext* pContext) {
    if (!g_initialized) return RES_NOTINITIALIZED;
    return raise(hTask, ulException, pContext).result;
}

extern "C" RTS_RESULT SysExceptGenerateException2(RTS_HANDLE hTask, RTS_UI64 ulException,
                                                  RegContext* pContext, RTS_UI32 bIecException) {
    if (!g_initialized) return RES_NOTINITIALIZED;
    const Outcome outcome = raise(hTask, ulException, pContext);
    if (outcome.ended) return RES_OK;
    if (outcome.result == RES_EXCEPTION && bIecException == 0) return RES_EXCEPTION;
    const RTS_RESULT suspended = suspend_task(hTask);
    return suspended != RES_NO_OBJECT ? suspended : stop_timer_of(hTask);
}

extern "C" void sysexceptgenerateexception(sysexceptgenerateexception_struct* p) {
    p->SysExceptGenerateException = SysExceptGenerateException(RTS_INVALID_HANDLE, p->ulException, nullptr);
}

extern "C" void sysexceptenableseh(sysexceptseh_struct* p) {
    p->result = RES_NOTIMPLEMENTED;
}
extern "C" void sysexceptenableseh2(sysexceptseh_struct* p) {
    p->result = RES_NOTIMPLEMENTED;
}
extern "C" void sysexceptdisableseh(sysexceptseh_struct* p) {
    p->result = RES_NOTIMPLEMENTED;
}
extern "C" void sysexceptdisableseh2(sysexceptseh_struct* p) {
    p->result = RES_NOTIMPLEMENTED;
}
