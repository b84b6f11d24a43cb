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
 * - A timed enter waits against the monotonic clock: setting the calendar clock neither
 *   stretches nor cuts it.
 * - Lifetime: the object counts the handles open on it (under a second robust mutex used only
 *   for that). The last delete marks the object dead and removes its name, so the next
 *   create makes a fresh one; a process that opened the object just before that sees the mark
 *   and opens again by name. A process killed with a handle open never gives it back, so its
 *   object stays; a stale object holds a free or owner-dead mutex, both usable.
 * - Each handle records the thread that entered through it and how deep, so a leave from a
 *   thread that does not hold the mutex is refused without touching it. A leave may come
 *   through another handle of the same object than the enter, as with Windows handles: all
 *   handles of one object in the process share one mapping.
 * - Deleting a handle releases the levels the calling thread still holds through it: the
 *   thread's robust list points into the mapping, and the next mutex operation would follow
 *   it into unmapped memory.
 * The handle is a node of this process's handle list. Nodes stay on the list while the
 * component runs: a deleted handle's node keeps its place with no mutex and is reused by the
 * next create, so enter and leave check a handle against the list without taking a lock, and
 * a handle that is not a live node (deleted already, or never made here) is refused without
 * being touched. The free nodes are released at shut-down. */
#include <atomic>
#include <cerrno>
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

#include "sys/posix/syssemprocess_posix.h"
#include "sys/syssemprocess_os.h"

#if defined(__SANITIZE_THREAD__)
#define GC_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define GC_TSAN 1
#endif
#endif
#ifdef GC_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace {

constexpr RTS_UI32 kStateFresh = 0;
constexpr RTS_UI32 kStateInitialising = 1;
constexpr RTS_UI32 kStateReady = 0x4D555431; /* also marks this layout: older ones never get ready */
constexpr int kReadyWaitSteps = 2000;        /* 2000 x 0.5 ms: a creator that stalls longer has died */

constexpr RTS_SIZE kMaxObjectName = 256;
constexpr int kOpenAttempts = 8;

/* The platform call that failed and its error, handed up through the seam. */
struct Failure {
    const char* call = nullptr;
    int error = 0;
    /* Notes the failure; false, so that a helper can end with it. */
    bool at(const char* what, int code) {
        call = what;
        error = code;
        return false;
    }
    rts::OsError report(const char** pCall) const {
        return sys_os::failed(call, static_cast<rts::OsError>(error), pCall);
    }
};

struct SharedMutex {
    std::atomic<RTS_UI32> state;
    pthread_mutex_t books; /* guards handles and dead */
    RTS_UI32 handles;
    RTS_UI32 dead;
    pthread_mutex_t mutex;
};
static_assert(std::atomic<RTS_UI32>::is_always_lock_free, "the state word is shared between processes");

/* One node of the handle list. */
struct Handle {
    std::atomic<SharedMutex*> shared; /* null while the node is free */
    Handle* next;                     /* fixed once the node is on the list */
    char name[kMaxObjectName];
    /* Levels entered through this handle, and by whom; written only by the holding thread,
     * the owner before the depth. */
    std::atomic<int> depth;
    std::atomic<const void*> owner;
};

/* The calling thread's identity for the owner field: the address of a thread-local byte,
 * cheaper to take than pthread_self on every enter and leave. */
const void* this_thread() {
    static thread_local const char identity = 0;
    return &identity;
}

std::mutex g_handles_lock; /* serialises create, delete and the release at shut-down */
std::atomic<Handle*> g_handles{nullptr};

/* A live handle and its mutex. */
struct Live {
    Handle* handle;
    SharedMutex* shared;
};

/* The handle with its mutex when it is a live handle of this process, else nulls. Takes no
 * lock: nodes are only added to the front of the list while the component runs. */
Live live(void* handle) {
    for (Handle* h = g_handles.load(std::memory_order_acquire); h != nullptr; h = h->next) {
        if (h == handle) return Live{h, h->shared.load(std::memory_order_acquire)};
    }
    return Live{nullptr, nullptr};
}

bool held_by_caller(const Handle& h) {
    return h.depth.load(std::memory_order_acquire) > 0 &&
           h.owner.load(std::memory_order_relaxed) == this_thread();
}

/* Counts a level the calling thread has just entered through the handle. Levels counted for
 * another thread are gone by then: that thread left them, or it ended holding the mutex. */
void count_level(Handle& h) {
    const bool again = h.owner.load(std::memory_order_relaxed) == this_thread();
    const int depth = again ? h.depth.load(std::memory_order_relaxed) : 0;
    h.owner.store(this_thread(), std::memory_order_relaxed);
    h.depth.store(depth + 1, std::memory_order_release);
}

/* Takes levels off the handle; the calling thread holds them. */
void drop_levels(Handle& h, int levels) {
    h.depth.store(h.depth.load(std::memory_order_relaxed) - levels, std::memory_order_release);
}

/* A live handle of the named object through which the calling thread holds it, or null. */
Handle* entered_by_caller(const char* name) {
    std::lock_guard<std::mutex> guard(g_handles_lock);
    for (Handle* h = g_handles.load(std::memory_order_relaxed); h != nullptr; h = h->next) {
        if (h->shared.load(std::memory_order_relaxed) != nullptr && held_by_caller(*h) &&
            std::strcmp(h->name, name) == 0)
            return h;
    }
    return nullptr;
}

/* The mapping a live handle of this process has of the named object, or null. Handles of one
 * object share one mapping, so the mutex has one address in the process. Called with the list
 * lock held, like the two below. */
SharedMutex* mapped_here(const char* name) {
    for (Handle* h = g_handles.load(std::memory_order_relaxed); h != nullptr; h = h->next) {
        SharedMutex* shared = h->shared.load(std::memory_order_relaxed);
        if (shared != nullptr && std::strcmp(h->name, name) == 0) return shared;
    }
    return nullptr;
}

/* Whether a live handle uses the mapping. */
bool mapped_by_a_handle(const SharedMutex* shared) {
    for (Handle* h = g_handles.load(std::memory_order_relaxed); h != nullptr; h = h->next) {
        if (h->shared.load(std::memory_order_relaxed) == shared) return true;
    }
    return false;
}

/* A free node of the list, or null. */
Handle* free_node() {
    for (Handle* h = g_handles.load(std::memory_order_relaxed); h != nullptr; h = h->next) {
        if (h->shared.load(std::memory_order_relaxed) == nullptr) return h;
    }
    return nullptr;
}

bool object_name(const char* globalName, char (&name)[kMaxObjectName], Failure& failure) {
    const char* backslash = std::strchr(globalName, '\\');
    const char* local = backslash != nullptr ? backslash + 1 : globalName;
    constexpr char kPrefix[] = "/mutex.";
    if (std::strlen(local) + sizeof kPrefix > kMaxObjectName) return failure.at("shm_open", ENAMETOOLONG);
    char* out = std::copy(kPrefix, kPrefix + sizeof kPrefix - 1, name);
    for (; *local != '\0'; ++local) *out++ = *local == '/' ? '_' : *local;
    *out = '\0';
    return true;
}

bool init_mutex(pthread_mutex_t* mutex, int type, Failure& failure) {
    pthread_mutexattr_t attr;
    int error = pthread_mutexattr_init(&attr);
    if (error != 0) return failure.at("pthread_mutexattr_init", error);
    if ((error = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED)) == 0 &&
        (error = pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST)) == 0 &&
        (error = pthread_mutexattr_settype(&attr, type)) == 0) {
        error = pthread_mutex_init(mutex, &attr);
    }
    pthread_mutexattr_destroy(&attr);
    return error == 0 || failure.at("pthread_mutex_init", error);
}

/* The first process to claim the fresh object initialises it; the others wait until it is. */
bool make_ready(SharedMutex* shared, Failure& failure) {
    RTS_UI32 expected = kStateFresh;
    if (shared->state.compare_exchange_strong(expected, kStateInitialising)) {
        if (!init_mutex(&shared->books, PTHREAD_MUTEX_NORMAL, failure) ||
            !init_mutex(&shared->mutex, PTHREAD_MUTEX_RECURSIVE, failure)) {
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
    return failure.at("waiting for the mutex's creator", ETIMEDOUT);
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

/* Opens or creates the object and makes sure it is large enough to map; -1 on failure. */
int open_object(const char* name, bool* pExisted, Failure& failure) {
    int fd = shm_open(name, O_RDWR | O_CREAT | O_EXCL, 0666);
    *pExisted = fd < 0 && errno == EEXIST;
    if (*pExisted) fd = shm_open(name, O_RDWR, 0);
    if (fd < 0) {
        failure.at("shm_open", errno);
        return -1;
    }
    struct stat st {};
    const bool ok = (*pExisted || fchmod(fd, 0666) == 0 || failure.at("fchmod", errno)) &&
                    (fstat(fd, &st) == 0 || failure.at("fstat", errno)) &&
                    (st.st_size >= static_cast<off_t>(sizeof(SharedMutex)) ||
                     ftruncate(fd, sizeof(SharedMutex)) == 0 || failure.at("ftruncate", errno));
    if (!ok) {
        close(fd);
        return -1;
    }
    return fd;
}

/* Takes the mutex or gives up at the deadline. The thread checker of the sanitizer build does
 * not see pthread_mutex_clocklock, so it is told of the lock by hand. */
int lock_until(pthread_mutex_t* m, const timespec& deadline) {
#ifdef GC_TSAN
    __tsan_mutex_pre_lock(m, __tsan_mutex_try_lock);
#endif
    const int rc = pthread_mutex_clocklock(m, syssemprocess_posix::kWaitClock, &deadline);
#ifdef GC_TSAN
    const bool taken = rc == 0 || rc == EOWNERDEAD;
    __tsan_mutex_post_lock(m, __tsan_mutex_try_lock | (taken ? 0 : __tsan_mutex_try_lock_failed), 0);
#endif
    return rc;
}

/* Maps a ready object by name, or null. */
SharedMutex* map_object(const char* name, bool* pExisted, Failure& failure) {
    int fd = open_object(name, pExisted, failure);
    if (fd < 0) return nullptr;
    void* address = mmap(nullptr, sizeof(SharedMutex), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) failure.at("mmap", errno);
    close(fd);
    if (address == MAP_FAILED) return nullptr;
    auto* shared = static_cast<SharedMutex*>(address);
    if (make_ready(shared, failure)) return shared;
    munmap(address, sizeof(SharedMutex));
    return nullptr;
}

/* Maps the named object once per process and counts the new handle on it; null on failure. */
SharedMutex* attach(const char* name, bool* pExisted, Failure& failure) {
    SharedMutex* shared = mapped_here(name);
    *pExisted = shared != nullptr;
    if (shared != nullptr && count_handle(shared)) return shared;
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        shared = map_object(name, pExisted, failure);
        if (shared == nullptr) return nullptr;
        if (count_handle(shared)) return shared;
        munmap(shared, sizeof(SharedMutex));
    }
    /* Every object found was already on its way out. */
    failure.at("shm_open", EAGAIN);
    return nullptr;
}

/* Access to every user is the object's mode; there is nothing more to build. */
rts::OsError security_init(const char**) {
    return rts::kOsOk;
}

rts::OsError security_exit(const char**) {
    return rts::kOsOk;
}

/* What the seam says of a handle that is not a live handle of this process. */
rts::OsError bad_handle(const char** pCall) {
    return Failure{"handle lookup", EBADF}.report(pCall);
}

rts::OsError mutex_create(const char* globalName, void** pMutex, bool* pExisted, const char** pCall) {
    Failure failure;
    char name[kMaxObjectName];
    if (!object_name(globalName, name, failure)) return failure.report(pCall);
    std::lock_guard<std::mutex> guard(g_handles_lock);
    Handle* node = free_node();
    const bool fresh = node == nullptr;
    if (fresh) node = new (std::nothrow) Handle{};
    if (node == nullptr) return Failure{"operator new", ENOMEM}.report(pCall);
    SharedMutex* shared = attach(name, pExisted, failure);
    if (shared == nullptr) {
        if (fresh) delete node;
        return failure.report(pCall);
    }
    std::memcpy(node->name, name, sizeof name);
    node->depth.store(0, std::memory_order_relaxed);
    node->shared.store(shared, std::memory_order_release);
    if (fresh) {
        node->next = g_handles.load(std::memory_order_relaxed);
        g_handles.store(node, std::memory_order_release);
    }
    *pMutex = node;
    return rts::kOsOk;
}

rts::OsError mutex_close(void* mutex, const char** pCall) {
    std::lock_guard<std::mutex> guard(g_handles_lock);
    const Live it = live(mutex);
    if (it.shared == nullptr) return bad_handle(pCall);
    it.handle->shared.store(nullptr, std::memory_order_release);
    if (held_by_caller(*it.handle)) {
        for (int level = it.handle->depth.load(std::memory_order_relaxed); level > 0; --level)
            pthread_mutex_unlock(&it.shared->mutex);
        drop_levels(*it.handle, it.handle->depth.load(std::memory_order_relaxed));
    }
    uncount_handle(it.shared, it.handle->name);
    if (!mapped_by_a_handle(it.shared)) munmap(it.shared, sizeof(SharedMutex));
    return rts::kOsOk;
}

void release_free_handles() {
    std::lock_guard<std::mutex> guard(g_handles_lock);
    Handle* kept = nullptr;
    for (Handle* h = g_handles.load(std::memory_order_relaxed); h != nullptr;) {
        Handle* next = h->next;
        if (h->shared.load(std::memory_order_relaxed) == nullptr) {
            delete h;
        } else {
            h->next = kept;
            kept = h;
        }
        h = next;
    }
    g_handles.store(kept, std::memory_order_release);
}

rts::OsError mutex_enter(void* mutex, RTS_UI32 timeoutMs, bool* pEntered, const char** pCall) {
    const Live it = live(mutex);
    if (it.shared == nullptr) return bad_handle(pCall);
    pthread_mutex_t* m = &it.shared->mutex;
    /* The free (or owner-dead) mutex is taken without a timed wait first. */
    const char* call = "pthread_mutex_trylock";
    int rc = pthread_mutex_trylock(m);
    if (rc == EBUSY && timeoutMs == 0xFFFFFFFFu) {
        call = "pthread_mutex_lock";
        rc = pthread_mutex_lock(m);
    } else if (rc == EBUSY && timeoutMs != 0) {
        call = "pthread_mutex_clocklock";
        rc = lock_until(m, syssemprocess_posix::deadline_after(timeoutMs));
    }
    if (rc == EOWNERDEAD) {
        call = "pthread_mutex_consistent";
        rc = pthread_mutex_consistent(m);
    }
    *pEntered = rc == 0;
    if (rc == 0) count_level(*it.handle);
    if (rc == 0 || rc == EBUSY || rc == ETIMEDOUT) return rts::kOsOk;
    return Failure{call, rc}.report(pCall);
}

rts::OsError mutex_leave(void* mutex, const char** pCall) {
    const Live it = live(mutex);
    if (it.shared == nullptr) return bad_handle(pCall);
    /* Nearly always the leave comes through the handle that entered. A thread that holds the
     * mutex through none of them is refused as the unlock itself would refuse it. */
    Handle* entered = held_by_caller(*it.handle) ? it.handle : entered_by_caller(it.handle->name);
    if (entered == nullptr) return Failure{"pthread_mutex_unlock", EPERM}.report(pCall);
    drop_levels(*entered, 1);
    const int rc = pthread_mutex_unlock(&it.shared->mutex);
    return rc == 0 ? rts::kOsOk : Failure{"pthread_mutex_unlock", rc}.report(pCall);
}

bool not_owner(rts::OsError error) {
    return error == EPERM;
}

constexpr syssemprocess_os::Calls kCalls = {
    security_init, security_exit, mutex_create, mutex_close,
    mutex_enter,   mutex_leave,   not_owner,    release_free_handles,
};

} // namespace

const syssemprocess_os::Calls& syssemprocess_os::platform_calls() {
    return kCalls;
}

timespec syssemprocess_posix::deadline_after(RTS_UI32 timeoutMs) {
    timespec t{};
    clock_gettime(kWaitClock, &t);
    t.tv_sec += static_cast<time_t>(timeoutMs / 1000);
    t.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (t.tv_nsec >= 1000000000L) {
        t.tv_sec += 1;
        t.tv_nsec -= 1000000000L;
    }
    return t;
}
