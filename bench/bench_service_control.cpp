/* The cost of one service-control request against a live scpeer, which the benchmark starts
 * beside itself on a block of its own ("ServiceControl_OmbrelinBench", so it never meets a
 * real client):
 * - QueryRequest: one query through SendServiceControlRequest, the program's own client.
 *   Counters: median and 99th percentile latency next to the protocol's first 10 ms sleep,
 *   and the client's CPU time (user + system) per request.
 * - BareRequestFloor: the CPU time of the same system calls made bare, the floor under it.
 * - PeerAnswer: how long the peer takes to answer once the handshake word turns 1, seen by a
 *   client that opens the block for each request as every client does, but spins on the
 *   handshake word instead of sleeping; back to back and with pauses between requests.
 * - PeerIdleCpu: the peer's CPU time while no request comes, in percent of one core. */
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cm.h"
#include "service_control.h"
#include "syssem.h"
#include "sysshm.h"

extern char** environ;

namespace {

constexpr char kCompany[] = "OmbrelinBench";
constexpr char kBlockName[] = "ServiceControl_OmbrelinBench";
constexpr char kService[] = "KELVARO Gateway V3";
constexpr int kRequests = 500;
constexpr double kFirstSleepMs = 10.0;

using Clock = std::chrono::steady_clock;

std::string own_dir() {
    char path[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string text(path, n > 0 ? static_cast<size_t>(n) : 0);
    return text.substr(0, text.rfind('/'));
}

/* The framework, the client's semaphore and a running scpeer for the whole program. */
class LivePeer {
public:
    LivePeer() {
        if (CMInit2(nullptr, StaticComponentList, 1) != RES_OK) return;
        mutex_ = SysSemProcessCreate("ServiceControlMutexBench", nullptr);
        service_control::bind(kCompany, mutex_);
        int out[2];
        if (pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        const std::string program = own_dir() + "/scpeer";
        std::string service = std::string(kService) + "=running";
        char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("--company"),
                        const_cast<char*>(kCompany), service.data(), nullptr};
        const bool spawned = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        char line[128] = {};
        ready_ =
            spawned && read(out[0], line, sizeof line - 1) > 0 && std::strstr(line, "serving") != nullptr;
        close(out[0]);
    }
    ~LivePeer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        service_control::bind(kCompany, RTS_INVALID_HANDLE);
        SysSemProcessDelete(mutex_);
        CMExit();
    }
    bool ready() const { return ready_; }
    pid_t pid() const { return pid_; }

private:
    RTS_HANDLE mutex_ = RTS_INVALID_HANDLE;
    pid_t pid_ = -1;
    bool ready_ = false;
};

LivePeer& live_peer() {
    static LivePeer peer;
    return peer;
}

double percentile(std::vector<double> samples, double p) {
    std::sort(samples.begin(), samples.end());
    const size_t index =
        std::min(samples.size() - 1, static_cast<size_t>(p * static_cast<double>(samples.size())));
    return samples[index];
}

double cpu_seconds_self() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

/* Nanoseconds the process has spent on a processor, from the scheduler's own account. */
double cpu_ns_of(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
    double ns = 0;
    in >> ns;
    return ns;
}

void QueryRequest(benchmark::State& state) {
    if (!live_peer().ready()) return state.SkipWithError("scpeer did not start");
    std::vector<double> ms;
    ms.reserve(kRequests);
    const double cpuBefore = cpu_seconds_self();
    for (auto _ : state) {
        RTS_UI32 serviceState = 0;
        const auto begin = Clock::now();
        const RTS_RESULT result =
            SendServiceControlRequest(service_control::kCommandQuery, kService, &serviceState);
        const std::chrono::duration<double> took = Clock::now() - begin;
        if (result != RES_OK || serviceState != service_control::kStateRunning)
            return state.SkipWithError("bad answer");
        state.SetIterationTime(took.count());
        ms.push_back(took.count() * 1000.0);
    }
    state.counters["median_ms"] = percentile(ms, 0.5);
    state.counters["p99_ms"] = percentile(ms, 0.99);
    state.counters["first_sleep_ms"] = kFirstSleepMs;
    state.counters["client_cpu_us_per_request"] = (cpu_seconds_self() - cpuBefore) * 1e6 / ms.size();
}
BENCHMARK(QueryRequest)->Iterations(kRequests)->UseManualTime()->Unit(benchmark::kMillisecond);

/* Writes a query for kService into the block and returns its handshake word, still to be set. */
std::atomic_ref<RTS_UI32> write_query(void* block) {
    using namespace service_control;
    block_word(block, kCommandOffset).store(kCommandQuery);
    std::memcpy(static_cast<char*>(block) + kNameOffset, kService, sizeof kService);
    return block_word(block, kHandshakeOffset);
}

/* The floor under QueryRequest's CPU time on this machine: the system calls one request needs
 * (open the object, size it, map, close the descriptor, lock, the 10 ms sleep, unmap) made
 * bare, against the same peer, without the framework. */
void BareRequestFloor(benchmark::State& state) {
    if (!live_peer().ready()) return state.SkipWithError("scpeer did not start");
    const std::string object = std::string("/") + kBlockName;
    const double cpuBefore = cpu_seconds_self();
    for (auto _ : state) {
        const int fd = shm_open(object.c_str(), O_RDWR, 0);
        struct stat st {};
        fstat(fd, &st);
        void* view =
            mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        close(fd);
        if (view == MAP_FAILED) return state.SkipWithError("block not found");
        mlock(view, static_cast<size_t>(st.st_size));
        std::atomic_ref<RTS_UI32> handshake = write_query(view);
        handshake.store(service_control::kHandshakePending);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        benchmark::DoNotOptimize(handshake.load());
        munmap(view, static_cast<size_t>(st.st_size));
    }
    state.counters["floor_cpu_us_per_request"] =
        (cpu_seconds_self() - cpuBefore) * 1e6 / static_cast<double>(state.iterations());
}
BENCHMARK(BareRequestFloor)->Iterations(kRequests)->Unit(benchmark::kMillisecond);

/* One request as a client makes it, with a spin instead of the 10 ms sleeps: open the block,
 * write command and name, set the handshake, wait for the answer, close. Returns the time from
 * the handshake turning 1 to the answer in microseconds, or a negative value without a block. */
double spin_request() {
    RTS_SIZE size = service_control::kBlockSize;
    RTS_RESULT result = RES_FAILED;
    RTS_HANDLE h = SysSharedMemoryOpen(kBlockName, 0, &size, &result);
    void* block = SysSharedMemoryGetPointer(h, nullptr);
    if (block == nullptr) return -1;
    std::atomic_ref<RTS_UI32> handshake = write_query(block);
    const auto begin = Clock::now();
    handshake.store(service_control::kHandshakePending);
    while (handshake.load() != service_control::kHandshakeAnswered) std::this_thread::yield();
    const std::chrono::duration<double, std::micro> took = Clock::now() - begin;
    SysSharedMemoryClose(h);
    return took.count();
}

void PeerAnswer(benchmark::State& state) {
    if (!live_peer().ready()) return state.SkipWithError("scpeer did not start");
    std::vector<double> us;
    us.reserve(kRequests);
    const auto pause = std::chrono::milliseconds(state.range(0));
    for (auto _ : state) {
        std::this_thread::sleep_for(pause);
        const double took = spin_request();
        if (took < 0) return state.SkipWithError("block not found");
        state.SetIterationTime(took / 1e6);
        us.push_back(took);
    }
    state.counters["median_us"] = percentile(us, 0.5);
    state.counters["p99_us"] = percentile(us, 0.99);
    state.counters["max_us"] = percentile(us, 1.0);
}
/* Back to back, and 100 ms apart as the tray asks (the peer has fallen asleep in between). */
BENCHMARK(PeerAnswer)->Arg(0)->Iterations(kRequests)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(PeerAnswer)->Arg(100)->Iterations(kRequests / 5)->UseManualTime()->Unit(benchmark::kMicrosecond);

void PeerIdleCpu(benchmark::State& state) {
    if (!live_peer().ready()) return state.SkipWithError("scpeer did not start");
    double percent = 0;
    for (auto _ : state) {
        const double before = cpu_ns_of(live_peer().pid());
        const auto begin = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(5));
        const std::chrono::duration<double> wall = Clock::now() - begin;
        percent = (cpu_ns_of(live_peer().pid()) - before) / (wall.count() * 1e9) * 100.0;
    }
    state.counters["peer_idle_cpu_percent"] = percent;
}
BENCHMARK(PeerIdleCpu)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
