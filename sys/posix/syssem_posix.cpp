/* In-process semaphores on POSIX: a recursive pthread mutex each. Thread ids are the kernel's
 * task ids; the calling thread's name comes from pthread_getname_np, another thread's from its
 * task entry under /proc, which stays safe to read when that thread has ended meanwhile. */
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "sys/syssem_os.h"

namespace syssem_os {

RTS_SIZE lock_size() {
    return sizeof(pthread_mutex_t);
}

bool lock_init(void* lock) {
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0) return false;
    bool ok = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
              pthread_mutex_init(static_cast<pthread_mutex_t*>(lock), &attr) == 0;
    pthread_mutexattr_destroy(&attr);
    return ok;
}

void lock_destroy(void* lock) {
    pthread_mutex_destroy(static_cast<pthread_mutex_t*>(lock));
}
void lock_enter(void* lock) {
    pthread_mutex_lock(static_cast<pthread_mutex_t*>(lock));
}
void lock_leave(void* lock) {
    pthread_mutex_unlock(static_cast<pthread_mutex_t*>(lock));
}
bool lock_try(void* lock) {
    return pthread_mutex_trylock(static_cast<pthread_mutex_t*>(lock)) == 0;
}

/* Every enter records its holder, so the id is asked of the kernel once per thread. */
RTS_UI32 current_thread_id() {
    static thread_local const RTS_UI32 id = static_cast<RTS_UI32>(syscall(SYS_gettid));
    return id;
}

bool descriptions_open() {
    return true;
}

void descriptions_close() {}

void thread_description(RTS_UI32 threadId, char* name, RTS_SIZE size) {
    if (size == 0) return;
    name[0] = '\0';
    if (threadId == current_thread_id()) {
        if (pthread_getname_np(pthread_self(), name, size) != 0) name[0] = '\0';
        return;
    }
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%u/comm", static_cast<unsigned>(threadId));
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) return;
    if (std::fgets(name, static_cast<int>(size), file) == nullptr) name[0] = '\0';
    std::fclose(file);
    name[std::strcspn(name, "\n")] = '\0';
}

} // namespace syssem_os
