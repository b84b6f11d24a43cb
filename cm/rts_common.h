/* Helpers every unit of the framework shares: the test for a usable handle, the way a function
 * reports its result through the optional result pointer of its caller, and the one log line
 * that keeps the operating system's error when a call through a platform seam fails. */
#ifndef RTS_COMMON_H
#define RTS_COMMON_H

#include "rts_types.h"

namespace rts {

/* A handle is usable when it is neither null nor the all-ones invalid handle. */
inline bool valid_handle(RTS_HANDLE h) {
    return h != nullptr && h != RTS_INVALID_HANDLE;
}

/* Writes the result where the caller asked for it; a null pointer means "not wanted". */
inline void set_result(RTS_RESULT* pResult, RTS_RESULT result) {
    if (pResult != nullptr) *pResult = result;
}

/* Writes the result as above and hands back the value, for functions that return a value and
 * report their result on the side. */
template <typename T> T report(RTS_RESULT* pResult, RTS_RESULT result, T value) {
    set_result(pResult, result);
    return value;
}

/* The operating system's own error code as a platform seam hands it back: errno on POSIX,
 * GetLastError() on Windows. 0 means the call succeeded. */
using OsError = RTS_UI32;
constexpr OsError kOsOk = 0;

/* Logs a failed operating-system call once, at LOG_DEBUG on the standard logger under the
 * component's id, with the call's name, the object it concerned (null when none) and the OS
 * code, which is also the entry's error id. Returns the code, so a caller can log and go on. */
OsError log_os_error(RTS_UI32 cmpId, const char* call, const char* object, OsError error);

} // namespace rts

#endif
