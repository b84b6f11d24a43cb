/* Exception mapping on Windows: a vectored exception handler that hands the processor's faults
 * to the core as platform codes. When a frame takes the fault, the faulting thread goes on in
 * the core's take, which resumes the frame from an ordinary call and not from inside the
 * system's exception dispatch. Other exceptions (a C++ throw, a
 * debugger's notice) and faults the core does not take go on to the next handler. Code areas
 * loaded at run time get a function-table callback that answers the system's unwinder. */
#include <windows.h>

#include "sys/sysexcept_os.h"

namespace sysexcept_os {

namespace {

constexpr DWORD kFaults[] = {
    STATUS_ACCESS_VIOLATION,        STATUS_IN_PAGE_ERROR,          STATUS_ILLEGAL_INSTRUCTION,
    STATUS_PRIVILEGED_INSTRUCTION,  STATUS_DATATYPE_MISALIGNMENT,  STATUS_ARRAY_BOUNDS_EXCEEDED,
    STATUS_FLOAT_DENORMAL_OPERAND,  STATUS_FLOAT_DIVIDE_BY_ZERO,   STATUS_FLOAT_INEXACT_RESULT,
    STATUS_FLOAT_INVALID_OPERATION, STATUS_FLOAT_OVERFLOW,         STATUS_FLOAT_STACK_CHECK,
    STATUS_FLOAT_UNDERFLOW,         STATUS_INTEGER_DIVIDE_BY_ZERO, STATUS_INTEGER_OVERFLOW,
    STATUS_STACK_OVERFLOW,
};
/* The stack below the fault that the jump must not overwrite before it runs. */
constexpr DWORD64 kRedZone = 128;

const FaultCallbacks* g_core = nullptr;
FunctionLookup g_lookup = nullptr;
PVOID g_handler = nullptr;

bool is_fault(DWORD code) {
    for (DWORD fault : kFaults)
        if (fault == code) return true;
    return false;
}

LONG CALLBACK on_exception(EXCEPTION_POINTERS* pointers) {
    const DWORD code = pointers->ExceptionRecord->ExceptionCode;
    const FaultCallbacks* core = g_core;
    if (core == nullptr || !is_fault(code)) return EXCEPTION_CONTINUE_SEARCH;
    CONTEXT* c = pointers->ContextRecord;
    RegContext context{c->Rip, c->Rbp, c->Rsp};
    SysExceptFrame* frame = core->frame_for((RTS_UI64{1} << 32) | code, &context);
    if (frame == nullptr) {
        core->report((RTS_UI64{1} << 32) | code, &context);
        return EXCEPTION_CONTINUE_SEARCH;
    }
    /* As if take had been called: the stack aligned as at a call, the frame its argument. */
    c->Rsp = ((c->Rsp - kRedZone) & ~DWORD64{15}) - 8;
    c->Rcx = reinterpret_cast<DWORD64>(frame);
    c->Rip = reinterpret_cast<DWORD64>(core->take);
    return EXCEPTION_CONTINUE_EXECUTION;
}

rts::OsError install(const FaultCallbacks* callbacks, const char** pCall) {
    g_core = callbacks;
    if (g_handler != nullptr) return rts::kOsOk;
    g_handler = AddVectoredExceptionHandler(1, on_exception);
    return g_handler != nullptr ? rts::kOsOk
                                : sys_os::failed("AddVectoredExceptionHandler", GetLastError(), pCall);
}

rts::OsError remove(const char** pCall) {
    g_core = nullptr;
    PVOID handler = g_handler;
    g_handler = nullptr;
    if (handler == nullptr || RemoveVectoredExceptionHandler(handler) != 0) return rts::kOsOk;
    return sys_os::failed("RemoveVectoredExceptionHandler", GetLastError(), pCall);
}

/* The system tells a callback table by its identifier: the base with the two low bits set. */
DWORD64 table_id(void* base) {
    return reinterpret_cast<DWORD64>(base) | 3;
}

PRUNTIME_FUNCTION CALLBACK find_function(DWORD64 pc, PVOID context) {
    return static_cast<PRUNTIME_FUNCTION>(const_cast<void*>(g_lookup(pc, context)));
}

rts::OsError add_function_table(void* base, RTS_UI32 size, FunctionLookup lookup, void* context,
                                const char** pCall) {
    g_lookup = lookup;
    if (RtlInstallFunctionTableCallback(table_id(base), reinterpret_cast<DWORD64>(base), size, find_function,
                                        context, nullptr))
        return rts::kOsOk;
    return sys_os::failed("RtlInstallFunctionTableCallback", ERROR_INVALID_PARAMETER, pCall);
}

rts::OsError delete_function_table(void* base, const char** pCall) {
    if (RtlDeleteFunctionTable(reinterpret_cast<PRUNTIME_FUNCTION>(table_id(base)))) return rts::kOsOk;
    return sys_os::failed("RtlDeleteFunctionTable", ERROR_INVALID_PARAMETER, pCall);
}

const Calls kPlatformCalls = {install, remove, add_function_table, delete_function_table};

} // namespace

const Calls& platform_calls() {
    return kPlatformCalls;
}

void resume(SysExceptFrame* frame) {
    longjmp(frame->jmpBuf, 1);
}

} // namespace sysexcept_os
