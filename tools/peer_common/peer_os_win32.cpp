/* The peers' operating-system calls on Windows: Sleep pauses, the console control handler as
 * the end request. Windows does not tell who opens a file mapping, so the open watch stays
 * inactive and the peer keeps looking at its block. A named mapping goes away with its last
 * handle: a block that outlived its peer is still open in a client, and there is no name to
 * remove (the next peer serves the block as it is). */
#include <windows.h>

#include "peer_os.h"

namespace {

std::atomic<bool>* g_stop = nullptr;

BOOL WINAPI on_console_event(DWORD) {
    if (g_stop == nullptr) return FALSE;
    g_stop->store(true);
    return TRUE;
}

} // namespace

namespace peer_os {

void sleep_us(RTS_UI32 us) {
    Sleep((us + 999) / 1000);
}

void stop_on_signals(std::atomic<bool>* stop) {
    g_stop = stop;
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

OpenWatch::OpenWatch(const char*) {}
OpenWatch::~OpenWatch() {}
bool OpenWatch::wait_for_open(RTS_UI32) {
    return false;
}

bool remove_stale_block(const char*) {
    return false;
}

} // namespace peer_os
