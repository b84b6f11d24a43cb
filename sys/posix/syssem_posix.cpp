/* In-process semaphores on POSIX: a recursive pthread mutex each. Thread ids are the kernel's
 * task ids; the calling thread's name comes from pthread_getname_np, another thread's from its
 * task entry under /proc, which stays safe to read when that thread has ended meanwhile. */
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "sys/syssem_os.h"

namespace {

pthread_mutex_t* mutex_of(void* lock) {
    return static_cast<pthread_mutex_t*>(lock);
}

/* The pthread functions give their error as the result; 0 passes through. */
rts::OsError failed_as(const char* call, int error, const char** pCall) {
    return error == 0 ? rts::kOsOk : sys_os::failed(call, static_cast<rts::OsError>(error), pCall);
}

rts::OsError lock_init(void* lock, const char** pCall) {
    pthread_mutexattr_t attr;
    int error = pthread_mutexattr_init(&attr);
    if (error != 0) return failed_as("pthread_mutexattr_init", error, pCall);
    error = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    if (error == 0) error = pthread_mutex_init(mutex_of(lock), &attr);
    pthread_mutexattr_destroy(&attr);
    return failed_as("pthread_mutex_init", error, pCall);
}

rts::OsError lock_destroy(void* lock, const char** pCall) {
    return failed_as("pthread_mutex_destroy", pthread_mutex_destroy(mutex_of(lock)), pCall);
}

rts::OsError lock_enter(void* lock, const char** pCall) {
    return failed_as("pthread_mutex_lock", pthread_mutex_lock(mutex_of(lock)), pCall);
}

rts::OsError lock_leave(void* lock, const char** pCall) {
    return failed_as("pthread_mutex_unlock", pthread_mutex_unlock(mutex_of(lock)), pCall);
}

rts::OsError lock_try(void* lock, bool* pTaken, const char** pCall) {
    const int error = pthread_mutex_trylock(mutex_of(lock));
    *pTaken = error == 0;
    return failed_as("pthread_mutex_trylock", error == EBUSY ? 0 : error, pCall);
}

/* Every enter records its holder, so the id is asked of the kernel once per thread. */
RTS_UI32 current_thread_id() {
    static thread_local const RTS_UI32 id = static_cast<RTS_UI32>(syscall(SYS_gettid));
    return id;
}

/* Thread names need nothing loaded here. */
rts::OsError descriptions_open(const char**) {
    return rts::kOsOk;
}

rts::OsError descriptions_close(const char**) {
    return rts::kOsOk;
}

rts::OsError thread_description(RTS_UI32 threadId, char* name, RTS_SIZE size, const char** pCall) {
    name[0] = '\0';
    if (threadId == current_thread_id()) {
        const int error = pthread_getname_np(pthread_self(), name, size);
        if (error != 0) name[0] = '\0';
        return failed_as("pthread_getname_np", error, pCall);
    }
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%u/comm", static_cast<unsigned>(threadId));
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) return failed_as("fopen", errno, pCall);
    if (std::fgets(name, static_cast<int>(size), file) == nullptr) name[0] = '\0';
    std::fclose(file);
    name[std::strcspn(name, "\n")] = '\0';
    return rts::kOsOk;
}

constexpr syssem_os::Calls kCalls = {
    sizeof(pthread_mutex_t), lock_init,         lock_destroy,       lock_enter,         lock_leave, lock_try,
    current_thread_id,       descriptions_open, descriptions_close, thread_description,
};

} // namespace

const syssem_os::Calls& syssem_os::platform_calls() {
    return kCalls;
}
