/* The desktop port: the few platform services the program entry and the console mode need.
 * It makes no decisions; the Win32 side calls the desktop directly, the POSIX side stands in
 * with the terminal (string table compiled in, boxes on standard error). */
#ifndef DESKTOP_H
#define DESKTOP_H

#include "rts_types.h"

namespace desktop {

/* Kinds of message box; each shows its icon and an OK button. */
enum class BoxKind { Error };

/* Copies string-table entry id into buffer (at most size-1 characters, always terminated) and
 * returns the number of characters copied; 0 and an empty buffer when the entry is missing. */
int load_string(RTS_HANDLE instance, RTS_UI32 id, char* buffer, int size);

/* Shows a modal message box with the given text and caption and waits until it is closed. */
void message_box(const char* text, const char* caption, BoxKind kind);

/* Sends standard output to the console of the parent process; false when there is none
 * (the output is then lost). */
bool attach_parent_console();

/* Blocks the calling thread for ms milliseconds. */
void sleep_ms(RTS_UI32 ms);

/* Milliseconds of a monotonic clock as a 32-bit counter that wraps. */
RTS_UI32 tick_ms();

} // namespace desktop

#endif
