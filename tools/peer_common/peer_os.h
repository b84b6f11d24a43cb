/* The few operating-system calls of the peers: pausing between looks at the block, ending on
 * a console signal, and removing a block that a dead peer left behind. */
#ifndef PEER_OS_H
#define PEER_OS_H

#include <atomic>

#include "rts_types.h"

namespace peer_os {

/* Sleeps about us microseconds. */
void sleep_us(RTS_UI32 us);

/* Sets *stop when the user interrupts the program (Ctrl+C) or the system asks it to end. */
void stop_on_signals(std::atomic<bool>* stop);

/* Removes a named block that outlived the process that made it; false when the platform has
 * no such thing (there a block goes with its last handle) or removal failed. */
bool remove_stale_block(const char* name);

} // namespace peer_os

#endif
