/* SysMem on POSIX: anonymous mappings for pages, mlock for locking, and a readability probe
 * through the kernel: process_vm_readv on this process, or write() into a pipe where that call
 * is not allowed. Both report an unreadable address as EFAULT instead of raising a signal. The
 * mapping sizes are remembered here because munmap and munlock need them. */
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>

#include "memory/sysmem_os.h"

namespace {

using sys_os::failed;

std::mutex g_regionLock;
std::map<void*, RTS_SIZE> g_regions;

RTS_SIZE page_size() {
    static const RTS_SIZE size = static_cast<RTS_SIZE>(sysconf(_SC_PAGESIZE));
    return size;
}

RTS_SIZE region_size(void* address) {
    std::lock_guard<std::mutex> guard(g_regionLock);
    auto it = g_regions.find(address);
    return it != g_regions.end() ? it->second : 0;
}

/* One probe address per page of [next, last]: the first byte, then the start of every further
 * page. */
struct PageWalk {
    RTS_UINTPTR next;
    RTS_UINTPTR last;
    bool finished = false;
    bool done() const { return finished; }
    RTS_UINTPTR take() {
        const RTS_UINTPTR at = next;
        const RTS_UINTPTR pageEnd = at | (page_size() - 1);
        if (pageEnd >= last)
            finished = true;
        else
            next = pageEnd + 1;
        return at;
    }
};

enum class Probe { Readable, Unreadable, Unavailable };

/* Reads one byte of each page in batches; Unavailable when the call itself is not allowed. */
Probe probe_vm_readv(RTS_UINTPTR first, RTS_UINTPTR last) {
    constexpr int kBatch = 256;
    unsigned char sink[kBatch];
    iovec local{sink, sizeof sink};
    iovec remote[kBatch];
    PageWalk walk{first, last, false};
    while (!walk.done()) {
        int n = 0;
        while (n < kBatch && !walk.done()) remote[n++] = iovec{reinterpret_cast<void*>(walk.take()), 1};
        local.iov_len = static_cast<size_t>(n);
        const ssize_t read = process_vm_readv(getpid(), &local, 1, remote, static_cast<unsigned long>(n), 0);
        if (read < 0 && (errno == ENOSYS || errno == EPERM)) return Probe::Unavailable;
        if (read != n) return Probe::Unreadable;
    }
    return Probe::Readable;
}

Probe probe_pipe(RTS_UINTPTR first, RTS_UINTPTR last) {
    int fds[2];
    if (pipe(fds) != 0) return Probe::Unavailable;
    Probe result = Probe::Readable;
    PageWalk walk{first, last, false};
    while (!walk.done() && result == Probe::Readable) {
        unsigned char byte;
        if (write(fds[1], reinterpret_cast<const void*>(walk.take()), 1) != 1 || read(fds[0], &byte, 1) != 1)
            result = Probe::Unreadable;
    }
    close(fds[0]);
    close(fds[1]);
    return result;
}

rts::OsError pages_alloc(RTS_SIZE size, bool executable, void** pPages, const char** pCall) {
    const RTS_SIZE length = (size + page_size() - 1) & ~(page_size() - 1);
    if (length < size) return failed("mmap", ENOMEM, pCall);
    const int protection = PROT_READ | PROT_WRITE | (executable ? PROT_EXEC : 0);
    void* pages = mmap(nullptr, length, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) return failed("mmap", errno, pCall);
    try {
        std::lock_guard<std::mutex> guard(g_regionLock);
        g_regions[pages] = length;
    } catch (...) {
        munmap(pages, length);
        return failed("mmap", ENOMEM, pCall);
    }
    *pPages = pages;
    return rts::kOsOk;
}

rts::OsError pages_free(void* address, const char** pCall) {
    RTS_SIZE length = 0;
    {
        std::lock_guard<std::mutex> guard(g_regionLock);
        auto it = g_regions.find(address);
        if (it == g_regions.end()) return failed("munmap", EINVAL, pCall);
        length = it->second;
        g_regions.erase(it);
    }
    return munmap(address, length) == 0 ? rts::kOsOk : failed("munmap", errno, pCall);
}

rts::OsError pages_lock(void* address, RTS_SIZE size, const char** pCall) {
    return mlock(address, size) == 0 ? rts::kOsOk : failed("mlock", errno, pCall);
}

rts::OsError pages_unlock(void* address, const char** pCall) {
    const RTS_SIZE length = region_size(address);
    if (length == 0) return failed("munlock", EINVAL, pCall);
    return munlock(address, length) == 0 ? rts::kOsOk : failed("munlock", errno, pCall);
}

/* Only a pipe that cannot be made is an error; an unreadable byte is the answer. */
rts::OsError readable(const void* address, RTS_SIZE size, bool* pReadable, const char** pCall) {
    const auto first = reinterpret_cast<RTS_UINTPTR>(address);
    const RTS_UINTPTR last = first + (size - 1);
    *pReadable = false;
    if (last < first) return rts::kOsOk;
    Probe probe = probe_vm_readv(first, last);
    if (probe == Probe::Unavailable) probe = probe_pipe(first, last);
    if (probe == Probe::Unavailable) return failed("pipe", errno, pCall);
    *pReadable = probe == Probe::Readable;
    return rts::kOsOk;
}

constexpr sysmem_os::Calls kCalls = {pages_alloc, pages_free, pages_lock, pages_unlock, readable};

} // namespace

namespace sysmem_os {

const Calls& platform_calls() {
    return kCalls;
}

} // namespace sysmem_os
