/* Processor helpers on Windows: FlushInstructionCache, RtlCaptureContext with the system's
 * unwinder for frame capture, ReadProcessMemory as a read probe that cannot fault, and the
 * Interlocked functions for misaligned atomics. */
#include <windows.h>

#include "sys/syscpu_os.h"

namespace syscpu_os {

namespace {

/* Moves the context to the frame that called the one it describes; false at the stack's end. */
bool unwind_one(CONTEXT& context) {
    DWORD64 image_base = 0;
    PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &image_base, nullptr);
    if (function == nullptr) {
        /* A leaf function: the return address sits on top of the stack. */
        context.Rip = *reinterpret_cast<DWORD64*>(context.Rsp);
        context.Rsp += 8;
    } else {
        PVOID handler_data = nullptr;
        DWORD64 establisher = 0;
        RtlVirtualUnwind(UNW_FLAG_NHANDLER, image_base, context.Rip, function, &context, &handler_data,
                         &establisher, nullptr);
    }
    return context.Rip != 0;
}

rts::OsError flush_instruction_cache(void* address, RTS_SIZE size, const char** pCall) {
    if (FlushInstructionCache(GetCurrentProcess(), address, size)) return rts::kOsOk;
    return sys_os::failed("FlushInstructionCache", GetLastError(), pCall);
}

const Calls kPlatformCalls = {flush_instruction_cache};

} // namespace

const Calls& platform_calls() {
    return kPlatformCalls;
}

[[gnu::noinline]] bool capture_frame(unsigned skip, RTS_UI64* bp, RTS_UI64* sp) {
    CONTEXT context{};
    RtlCaptureContext(&context);
    for (unsigned level = 0; level <= skip; ++level) {
        if (!unwind_one(context)) return false;
    }
    *bp = context.Rbp;
    *sp = context.Rsp;
    return true;
}

bool read_memory(const void* address, void* out, RTS_SIZE size) {
    SIZE_T done = 0;
    return ReadProcessMemory(GetCurrentProcess(), address, out, size, &done) != FALSE && done == size;
}

RTS_I32 add32(void* address, RTS_I32 sum) {
    return InterlockedExchangeAdd(static_cast<LONG volatile*>(address), sum) + sum;
}

bool cas32(void* address, RTS_UI32 expected, RTS_UI32 desired) {
    auto want = static_cast<LONG>(expected);
    return InterlockedCompareExchange(static_cast<LONG volatile*>(address), static_cast<LONG>(desired),
                                      want) == want;
}

bool cas64(void* address, RTS_UI64 expected, RTS_UI64 desired) {
    auto want = static_cast<LONG64>(expected);
    return InterlockedCompareExchange64(static_cast<LONG64 volatile*>(address), static_cast<LONG64>(desired),
                                        want) == want;
}

} // namespace syscpu_os
