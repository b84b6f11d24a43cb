/* Exception mapping on POSIX: handlers for the signals of processor faults that hand the fault
 * to the core as the system's code. When a frame takes it, the handler returns into the core's
 * take instead of the faulting instruction, so that the frame is resumed outside the signal. A
 * fault the core does not take goes on to the handler that was there before (a sanitizer's,
 * say), or is made fatal as it would have been without us. Signals sent by another process are
 * no faults. The system's unwinder takes no function tables from us. */
#include <signal.h>
#include <cerrno>
#include <ucontext.h>

#include "sys/sysexcept_os.h"

namespace sysexcept_os {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];
struct sigaction g_previous[kSignalCount];
const FaultCallbacks* g_core = nullptr;
/* The stack below the fault that the take must leave alone. */
constexpr greg_t kRedZone = 128;
bool g_installed = false;

/* The system's code of a floating-point or integer arithmetic fault. */
RTS_UI32 arithmetic_code(int siCode) {
    switch (siCode) {
        case FPE_INTDIV:
            return RTSEXCPT_DIVIDEBYZERO;
        case FPE_INTOVF:
            return RTSEXCPT_OVERFLOW;
        case FPE_FLTDIV:
            return RTSEXCPT_FPU_DIVIDEBYZERO;
        case FPE_FLTOVF:
            return RTSEXCPT_FPU_OVERFLOW;
        case FPE_FLTUND:
            return RTSEXCPT_FPU_UNDERFLOW;
        case FPE_FLTRES:
            return RTSEXCPT_FPU_INEXACT_RESULT;
        case FPE_FLTINV:
            return RTSEXCPT_FPU_INVALID_OPERATION;
        case FPE_FLTSUB:
            return RTSEXCPT_ARRAYBOUNDS;
        default:
            return RTSEXCPT_FPU_ERROR;
    }
}

RTS_UI32 code_of(int signal, int siCode) {
    if (signal == SIGILL) return RTSEXCPT_ILLEGAL_INSTRUCTION;
    if (signal == SIGFPE) return arithmetic_code(siCode);
    return RTSEXCPT_ACCESS_VIOLATION;
}

int index_of(int signal) {
    for (int i = 0; i < kSignalCount; ++i)
        if (kSignals[i] == signal) return i;
    return 0;
}

/* Lets the fault go on: to the previous handler, or fatally with the default action. */
void pass_on(int signal, siginfo_t* info, void* uc) {
    const struct sigaction& previous = g_previous[index_of(signal)];
    if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
        previous.sa_sigaction(signal, info, uc);
        return;
    }
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(signal);
        return;
    }
    ::signal(signal, SIG_DFL);
    if (info->si_code <= 0) raise(signal); // a sent signal does not come again by itself
}

void on_signal(int signal, siginfo_t* info, void* uc) {
    const FaultCallbacks* core = g_core;
    if (info->si_code > 0 && core != nullptr) {
        greg_t* r = static_cast<ucontext_t*>(uc)->uc_mcontext.gregs;
        RegContext context{static_cast<RTS_UI64>(r[REG_RIP]), static_cast<RTS_UI64>(r[REG_RBP]),
                           static_cast<RTS_UI64>(r[REG_RSP])};
        const RTS_UI64 code = (RTS_UI64{1} << 32) | code_of(signal, info->si_code);
        if (SysExceptFrame* frame = core->frame_for(code, &context)) {
            /* As if take had been called: the stack aligned as at a call, the frame its argument. */
            r[REG_RSP] = ((r[REG_RSP] - kRedZone) & ~greg_t{15}) - 8;
            r[REG_RDI] = reinterpret_cast<greg_t>(frame);
            r[REG_RIP] = reinterpret_cast<greg_t>(core->take);
            return;
        }
        core->report(code, &context);
    }
    pass_on(signal, info, uc);
}

rts::OsError install(const FaultCallbacks* callbacks, const char** pCall) {
    g_core = callbacks;
    if (g_installed) return rts::kOsOk;
    struct sigaction action {};
    action.sa_sigaction = on_signal;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kSignalCount; ++i)
        if (sigaction(kSignals[i], &action, &g_previous[i]) != 0)
            return sys_os::failed("sigaction", errno, pCall);
    g_installed = true;
    return rts::kOsOk;
}

rts::OsError remove(const char** pCall) {
    g_core = nullptr;
    if (!g_installed) return rts::kOsOk;
    g_installed = false;
    for (int i = 0; i < kSignalCount; ++i)
        if (sigaction(kSignals[i], &g_previous[i], nullptr) != 0)
            return sys_os::failed("sigaction", errno, pCall);
    return rts::kOsOk;
}

/* The system's unwinder reads no records of ours. */
rts::OsError add_function_table(void*, RTS_UI32, FunctionLookup, void*, const char**) {
    return rts::kOsOk;
}
rts::OsError delete_function_table(void*, const char**) {
    return rts::kOsOk;
}

const Calls kPlatformCalls = {install, remove, add_function_table, delete_function_table};

} // namespace

const Calls& platform_calls() {
    return kPlatformCalls;
}

void resume(SysExceptFrame* frame) {
    siglongjmp(frame->jmpBuf, 1);
}

} // namespace sysexcept_os
