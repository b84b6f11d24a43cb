/* The platform side of exception mapping: catching the processor's faults (a vectored exception
 * handler on Windows, signal handlers on POSIX) and resuming a try frame, from a fault or from a
 * raise in ordinary code.
 *
 * A fault is handed to the portable core as a platform code: the high half of the 64-bit code
 * is 1 and the low half is the Windows exception code, or on POSIX the system code of the
 * signal (SIGSEGV and SIGBUS access violation, SIGILL illegal instruction, SIGFPE by its
 * si_code). Inside the fault the core only looks for the frame that takes it; the faulting
 * thread then goes on in the core's take, outside the fault, which tells the listeners and
 * resumes the frame. A fault that no frame takes is reported to the core inside the fault and
 * then goes on as if nobody had caught it. */
#ifndef SYSEXCEPT_OS_H
#define SYSEXCEPT_OS_H

#include "sys/os_seam.h"
#include "sysexcept.h"

namespace sysexcept_os {

/* The core's side of a fault. */
struct FaultCallbacks {
    /* Inside the fault: the frame that takes it, with the code and context stored, or null. */
    SysExceptFrame* (*frame_for)(RTS_UI64 code, const RegContext* pContext);
    /* In place of the faulting code: resumes the frame; never returns. */
    void (*take)(SysExceptFrame* frame);
    /* Inside the fault, when no frame took it. */
    void (*report)(RTS_UI64 code, RegContext* pContext);
};

/* Finds the platform's function record (the first 12 bytes of an unwind record) of the code
 * address in the area given as context; null when none covers it. */
using FunctionLookup = const void* (*)(RTS_UI64 pc, void* context);

struct Calls {
    /* Routes the process's faults to the core. */
    rts::OsError (*install_fault_handlers)(const FaultCallbacks* callbacks, const char** pCall);
    /* Puts back what handled faults before. */
    rts::OsError (*remove_fault_handlers)(const char** pCall);
    /* Lets the platform's unwinder ask the lookup for the functions of a code area, and stops it
     * again. Where the unwinder reads no such records, both do nothing. */
    rts::OsError (*add_function_table)(void* base, RTS_UI32 size, FunctionLookup lookup, void* context,
                                       const char** pCall);
    rts::OsError (*delete_function_table)(void* base, const char** pCall);
};

/* The platform's own table. */
const Calls& platform_calls();
/* The table in use, and its replacement (null puts the platform's back). */
inline const Calls& calls() {
    return sys_os::current(platform_calls());
}
inline void set_calls(const Calls* fake) {
    sys_os::replace(fake);
}

/* Continues at the frame's SYSEXCEPT_TRY, which then evaluates to 1. */
[[noreturn]] void resume(SysExceptFrame* frame);

} // namespace sysexcept_os

#endif
