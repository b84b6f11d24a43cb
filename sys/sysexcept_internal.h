/* What the units of exception mapping share: the optional services imported by name, the
 * unwind records built for machine code loaded at run time, and the hooks that start and stop
 * listening for such code. */
#ifndef SYSEXCEPT_INTERNAL_H
#define SYSEXCEPT_INTERNAL_H

#include <string_view>

#include "rts_types.h"

namespace sysexcept {

/* The optional function of that name as imported at CH_INIT_SYSTEM; null when it is absent. */
RTS_VOID_FCTPTR imported_function(std::string_view name);
template <typename F> F imported(std::string_view name) {
    return reinterpret_cast<F>(imported_function(name));
}

} // namespace sysexcept

namespace sysexcept_unwind {

/* An unwind record: the platform's function record (begin and end offsets and the offset of
 * the unwind information, from the area's base) and the unwind information itself. */
constexpr RTS_SIZE kInfoSize = 44;
struct Record {
    RTS_UI32 begin;
    RTS_UI32 end;
    RTS_UI32 info;
    RTS_UI8 unwind[kInfoSize];
};
static_assert(sizeof(Record) == 56);

/* The unwind information of a function from its prologue (push of the frame pointer, frame
 * pointer set, pushes of saved registers): its size in bytes, or 0 when the code does not begin
 * with such a prologue. */
RTS_SIZE build_info(const RTS_UI8* code, RTS_SIZE size, RTS_UI8 (&unwind)[kInfoSize]);

/* Listens for code areas (CH_INIT3), and stops listening and drops every record (CH_EXIT3). */
void open_code_events();
void close_code_events();

} // namespace sysexcept_unwind

#endif
