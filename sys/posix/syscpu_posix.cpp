/* Processor helpers on POSIX: the unwinder for frame capture, process_vm_readv as a read probe
 * that cannot fault, and the compiler's locked operations for misaligned atomics. */
#include <sys/uio.h>
#include <unistd.h>
#include <unwind.h>

#include <cstring>

#include "sys/syscpu_os.h"

namespace syscpu_os {

namespace {

struct FrameWalk {
    unsigned target;     /* index of the wanted frame; 0 is capture_frame itself */
    unsigned index;      /* index of the frame the unwinder shows now */
    RTS_UI64 caller_cfa; /* canonical frame address of the frame below the current one */
    RTS_UI64 bp;
    RTS_UI64 sp;
    bool found;
};

_Unwind_Reason_Code visit_frame(_Unwind_Context* context, void* arg) {
    auto* walk = static_cast<FrameWalk*>(arg);
    if (walk->index == walk->target) {
        /* The frame's stack pointer at its call is the frame address of the frame it called. */
        walk->bp = static_cast<RTS_UI64>(_Unwind_GetGR(context, 6));
        walk->sp = walk->caller_cfa;
        walk->found = true;
        return _URC_END_OF_STACK;
    }
    walk->caller_cfa = static_cast<RTS_UI64>(_Unwind_GetCFA(context));
    ++walk->index;
    return _URC_NO_REASON;
}

/* The compiler's own flush, which the processor cannot refuse. */
rts::OsError clear_cache(void* address, RTS_SIZE size, const char**) {
    char* begin = static_cast<char*>(address);
    __builtin___clear_cache(begin, begin + size);
    return rts::kOsOk;
}

const Calls kPlatformCalls = {clear_cache};

} // namespace

const Calls& platform_calls() {
    return kPlatformCalls;
}

[[gnu::noinline]] bool capture_frame(unsigned skip, RTS_UI64* bp, RTS_UI64* sp) {
    FrameWalk walk{skip + 1, 0, 0, 0, 0, false};
    _Unwind_Backtrace(visit_frame, &walk);
    if (!walk.found) return false;
    *bp = walk.bp;
    *sp = walk.sp;
    return true;
}

bool read_memory(const void* address, void* out, RTS_SIZE size) {
    iovec local{out, size};
    iovec remote{const_cast<void*>(address), size};
    return process_vm_readv(getpid(), &local, 1, &remote, 1, 0) == static_cast<ssize_t>(size);
}

RTS_I32 add32(void* address, RTS_I32 sum) {
    return __atomic_add_fetch(static_cast<RTS_I32*>(address), sum, __ATOMIC_SEQ_CST);
}

bool cas32(void* address, RTS_UI32 expected, RTS_UI32 desired) {
    return __atomic_compare_exchange_n(static_cast<RTS_UI32*>(address), &expected, desired, false,
                                       __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
}

bool cas64(void* address, RTS_UI64 expected, RTS_UI64 desired) {
    return __atomic_compare_exchange_n(static_cast<RTS_UI64*>(address), &expected, desired, false,
                                       __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
}

} // namespace syscpu_os
