/* Helpers every unit of the framework shares: the test for a usable handle and the way a
 * function reports its result through the optional result pointer of its caller. */
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

} // namespace rts

#endif
