/* The few operating-system calls of the peers: pausing between looks at the block, learning
 * when another process opens it, ending on a console signal, and removing a block that a dead
 * peer left behind. */
#ifndef PEER_OS_H
#define PEER_OS_H

#include <atomic>

#include "rts_types.h"

namespace peer_os {

/* Sleeps about us microseconds. */
void sleep_us(RTS_UI32 us);

/* Sets *stop when the user interrupts the program (Ctrl+C) or the system asks it to end. */
void stop_on_signals(std::atomic<bool>* stop);

/* Tells an idle peer when another process opens its block: every request begins with an open,
 * so between requests the peer can sleep instead of looking at the block. Not every platform
 * tells; there active() is false and the peer keeps looking. */
class OpenWatch {
public:
    explicit OpenWatch(const char* blockName);
    ~OpenWatch();
    OpenWatch(const OpenWatch&) = delete;
    OpenWatch& operator=(const OpenWatch&) = delete;

    bool active() const { return handle_ >= 0; }

    /* Waits at most timeoutMs for an open of the block since the last call; false on time-out
     * or when a signal ended the wait. */
    bool wait_for_open(RTS_UI32 timeoutMs);

private:
    int handle_ = -1;
};

/* Removes the name of a block that outlived the process that made it; false when the platform
 * has no such thing (there a block goes with its last handle) or removal failed. */
bool remove_stale_block(const char* name);

} // namespace peer_os

#endif
