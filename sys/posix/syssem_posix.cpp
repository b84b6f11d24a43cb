/* In-process semaphores on POSIX: a recursive pthread mutex each. */
#include <pthread.h>

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

} // namespace syssem_os
