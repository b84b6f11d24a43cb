/* The peers' operating-system calls on POSIX: nanosleep pauses, SIGINT/SIGTERM as the end
 * request, an inotify watch on the block's object in /dev/shm that reports opens (Linux only;
 * elsewhere the watch stays inactive), and shm_unlink for a block whose creator died before it
 * could remove the name. */
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <string>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#ifdef __linux__
#include <poll.h>
#include <sys/inotify.h>
#endif

#include "peer_os.h"

namespace {

std::atomic<bool>* g_stop = nullptr;
/* The signal handler also writes a byte here, so that a wait for an open that began just
 * before the signal ends at once instead of after its whole time-out. */
int g_wake[2] = {-1, -1};

extern "C" void on_signal(int) {
    if (g_stop != nullptr) g_stop->store(true);
    const char byte = 0;
    if (g_wake[1] >= 0) {
        [[maybe_unused]] const ssize_t written = write(g_wake[1], &byte, 1); /* a full pipe wakes as well */
    }
}

/* The object of a named block is "/" + the part of the name after the first backslash. */
std::string object_name(const char* name) {
    const char* backslash = std::strchr(name, '\\');
    return std::string("/") + (backslash != nullptr ? backslash + 1 : name);
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
    if (g_wake[0] < 0 && pipe2(g_wake, O_NONBLOCK | O_CLOEXEC) != 0) g_wake[0] = g_wake[1] = -1;
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

#ifdef __linux__

OpenWatch::OpenWatch(const char* blockName) {
    handle_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    const std::string path = "/dev/shm" + object_name(blockName);
    if (handle_ >= 0 && inotify_add_watch(handle_, path.c_str(), IN_OPEN) < 0) {
        close(handle_);
        handle_ = -1;
    }
}

OpenWatch::~OpenWatch() {
    if (handle_ >= 0) close(handle_);
}

bool OpenWatch::wait_for_open(RTS_UI32 timeoutMs) {
    pollfd watched[2] = {{handle_, POLLIN, 0}, {g_wake[0], POLLIN, 0}};
    const int timeout = timeoutMs > 0x7FFFFFFFu ? -1 : static_cast<int>(timeoutMs);
    if (poll(watched, g_wake[0] >= 0 ? 2 : 1, timeout) <= 0 || watched[1].revents != 0) return false;
    /* Opens that came together count as one: the events are only drained. */
    alignas(inotify_event) char events[4096];
    while (read(handle_, events, sizeof events) > 0) {
    }
    return true;
}

#else

OpenWatch::OpenWatch(const char*) {}
OpenWatch::~OpenWatch() {}
bool OpenWatch::wait_for_open(RTS_UI32) {
    return false;
}

#endif

bool remove_stale_block(const char* name) {
    return shm_unlink(object_name(name).c_str()) == 0;
}

} // namespace peer_os
