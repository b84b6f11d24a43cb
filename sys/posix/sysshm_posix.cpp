/* Shared memory on POSIX. A named block is the shared-memory object "/" + its local name (the
 * part after the first backslash, else the whole name), so "ServiceControl_Ombrelin" and
 * "Global\\ServiceControl_Ombrelin" are one object. Objects are created with mode 0666
 * whatever the umask (every user may read and write them, as every authenticated user may on
 * Windows); only the creator sizes an object, exactly as asked. A view covers the object in
 * whole pages, as a Windows view covers its mapping.
 * A local name with a '/' names no object.
 *
 * A named mapping disappears on Windows with its last handle. Here the process that created
 * an object removes its name when it unmaps it, so a block whose maker has gone is no longer
 * found by name (the processes that still have it mapped keep their view).
 *
 * Locking uses mlock (unmapping unlocks); a refusal because of RLIMIT_MEMLOCK is retried once
 * with the soft limit raised. Physical memory is reached through /dev/mem; without it physical blocks fail.
 * There are no desktop sessions and no access lists beyond the mode. */
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

long page_size() {
    return sysconf(_SC_PAGESIZE);
}

/* Maps the whole object behind fd, in whole pages as a Windows view is; fills the view and
 * takes ownership of the mapping token. */
bool map_object(int fd, Mapping* mapping, sysshm_os::View* view) {
    struct stat st {};
    void* address = MAP_FAILED;
    const auto page = static_cast<RTS_UI64>(page_size());
    RTS_UI64 size = 0;
    if (fstat(fd, &st) == 0 && st.st_size > 0) {
        size = (static_cast<RTS_UI64>(st.st_size) + page - 1) / page * page;
        address = mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    close(fd);
    if (address == MAP_FAILED) return false;
    *view = sysshm_os::View{mapping, address, size};
    return true;
}

} // namespace

namespace sysshm_os {

bool mapping_open(const char* name, View* pView) {
    auto* mapping = new (std::nothrow) Mapping{};
    if (mapping == nullptr) return false;
    int fd = object_name(name, mapping->name) ? shm_open(mapping->name, O_RDWR, 0) : -1;
    if (fd >= 0 && map_object(fd, mapping, pView)) return true;
    delete mapping;
    return false;
}

bool mapping_create(const char* localName, RTS_UI64 size, View* pView) {
    if (size == 0 || size > static_cast<RTS_UI64>(std::numeric_limits<off_t>::max())) return false;
    auto* mapping = new (std::nothrow) Mapping{};
    if (mapping == nullptr) return false;
    int fd = -1;
    if (object_name(localName, mapping->name)) {
        fd = shm_open(mapping->name, O_RDWR | O_CREAT | O_EXCL, 0666);
        mapping->created = fd >= 0;
        if (fd < 0 && errno == EEXIST) fd = shm_open(mapping->name, O_RDWR, 0);
    }
    bool sized = fd >= 0 && (!mapping->created ||
                             (fchmod(fd, 0666) == 0 && ftruncate(fd, static_cast<off_t>(size)) == 0));
    if (sized && map_object(fd, mapping, pView)) return true;
    if (fd >= 0 && !sized) close(fd);
    if (mapping->created) shm_unlink(mapping->name);
    delete mapping;
    return false;
}

void mapping_close(View* pView) {
    auto* mapping = static_cast<Mapping*>(pView->mapping);
    if (pView->address != nullptr) munmap(pView->address, static_cast<size_t>(pView->size));
    if (mapping != nullptr && mapping->created) shm_unlink(mapping->name);
    delete mapping;
    *pView = View{};
}

bool lock(void* address, RTS_UI64 size, bool* pQuota) {
    if (mlock(address, static_cast<size_t>(size)) == 0) return true;
    *pQuota = errno == EPERM || errno == EAGAIN || errno == ENOMEM;
    return false;
}

bool grow_lock_quota(RTS_UI64 size) {
    struct rlimit limit {};
    if (getrlimit(RLIMIT_MEMLOCK, &limit) != 0) return false;
    const rlim_t rounded = static_cast<rlim_t>(size & ~RTS_UI64{4095});
    if (limit.rlim_cur == RLIM_INFINITY) return false;
    rlim_t wanted = limit.rlim_cur + rounded + 8192;
    if (limit.rlim_max != RLIM_INFINITY && wanted > limit.rlim_max) wanted = limit.rlim_max;
    if (wanted <= limit.rlim_cur) return false;
    limit.rlim_cur = wanted;
    return setrlimit(RLIMIT_MEMLOCK, &limit) == 0;
}

/* A view is unlocked only right before it is unmapped, and munmap releases the lock with the
 * pages: a separate munlock would cost a system call on every close and change nothing. */
void unlock(void*, RTS_UI64) {}

bool security_init() {
    return true;
}
void security_exit() {}

bool sessions_load() {
    return false;
}
void sessions_unload() {}
bool for_each_session(bool (*)(RTS_UI32, void*), void*) {
    return false;
}

RTS_RESULT map_physical(RTS_UI64 physicalAddress, RTS_UI64 size, void** pAddress) {
    int fd = open("/dev/mem", O_RDWR | O_SYNC);
    if (fd < 0) return RES_FAILED;
    const RTS_UI64 offset = physicalAddress % static_cast<RTS_UI64>(page_size());
    void* base = size == 0 ? MAP_FAILED
                           : mmap(nullptr, static_cast<size_t>(size + offset), PROT_READ | PROT_WRITE,
                                  MAP_SHARED, fd, static_cast<off_t>(physicalAddress - offset));
    close(fd);
    if (base == MAP_FAILED) return RES_NO_OBJECT;
    *pAddress = static_cast<unsigned char*>(base) + offset;
    return RES_OK;
}

bool unmap_physical(void* address, RTS_UI64 size) {
    const auto where = reinterpret_cast<RTS_UINTPTR>(address);
    const RTS_UINTPTR offset = where % static_cast<RTS_UINTPTR>(page_size());
    return munmap(reinterpret_cast<void*>(where - offset), static_cast<size_t>(size + offset)) == 0;
}

} // namespace sysshm_os
