/* Test seams of the start-up self checks: tests put a misbehaving operation in place of a real
 * one, or feed their own type rows, to see that the checks catch it. Not for product code. */
#ifndef CMCHECKS_INTERNAL_H
#define CMCHECKS_INTERNAL_H

#include <span>

#include "rts_types.h"

namespace cmchecks {

/* One row of the type table; a maximum of 0 is not compared. */
struct TypeRow {
    RTS_UI32 info_id;
    const char* name;
    RTS_UI64 expected_size;
    RTS_UI64 actual_size;
    RTS_UI64 expected_max;
    RTS_UI64 actual_max;
    bool at_least; /* the size may be larger than expected */
};

using AtomicAddFn = RTS_I32 (*)(RTS_I32* pValue, RTS_I32 nSum, RTS_RESULT* pResult);
using StringToGuidFn = RTS_RESULT (*)(const char* text, RTS_GUID* pGuid);
using GuidToStringFn = RTS_RESULT (*)(const RTS_GUID* pGuid, char* buffer, RTS_SIZE size);

/* Replace the operation the checks call; null puts the real one back. */
void set_atomic_add(AtomicAddFn fn);
void set_guid_functions(StringToGuidFn to_guid, GuidToStringFn to_string);

/* Runs the type check over the given rows, logging each deviation; true when all passed. */
bool check_types(std::span<const TypeRow> rows);

} // namespace cmchecks

#endif
