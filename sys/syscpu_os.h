/* The platform side of the processor helpers: instruction-cache flushes, capture of a caller's
 * frame, a probe that reads memory without faulting, and the locked operations used on
 * addresses that are too badly aligned for the standard atomics.
 *
 * Only the flush is a call the system can refuse with an error of its own; it sits in a table
 * that tests can replace. The probe's refusal is its answer (the memory is not readable), and
 * the other operations cannot fail in a way the system reports. */
#ifndef SYSCPU_OS_H
#define SYSCPU_OS_H

#include "sys/os_seam.h"

namespace syscpu_os {

struct Calls {
    /* Flushes the instruction cache for the range in this process; on failure the OS error,
     * with the platform call that failed named through pCall. */
    rts::OsError (*flush_instruction_cache)(void* address, RTS_SIZE size, const char** pCall);
};

/* The platform's own table. */
const Calls& platform_calls();
/* The table in use, and its replacement (null puts the platform's back). */
const Calls& calls();
void set_calls(const Calls* fake);

/* Frame pointer and stack pointer of the frame `skip` levels above the function that calls
 * capture_frame (skip 0: that function itself), as they are at the call it made. False when the
 * stack cannot be unwound that far. */
bool capture_frame(unsigned skip, RTS_UI64* bp, RTS_UI64* sp);

/* Copies size bytes from address into out when the whole range is readable; never faults. */
bool read_memory(const void* address, void* out, RTS_SIZE size);

/* Locked add and compare-and-swap on addresses of any alignment (x86 carries them out even
 * across a cache line). add32 returns the new value; the cas functions return true when they
 * stored. */
RTS_I32 add32(void* address, RTS_I32 sum);
bool cas32(void* address, RTS_UI32 expected, RTS_UI32 desired);
bool cas64(void* address, RTS_UI64 expected, RTS_UI64 desired);

} // namespace syscpu_os

#endif
