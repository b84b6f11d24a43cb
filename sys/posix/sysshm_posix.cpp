/* Shared memory on POSIX. A named block is the shared-memory object "/" + its local name (the
 * part after the first backslash, else the whole name), so "ServiceControl_Ombrelin" and
 * "Global\\ServiceControl_Ombrelin" are one object. Objects are created with mode 0666
 * whatever the umask (every user may read and write them, as every authenticated user may on
 * Windows); only the creator sizes an object, exactly as asked. A view covers the object in
 * whole pages, as a Windows view covers its mapping. A local name with a '/' names no object.
 *
 * A named mapping disappears on Windows with its last handle. Here the process that created
 * an object removes its name when it unmaps it, so a block whose maker has gone is no longer
 * found by name (the processes that still have it mapped keep their view).
 *
 * Locking uses mlock (unmapping unlocks); a refusal because of RLIMIT_MEMLOCK is retried once
 * with the soft limit raised. Physical memory is reached through /dev/mem; without it physical
 * blocks fail. The list of desktop sessions is empty and there are no access lists beyond the
 * mode. */
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sys/sysshm_os.h"

namespace {

constexpr RTS_SIZE kMaxObjectName = 256;
/* The lock limit grows in the units the Windows working set grows in, plus this slack. */
constexpr RTS_UI64 kQuotaUnit = 4096;
constexpr RTS_UI64 kQuotaSlack = 8192;

/* The mapping token: the object's name, kept by the creator to remove it at the end. */
struct Mapping {
    bool created;
    char name[kMaxObjectName];
};

bool object_name(const char* name, char (&out)[kMaxObjectName]) {
    const char* backslash = std::strchr(name, '\\');
    const char* local = backslash != nullptr ? backslash + 1 : name;
    const RTS_SIZE length = std::strlen(local);
    if (length == 0 || length + 2 > kMaxObjectName || std::strchr(local, '/') != nullptr) return false;
    out[0] = '/';
    std::memcpy(out + 1, local, length + 1);
    return true;
}

RTS_UI64 page_size() {
    return static_cast<RTS_UI64>(sysconf(_SC_PAGESIZE));
}

/* Maps the whole object behind fd in whole pages and closes fd; on success the view owns the
 * mapping token. */
rts::OsError map_object(int fd, Mapping* mapping, sysshm_os::View* view, const char** pCall) {
    struct stat st {};
    rts::OsError error = rts::kOsOk;
    void* address = MAP_FAILED;
    RTS_UI64 size = 0;
    if (fstat(fd, &st) != 0) {
        error = sys_os::failed("fstat", errno, pCall);
    } else if (st.st_size == 0) {
        error = sys_os::failed("mmap", EINVAL, pCall); /* a creator that has not sized it yet */
    } else {
        size = (static_cast<RTS_UI64>(st.st_size) + page_size() - 1) / page_size() * page_size();
        address = mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (address == MAP_FAILED) error = sys_os::failed("mmap", errno, pCall);
    }
    close(fd);
    if (error == rts::kOsOk) *view = sysshm_os::View{mapping, address, size};
    return error;
}

rts::OsError mapping_open(const char* name, sysshm_os::View* pView, const char** pCall) {
    auto* mapping = new (std::nothrow) Mapping{};
    if (mapping == nullptr) return sys_os::failed("operator new", ENOMEM, pCall);
    rts::OsError error = rts::kOsOk;
    if (!object_name(name, mapping->name)) {
        error = sys_os::failed("shm_open", EINVAL, pCall);
    } else {
        const int fd = shm_open(mapping->name, O_RDWR, 0);
        error = fd < 0 ? sys_os::failed("shm_open", errno, pCall) : map_object(fd, mapping, pView, pCall);
    }
    if (error != rts::kOsOk) delete mapping;
    return error;
}

/* Creates the object exactly size bytes large, or opens it when another process was first. */
int create_object(Mapping* mapping, RTS_UI64 size, rts::OsError* pError, const char** pCall) {
    int fd = shm_open(mapping->name, O_RDWR | O_CREAT | O_EXCL, 0666);
    mapping->created = fd >= 0;
    if (fd < 0 && errno == EEXIST) fd = shm_open(mapping->name, O_RDWR, 0);
    if (fd < 0) {
        *pError = sys_os::failed("shm_open", errno, pCall);
    } else if (mapping->created && fchmod(fd, 0666) != 0) {
        *pError = sys_os::failed("fchmod", errno, pCall);
    } else if (mapping->created && ftruncate(fd, static_cast<off_t>(size)) != 0) {
        *pError = sys_os::failed("ftruncate", errno, pCall);
    }
    if (*pError != rts::kOsOk && fd >= 0) {
        close(fd);
        fd = -1;
    }
    return fd;
}

rts::OsError mapping_create(const char* localName, RTS_UI64 size, sysshm_os::View* pView,
                            const char** pCall) {
    if (size == 0 || size > static_cast<RTS_UI64>(std::numeric_limits<off_t>::max()))
        return sys_os::failed("ftruncate", EINVAL, pCall);
    auto* mapping = new (std::nothrow) Mapping{};
    if (mapping == nullptr) return sys_os::failed("operator new", ENOMEM, pCall);
    if (!object_name(localName, mapping->name)) {
        delete mapping;
        return sys_os::failed("shm_open", EINVAL, pCall);
    }
    rts::OsError error = rts::kOsOk;
    const int fd = create_object(mapping, size, &error, pCall);
    if (fd >= 0) error = map_object(fd, mapping, pView, pCall);
    if (error != rts::kOsOk) {
        if (mapping->created) shm_unlink(mapping->name);
        delete mapping;
    }
    return error;
}

rts::OsError mapping_close(sysshm_os::View* pView, const char** pCall) {
    auto* mapping = static_cast<Mapping*>(pView->mapping);
    rts::OsError error = rts::kOsOk;
    if (pView->address != nullptr && munmap(pView->address, static_cast<size_t>(pView->size)) != 0)
        error = sys_os::failed("munmap", errno, pCall);
    if (mapping != nullptr && mapping->created && shm_unlink(mapping->name) != 0 && error == rts::kOsOk)
        error = sys_os::failed("shm_unlink", errno, pCall);
    delete mapping;
    *pView = sysshm_os::View{};
    return error;
}

rts::OsError lock(void* address, RTS_UI64 size, const char** pCall) {
    return mlock(address, static_cast<size_t>(size)) == 0 ? rts::kOsOk
                                                          : sys_os::failed("mlock", errno, pCall);
}

bool quota_exceeded(rts::OsError error) {
    return error == EPERM || error == EAGAIN || error == ENOMEM;
}

/* Raises the soft limit as far as the hard limit allows; an unlimited one is no obstacle. */
rts::OsError grow_lock_quota(RTS_UI64 size, const char** pCall) {
    struct rlimit limit {};
    if (getrlimit(RLIMIT_MEMLOCK, &limit) != 0) return sys_os::failed("getrlimit", errno, pCall);
    if (limit.rlim_cur == RLIM_INFINITY) return rts::kOsOk;
    rlim_t wanted = limit.rlim_cur + static_cast<rlim_t>(size / kQuotaUnit * kQuotaUnit + kQuotaSlack);
    if (limit.rlim_max != RLIM_INFINITY && wanted > limit.rlim_max) wanted = limit.rlim_max;
    limit.rlim_cur = wanted;
    return setrlimit(RLIMIT_MEMLOCK, &limit) == 0 ? rts::kOsOk : sys_os::failed("setrlimit", errno, pCall);
}

/* A view is unlocked only right before it is unmapped, and munmap releases the lock with the
 * pages: a separate munlock would cost a system call on every close and change nothing. */
rts::OsError unlock(void*, RTS_UI64, const char**) {
    return rts::kOsOk;
}

/* The object's mode is all the security there is. */
rts::OsError security_init(const char**) {
    return rts::kOsOk;
}

rts::OsError security_exit(const char**) {
    return rts::kOsOk;
}

/* There are no desktop sessions with names of their own: the list is always empty. */
rts::OsError sessions_load(bool* pAvailable, const char**) {
    *pAvailable = true;
    return rts::kOsOk;
}

rts::OsError sessions_unload(const char**) {
    return rts::kOsOk;
}

rts::OsError for_each_session(bool (*)(RTS_UI32, void*), void*, const char**) {
    return rts::kOsOk;
}

int fd_of(void* device) {
    return static_cast<int>(reinterpret_cast<RTS_UINTPTR>(device)) - 1;
}

/* The device is the descriptor of /dev/mem plus one, so that it is never null. */
rts::OsError driver_open(void** pDevice, const char** pCall) {
    const int fd = open("/dev/mem", O_RDWR | O_SYNC);
    if (fd < 0) return sys_os::failed("open", errno, pCall);
    *pDevice = reinterpret_cast<void*>(static_cast<RTS_UINTPTR>(fd) + 1);
    return rts::kOsOk;
}

rts::OsError driver_map(void* device, RTS_UI64 physicalAddress, RTS_UI64 size, void** pAddress,
                        const char** pCall) {
    const RTS_UI64 offset = physicalAddress % page_size();
    if (size == 0) return sys_os::failed("mmap", EINVAL, pCall);
    void* base = mmap(nullptr, static_cast<size_t>(size + offset), PROT_READ | PROT_WRITE, MAP_SHARED,
                      fd_of(device), static_cast<off_t>(physicalAddress - offset));
    if (base == MAP_FAILED) return sys_os::failed("mmap", errno, pCall);
    *pAddress = static_cast<unsigned char*>(base) + offset;
    return rts::kOsOk;
}

rts::OsError driver_unmap(void*, void* address, RTS_UI64 size, const char** pCall) {
    const auto where = reinterpret_cast<RTS_UINTPTR>(address);
    const RTS_UINTPTR offset = where % page_size();
    if (munmap(reinterpret_cast<void*>(where - offset), static_cast<size_t>(size + offset)) != 0)
        return sys_os::failed("munmap", errno, pCall);
    return rts::kOsOk;
}

rts::OsError driver_close(void* device, const char** pCall) {
    return close(fd_of(device)) == 0 ? rts::kOsOk : sys_os::failed("close", errno, pCall);
}

constexpr sysshm_os::Calls kCalls = {
    mapping_open, mapping_create, mapping_close, lock,          quota_exceeded,  grow_lock_quota,
    unlock,       security_init,  security_exit, sessions_load, sessions_unload, for_each_session,
    driver_open,  driver_map,     driver_unmap,  driver_close,
};

} // namespace

const sysshm_os::Calls& sysshm_os::platform_calls() {
    return kCalls;
}
