/* Semaphores between processes on POSIX. A named mutex is a small shared-memory object that
 * holds one pthread mutex, process-shared, robust and recursive:
 *
 * - Naming: the object is "/mutex." + the local name, the local name being the part after the
 *   first backslash ("Global\\ServiceControlMutex" -> "/mutex.ServiceControlMutex"). A '/' in
 *   the local name becomes '_' because object names allow no further slash. The prefix keeps
 *   mutexes apart from shared blocks of the same name.
 * - Creation race: whoever creates the object with O_EXCL reports "created", everyone else
 *   "existed". The object starts zero-filled; the first process to switch its state word from
 *   0 to 1 initialises the mutex and then publishes state 2, and every other process waits
 *   (briefly, bounded) for state 2 before it uses the mutex. Each process sizes the object
 *   before it maps it, so no one touches memory past the end of a fresh object.
 * - Mode 0666 whatever the umask, like the Windows mutex that every authenticated user may use.
 * - A holder that dies leaves the mutex owner-dead; the next enter makes it consistent and
 *   counts as entered, as an abandoned Windows mutex does.
 * - Lifetime: the object counts the handles open on it (under a second robust mutex used only
 *   for that). The last delete marks the object dead and removes its name, so the next
 *   create makes a fresh one; a process that opened the object just before that sees the mark
 *   and opens again by name. A process killed with a handle open never gives it back, so its
 *   object stays; a stale object holds a free or owner-dead mutex, both usable.
 * - Deleting a handle releases the levels the calling thread still holds through it: the
 *   thread's robust list points into the mapping, and the next mutex operation would follow
 *   it into unmapped memory.
 * The handle is a small node of this process's list of open mutexes; a handle that is not on
 * the list (deleted already, or never made here) is refused without being touched. */
#include <atomic>
#include <cerrno>
#include <climits>
#include <ctime>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sys/syssemprocess_os.h"

namespace {

constexpr RTS_UI32 kStateFresh = 0;
constexpr RTS_UI32 kStateInitialising = 1;
constexpr RTS_UI32 kStateReady = 0x4D555431; /* also marks this layout: older ones never get ready */
constexpr int kReadyWaitSteps = 2000;        /* 2000 x 0.5 ms: a creator that stalls longer has died */

constexpr RTS_SIZE kMaxObjectName = 256;
constexpr int kOpenAttempts = 8;

struct SharedMutex {
    std::atomic<RTS_UI32> state;
    pthread_mutex_t books; /* guards handles and dead */
    RTS_UI32 handles;
    RTS_UI32 dead;
    pthread_mutex_t mutex;
};
static_assert(std::atomic<RTS_UI32>::is_always_lock_free, "the state word is shared between processes");

/* One open mutex of this process. */
struct Handle {
    SharedMutex* shared;
    Handle* next;
    char name[kMaxObjectName];
    /* Levels entered through this handle, and by whom; changed only by the holding thread. */
    std::atomic<int> depth;
    std::atomic<pthread_t> owner;
};

std::mutex g_handles_lock;
Handle* g_handles = nullptr;

/* The handle when it is on the list, else null. */
Handle* find(void* handle) {
    std::lock_guard<std::mutex> guard(g_handles_lock);
    for (Handle* h = g_handles; h != nullptr; h = h->next) {
        if (h == handle) return h;
    }
    return nullptr;
}

bool held_by_caller(const Handle& h) {
    return h.depth.load() > 0 && pthread_equal(h.owner.load(), pthread_self());
}

/* A handle of the named object through which the calling thread holds it, or null. Leave
 * may come through another handle of the same object than enter, as with Windows handles. */
Handle* entered_by_caller(const char* name) {
    std::lock_guard<std::mutex> guard(g_handles_lock);
    for (Handle* h = g_handles; h != nullptr; h = h->next) {
        if (held_by_caller(*h) && std::strcmp(h->name, name) == 0) return h;
    }
    return nullptr;
}

/* The mapping another handle of this process has of the named object, or null. Handles of
 * one object share one mapping, so the mutex has one address in the process. Called with
 * the list lock held. */
SharedMutex* mapped_here(const char* name) {
    for (Handle* h = g_handles; h != nullptr; h = h->next) {
        if (std::strcmp(h->name, name) == 0) return h->shared;
    }
    return nullptr;
}

/* Whether a handle still on the list uses the mapping; called with the list lock held. */
bool shared_by_others(const SharedMutex* shared) {
    for (Handle* h = g_handles; h != nullptr; h = h->next) {
        if (h->shared == shared) return true;
    }
    return false;
}

/* Takes a handle off the list; false when it is not there. */
bool unlist(void* handle) {
    std::lock_guard<std::mutex> guard(g_handles_lock);
    for (Handle** link = &g_handles; *link != nullptr; link = &(*link)->next) {
        if (*link == handle) {
            *link = (*link)->next;
            return true;
        }
    }
    return false;
}

bool object_name(const char* globalName, char (&name)[kMaxObjectName]) {
    const char* backslash = std::strchr(globalName, '\\');
    const char* local = backslash != nullptr ? backslash + 1 : globalName;
    constexpr char kPrefix[] = "/mutex.";
    if (std::strlen(local) + sizeof kPrefix > kMaxObjectName) return false;
    char* out = std::copy(kPrefix, kPrefix + sizeof kPrefix - 1, name);
    for (; *local != '\0'; ++local) *out++ = *local == '/' ? '_' : *local;
    *out = '\0';
    return true;
}

bool init_mutex(pthread_mutex_t* mutex, int type) {
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0) return false;
    bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
              pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
              pthread_mutexattr_settype(&attr, type) == 0 && pthread_mutex_init(mutex, &attr) == 0;
    pthread_mutexattr_destroy(&attr);
    return ok;
}

/* The first process to claim the fresh object initialises it; the others wait until it is. */
bool make_ready(SharedMutex* shared) {
    RTS_UI32 expected = kStateFresh;
    if (shared->state.compare_exchange_strong(expected, kStateInitialising)) {
        if (!init_mutex(&shared->books, PTHREAD_MUTEX_NORMAL) ||
            !init_mutex(&shared->mutex, PTHREAD_MUTEX_RECURSIVE)) {
            shared->state.store(kStateFresh);
            return false;
        }
        shared->state.store(kStateReady, std::memory_order_release);
        return true;
    }
    const timespec step{0, 500000};
    for (int i = 0; i < kReadyWaitSteps; ++i) {
        if (shared->state.load(std::memory_order_acquire) == kStateReady) return true;
        nanosleep(&step, nullptr);
    }
    return false;
}

/* Holds the bookkeeping lock of an object; a holder that died there leaves the counts as
 * they were, which at worst keeps a stale object. */
class Books {
public:
    explicit Books(SharedMutex* shared) : m_(&shared->books) {
        if (pthread_mutex_lock(m_) == EOWNERDEAD) pthread_mutex_consistent(m_);
    }
    ~Books() { pthread_mutex_unlock(m_); }
    Books(const Books&) = delete;
    Books& operator=(const Books&) = delete;

private:
    pthread_mutex_t* m_;
};

/* Counts a handle on a live object; false when its last handle went away meanwhile. */
bool count_handle(SharedMutex* shared) {
    Books books(shared);
    if (shared->dead != 0) return false;
    ++shared->handles;
    return true;
}

/* Drops a handle; the last one marks the object dead and removes its name. */
void uncount_handle(SharedMutex* shared, const char* name) {
    Books books(shared);
    if (shared->handles > 0 && --shared->handles == 0) {
        shared->dead = 1;
        shm_unlink(name);
    }
}

/* Opens or creates the object and makes sure it is large enough to map. */
int open_object(const char* name, bool* pExisted) {
    int fd = shm_open(name, O_RDWR | O_CREAT | O_EXCL, 0666);
    *pExisted = fd < 0 && errno == EEXIST;
    if (*pExisted) fd = shm_open(name, O_RDWR, 0);
    if (fd < 0) return -1;
    struct stat st {};
    bool ok =
        (*pExisted || fchmod(fd, 0666) == 0) && fstat(fd, &st) == 0 &&
        (st.st_size >= static_cast<off_t>(sizeof(SharedMutex)) || ftruncate(fd, sizeof(SharedMutex)) == 0);
    if (!ok) {
        close(fd);
        return -1;
    }
    return fd;
}

timespec deadline_after(RTS_UI32 timeoutMs) {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    t.tv_sec += static_cast<time_t>(timeoutMs / 1000);
    t.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (t.tv_nsec >= 1000000000L) {
        t.tv_sec += 1;
        t.tv_nsec -= 1000000000L;
    }
    return t;
}

/* Maps a ready object by name, or null. */
SharedMutex* map_object(const char* name, bool* pExisted) {
    int fd = open_object(name, pExisted);
    if (fd < 0) return nullptr;
    void* address = mmap(nullptr, sizeof(SharedMutex), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (address == MAP_FAILED) return nullptr;
    auto* shared = static_cast<SharedMutex*>(address);
    if (make_ready(shared)) return shared;
    munmap(address, sizeof(SharedMutex));
    return nullptr;
}

} // namespace

namespace syssemprocess_os {

bool security_init() {
    return true;
}
void security_exit() {}

void* mutex_create(const char* globalName, bool* pExisted) {
    auto* handle = new (std::nothrow) Handle{};
    if (handle == nullptr || !object_name(globalName, handle->name)) {
        delete handle;
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(g_handles_lock);
    handle->shared = mapped_here(handle->name);
    *pExisted = handle->shared != nullptr;
    if (handle->shared != nullptr && !count_handle(handle->shared)) handle->shared = nullptr;
    for (int attempt = 0; attempt < kOpenAttempts && handle->shared == nullptr; ++attempt) {
        SharedMutex* shared = map_object(handle->name, pExisted);
        if (shared == nullptr) break;
        if (count_handle(shared)) {
            handle->shared = shared;
        } else {
            munmap(shared, sizeof(SharedMutex));
        }
    }
    if (handle->shared == nullptr) {
        delete handle;
        return nullptr;
    }
    handle->next = g_handles;
    g_handles = handle;
    return handle;
}

bool mutex_close(void* mutex) {
    if (!unlist(mutex)) return false;
    auto* handle = static_cast<Handle*>(mutex);
    if (held_by_caller(*handle)) {
        for (int level = handle->depth.exchange(0); level > 0; --level)
            pthread_mutex_unlock(&handle->shared->mutex);
    }
    uncount_handle(handle->shared, handle->name);
    std::lock_guard<std::mutex> guard(g_handles_lock);
    if (!shared_by_others(handle->shared)) munmap(handle->shared, sizeof(SharedMutex));
    delete handle;
    return true;
}

Outcome mutex_enter(void* mutex, RTS_UI32 timeoutMs) {
    Handle* handle = find(mutex);
    if (handle == nullptr) return Outcome::bad_handle;
    pthread_mutex_t* m = &handle->shared->mutex;
    /* The free (or owner-dead) mutex is taken without a timed wait first. */
    int rc = pthread_mutex_trylock(m);
    if (rc == EBUSY && timeoutMs == 0xFFFFFFFFu) {
        rc = pthread_mutex_lock(m);
    } else if (rc == EBUSY && timeoutMs != 0) {
        const timespec deadline = deadline_after(timeoutMs);
        rc = pthread_mutex_timedlock(m, &deadline);
    }
    if (rc == EOWNERDEAD) rc = pthread_mutex_consistent(m);
    if (rc == 0) {
        handle->owner.store(pthread_self());
        handle->depth.fetch_add(1);
        return Outcome::ok;
    }
    return rc == EBUSY || rc == ETIMEDOUT ? Outcome::timeout : Outcome::bad_handle;
}

Outcome mutex_leave(void* mutex) {
    Handle* handle = find(mutex);
    if (handle == nullptr) return Outcome::bad_handle;
    /* Nearly always the leave comes through the handle that entered. */
    Handle* entered = held_by_caller(*handle) ? handle : entered_by_caller(handle->name);
    if (entered == nullptr) return Outcome::not_owner;
    entered->depth.fetch_sub(1);
    pthread_mutex_unlock(&handle->shared->mutex);
    return Outcome::ok;
}

} // namespace syssemprocess_os
