/* The peers' operating-system calls on POSIX: nanosleep pauses, SIGINT/SIGTERM as the end
 * request, and shm_unlink for a block whose creator died before it could remove the name. */
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <string>

#include <sys/mman.h>

#include "peer_os.h"

namespace {

std::atomic<bool>* g_stop = nullptr;

extern "C" void on_signal(int) {
    if (g_stop != nullptr) g_stop->store(true);
}

} // namespace

namespace peer_os {

void sleep_us(RTS_UI32 us) {
    timespec left{static_cast<time_t>(us / 1000000u), static_cast<long>(us % 1000000u) * 1000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
        if (g_stop != nullptr && g_stop->load()) return;
    }
}

void stop_on_signals(std::atomic<bool>* stop) {
    g_stop = stop;
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool remove_stale_block(const char* name) {
    /* The object of a named block is "/" + the part of the name after the first backslash. */
    const char* backslash = std::strchr(name, '\\');
    const std::string object = std::string("/") + (backslash != nullptr ? backslash + 1 : name);
    return shm_unlink(object.c_str()) == 0;
}

} // namespace peer_os
