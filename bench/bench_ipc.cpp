// What the framework adds to the two calls of every service-control request: opening, mapping and
// closing a named shared block, and entering and leaving an uncontended inter-process semaphore,
// each beside the bare platform calls so that the overhead reads as a ratio.
//
// Natively this is a Google Benchmark program. The Windows build has no Google Benchmark, so there
// the same loops are timed with std::chrono by a small main of its own (under Wine or on Windows).
#include "cm.h"
#include "cmplog.h"
#include "syssem.h"
#include "sysshm.h"

#include <cstdio>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include <chrono>
#else
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

constexpr RTS_SIZE kBlockSize = 524; // the size of the service-control block

/* The framework with the program's own list, started once for all benchmarks. */
struct Framework {
    Framework() { CMInit2(nullptr, StaticComponentList, 1); }
    ~Framework() { CMExit(); }
};

void start_framework() {
    static Framework framework;
}

std::string bench_name(const char* what) {
#ifdef _WIN32
    return std::string(what) + std::to_string(GetCurrentProcessId());
#else
    return std::string(what) + std::to_string(getpid());
#endif
}

/* A block created through the component and kept open, so that an open finds it in this
 * process. */
class ComponentBlock {
public:
    explicit ComponentBlock(const std::string& name) : name_(name) {
        RTS_SIZE size = kBlockSize;
        handle_ = SysSharedMemoryCreate(name_.c_str(), 0, &size, nullptr);
    }
    ~ComponentBlock() { SysSharedMemoryClose(handle_); }
    bool ok() const { return handle_ != RTS_INVALID_HANDLE; }

private:
    std::string name_;
    RTS_HANDLE handle_;
};

/* One open + get pointer + close through the component; false when it failed. */
bool component_open_cycle(const char* name) {
    RTS_SIZE size = kBlockSize;
    RTS_RESULT r = RES_FAILED;
    RTS_HANDLE h = SysSharedMemoryOpen(name, 0, &size, &r);
    if (h == RTS_INVALID_HANDLE) return false;
    volatile unsigned char* p = static_cast<unsigned char*>(SysSharedMemoryGetPointer(h, nullptr));
    const bool mapped = p != nullptr;
    if (mapped) p[0] = 1;
    SysSharedMemoryClose(h);
    return mapped;
}

bool component_sem_cycle(RTS_HANDLE sem) {
    const bool entered = SysSemProcessEnter(sem, 0xFFFFFFFFu) == RES_OK;
    SysSemProcessLeave(sem);
    return entered;
}

#ifdef _WIN32

/* ---- Windows: the bare calls and a std::chrono main ------------------------------------------- */

class PlatformBlock {
public:
    explicit PlatformBlock(const std::string& name)
        : mapping_(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBlockSize,
                                      name.c_str())) {}
    ~PlatformBlock() {
        if (mapping_ != nullptr) CloseHandle(mapping_);
    }
    bool ok() const { return mapping_ != nullptr; }

private:
    HANDLE mapping_;
};

bool platform_open_cycle(const char* name) {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
    if (mapping == nullptr) return false;
    volatile unsigned char* p =
        static_cast<unsigned char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    const bool mapped = p != nullptr;
    if (mapped) {
        p[0] = 1;
        UnmapViewOfFile(const_cast<unsigned char*>(p));
    }
    CloseHandle(mapping);
    return mapped;
}

template <typename Fn> double ns_per_call(Fn fn, int calls) {
    for (int i = 0; i < calls / 10; ++i) fn(); // warm up
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i)
        if (!fn()) return -1.0;
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::nano>(end - start).count() / calls;
}

void report(const char* what, double component, double platform) {
    std::printf("%-44s component %10.1f ns  platform %10.1f ns  ratio %5.2f\n", what, component, platform,
                platform > 0 ? component / platform : 0.0);
}

} // namespace

int main() {
    start_framework();
    const std::string held = bench_name("gc_bench_held_");
    const std::string foreign = bench_name("gc_bench_foreign_");
    ComponentBlock componentBlock(held);
    PlatformBlock platformBlock(foreign);
    if (!componentBlock.ok() || !platformBlock.ok()) return 1;
    constexpr int kCalls = 20000;
    for (int round = 0; round < 3; ++round) {
        const double bare = ns_per_call([&] { return platform_open_cycle(foreign.c_str()); }, kCalls);
        report("open+pointer+close, block held here",
               ns_per_call([&] { return component_open_cycle(held.c_str()); }, kCalls), bare);
        report("open+pointer+close, block made elsewhere",
               ns_per_call([&] { return component_open_cycle(foreign.c_str()); }, kCalls), bare);
        RTS_HANDLE sem = SysSemProcessCreate(bench_name("gc_bench_sem_").c_str(), nullptr);
        HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
        report("uncontended enter+leave", ns_per_call([&] { return component_sem_cycle(sem); }, kCalls * 10),
               ns_per_call(
                   [&] {
                       const bool entered = WaitForSingleObject(mutex, INFINITE) == WAIT_OBJECT_0;
                       ReleaseMutex(mutex);
                       return entered;
                   },
                   kCalls * 10));
        CloseHandle(mutex);
        SysSemProcessDelete(sem);
    }
    return 0;
}

#else

/* ---- POSIX: the bare calls and Google Benchmark ---------------------------------------------- */

/* A block made with the bare calls, so that the component's open finds it only in the system,
 * as it finds a block that another process created. */
class PlatformBlock {
public:
    explicit PlatformBlock(const std::string& name) : name_("/" + name) {
        fd_ = shm_open(name_.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
        if (fd_ >= 0 && ftruncate(fd_, kBlockSize) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~PlatformBlock() {
        if (fd_ < 0) return;
        close(fd_);
        shm_unlink(name_.c_str());
    }
    bool ok() const { return fd_ >= 0; }
    const char* object_name() const { return name_.c_str(); }

private:
    std::string name_;
    int fd_ = -1;
};

bool platform_open_cycle(const char* objectName) {
    const int fd = shm_open(objectName, O_RDWR, 0);
    if (fd < 0) return false;
    void* p = mmap(nullptr, kBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    const bool mapped = p != MAP_FAILED;
    if (mapped) {
        static_cast<volatile unsigned char*>(p)[0] = 1;
        munmap(p, kBlockSize);
    }
    close(fd);
    return mapped;
}

void BM_ComponentOpenBlockHeldHere(benchmark::State& state) {
    start_framework();
    const std::string name = bench_name("gc_bench_held_");
    ComponentBlock block(name);
    if (!block.ok()) return state.SkipWithError("block not created");
    for (auto _ : state)
        if (!component_open_cycle(name.c_str())) return state.SkipWithError("open failed");
}
BENCHMARK(BM_ComponentOpenBlockHeldHere);

void BM_ComponentOpenBlockMadeElsewhere(benchmark::State& state) {
    start_framework();
    const std::string name = bench_name("gc_bench_foreign_");
    PlatformBlock block(name);
    if (!block.ok()) return state.SkipWithError("block not created");
    for (auto _ : state)
        if (!component_open_cycle(name.c_str())) return state.SkipWithError("open failed");
}
BENCHMARK(BM_ComponentOpenBlockMadeElsewhere);

void BM_PlatformOpenBlock(benchmark::State& state) {
    PlatformBlock block(bench_name("gc_bench_bare_"));
    if (!block.ok()) return state.SkipWithError("block not created");
    for (auto _ : state)
        if (!platform_open_cycle(block.object_name())) return state.SkipWithError("open failed");
}
BENCHMARK(BM_PlatformOpenBlock);

void BM_ComponentSemEnterLeave(benchmark::State& state) {
    start_framework();
    RTS_HANDLE sem = SysSemProcessCreate(bench_name("gc_bench_sem_").c_str(), nullptr);
    if (sem == RTS_INVALID_HANDLE) return state.SkipWithError("mutex not created");
    for (auto _ : state) benchmark::DoNotOptimize(component_sem_cycle(sem));
    SysSemProcessDelete(sem);
}
BENCHMARK(BM_ComponentSemEnterLeave);

/* The bare call the process semaphore stands on: a process-shared, robust, recursive pthread
 * mutex. */
void BM_PlatformMutexLockUnlock(benchmark::State& state) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_t mutex;
    pthread_mutex_init(&mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    for (auto _ : state) {
        benchmark::DoNotOptimize(pthread_mutex_lock(&mutex));
        pthread_mutex_unlock(&mutex);
    }
    pthread_mutex_destroy(&mutex);
}
BENCHMARK(BM_PlatformMutexLockUnlock);

} // namespace

#endif
