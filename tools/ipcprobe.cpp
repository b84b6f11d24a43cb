/* ipcprobe: the other process in the cross-process tests of the shared memory and the process
 * semaphores. It starts only those two components (through their hooks), does one thing
 * with a named block or mutex and reports through its exit code and standard output:
 *
 *   ipcprobe create-mutex NAME               exit code: the result of creating the mutex
 *   ipcprobe hold-mutex NAME [MS]            enters the mutex, prints "held", keeps it MS ms,
 *                                            or until its standard input ends
 *   ipcprobe create-block NAME SIZE          exit code: the result of creating the block
 *   ipcprobe check-block NAME SIZE OLD NEW   opens the block; exit 3 unless its first half is
 *                                            all OLD; then fills the second half with NEW
 *   ipcprobe hold-block NAME SIZE FILL [MS]  creates the block filled with FILL, prints
 *                                            "ready", keeps it MS ms, or until its standard
 *                                            input ends
 *   ipcprobe open-block NAME SIZE            opens the block as an unprivileged process,
 *                                            prints the result and the component's log lines
 *   ipcprobe rewrite-ini FILE                opens the configuration file, prints "ready" and
 *                                            writes [S] V=... back for ever, a value of another
 *                                            length each time, until it is killed
 *   ipcprobe rewrite-setting FILE            the same through the settings, FILE being the
 *                                            master configuration file
 * Exit code 100 + result when a block or mutex cannot be had, 64 for bad arguments. */
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "cm.h"
#include "cmpinifile.h"
#include "cmpsettings.h"
#include "cmplog.h"
#include "syssem.h"
#include "sysshm.h"

#ifndef _WIN32
#include <grp.h>
#include <unistd.h>
#endif

extern "C" RTS_RESULT SysShm__Entry(ComponentInitRecord* pInit);
extern "C" RTS_RESULT SysSemProcess__Entry(ComponentInitRecord* pInit);
extern "C" RTS_RESULT CmpLog__Entry(ComponentInitRecord* pInit);

namespace {

constexpr int kUsage = 64;
constexpr RTS_UI32 kEveryClass = 0xFFFFFFFF;

/* The two components this probe needs, and the logger that keeps what they report, from
 * start-up to shut-down. */
class Components {
public:
    Components() {
        CmpLog__Entry(&log_);
        SysShm__Entry(&shm_);
        SysSemProcess__Entry(&sem_);
        for (RTS_UI32 hook : {CH_INIT_SYSTEM, CH_INIT_SYSTEM2, CH_INIT}) call(hook);
        LogSetFilter(nullptr, kEveryClass); // the components report their OS errors at LOG_DEBUG
    }
    ~Components() {
        for (RTS_UI32 hook : {CH_EXIT, CH_EXIT_SYSTEM}) call(hook);
    }

private:
    void call(RTS_UI32 hook) {
        for (ComponentInitRecord* c : {&log_, &shm_, &sem_}) c->hookFunction(hook, 0, 0);
    }
    ComponentInitRecord log_{};
    ComponentInitRecord shm_{};
    ComponentInitRecord sem_{};
};

void say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

unsigned long number(const char* text) {
    return std::strtoul(text, nullptr, 0);
}

/* Keeps what the probe holds for the time given, or, without one, until the test closes the
 * probe's standard input. */
void hold(const char* ms) {
    if (ms != nullptr) {
        std::this_thread::sleep_for(std::chrono::milliseconds(number(ms)));
        return;
    }
    while (std::getchar() != EOF) {
    }
}

int create_mutex(const char* name) {
    RTS_RESULT result = RES_OK;
    RTS_HANDLE h = SysSemProcessCreate(name, &result);
    SysSemProcessDelete(h);
    return static_cast<int>(result);
}

int hold_mutex(const char* name, const char* ms) {
    RTS_RESULT result = RES_OK;
    RTS_HANDLE h = SysSemProcessCreate(name, &result);
    if (h == RTS_INVALID_HANDLE) return 100 + static_cast<int>(result);
    if (SysSemProcessEnter(h, 0xFFFFFFFFu) != RES_OK) return 2;
    say("held");
    hold(ms);
    SysSemProcessLeave(h);
    SysSemProcessDelete(h);
    return 0;
}

int create_block(const char* name, RTS_SIZE size) {
    RTS_RESULT result = RES_OK;
    RTS_HANDLE h = SysSharedMemoryCreate(name, 0, &size, &result);
    SysSharedMemoryClose(h);
    return static_cast<int>(result);
}

int check_block(const char* name, RTS_SIZE size, unsigned char old, unsigned char fresh) {
    RTS_RESULT result = RES_OK;
    RTS_HANDLE h = SysSharedMemoryOpen(name, 0, &size, &result);
    if (h == RTS_INVALID_HANDLE) return 100 + static_cast<int>(result);
    std::vector<unsigned char> data(size);
    SysSharedMemoryRead(h, 0, data.data(), size, nullptr);
    for (RTS_SIZE i = 0; i < size / 2; ++i) {
        if (data[i] != old) return 3;
    }
    std::vector<unsigned char> second(size - size / 2, fresh);
    SysSharedMemoryWrite(h, size / 2, second.data(), second.size(), nullptr);
    SysSharedMemoryClose(h);
    return 0;
}

int hold_block(const char* name, RTS_SIZE size, unsigned char fill, const char* ms) {
    RTS_RESULT result = RES_OK;
    RTS_HANDLE h = SysSharedMemoryCreate(name, 0, &size, &result);
    if (h == RTS_INVALID_HANDLE) return 100 + static_cast<int>(result);
    std::vector<unsigned char> data(size, fill);
    SysSharedMemoryWrite(h, 0, data.data(), size, nullptr);
    say("ready");
    hold(ms);
    SysSharedMemoryClose(h);
    return 0;
}

/* The superuser passes every access check, so a probe started by the superuser becomes the
 * unprivileged user ("nobody") before it tries; on Windows the access list decides alone. */
bool drop_privileges() {
#ifndef _WIN32
    constexpr gid_t kNobody = 65534;
    if (geteuid() == 0) return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0;
#endif
    return true;
}

/* What the standard logger holds, oldest first. */
std::vector<LogEntry> log_entries() {
    std::vector<LogEntry> out;
    LogEntry entry{};
    RTS_RESULT r = RES_OK;
    for (int i = LogGetFirstEntry(nullptr, &entry, &r); r == RES_OK;
         i = LogGetNextEntry(nullptr, i, &entry, &r))
        out.push_back(entry);
    return out;
}

int open_block(const char* name, RTS_SIZE size) {
    if (!drop_privileges()) return 2;
    const RTS_SIZE before = log_entries().size();
    RTS_RESULT result = RES_OK;
    SysSharedMemoryClose(SysSharedMemoryOpen(name, 0, &size, &result));
    std::printf("%u\n", static_cast<unsigned>(result));
    const std::vector<LogEntry> after = log_entries();
    for (RTS_SIZE i = before; i < after.size(); ++i)
        if (after[i].CmpId == CMPID_SysShm) say(after[i].InfoText);
    return 0;
}

/* Runs on the whole framework, which the database and the files stand on. */
/* The value of round i: one letter, of another length each time. */
std::string round_value(unsigned i) {
    return std::string(1 + i % 40, static_cast<char>('a' + i % 26));
}

int rewrite_ini(const char* file) {
    if (CMInit2(nullptr, StaticComponentList, 1) != RES_OK) return 2;
    RTS_RESULT result = RES_OK;
    RTS_HANDLE db = IniOpen(file, 0, &result);
    if (db == nullptr) return 100 + static_cast<int>(result);
    say("ready");
    for (unsigned i = 0;; ++i) IniWriteValue(db, "S", "V", round_value(i).c_str(), 0);
}

int rewrite_setting(const char* file) {
    if (CMInit2(nullptr, StaticComponentList, 1) != RES_OK) return 2;
    const RTS_RESULT result = SettgSetDatabaseName(file);
    if (result != RES_OK) return 100 + static_cast<int>(result);
    say("ready");
    for (unsigned i = 0;; ++i) SettgSetStringValue("S", "V", round_value(i).c_str(), 0);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return kUsage;
    const std::string command = argv[1];
    const char* name = argv[2];
    if (command == "rewrite-ini") return rewrite_ini(name);
    if (command == "rewrite-setting") return rewrite_setting(name);
    Components components;
    if (command == "create-mutex") return create_mutex(name);
    if (command == "hold-mutex" && argc <= 4) return hold_mutex(name, argc == 4 ? argv[3] : nullptr);
    if (command == "create-block" && argc == 4) return create_block(name, number(argv[3]));
    if (command == "open-block" && argc == 4) return open_block(name, number(argv[3]));
    if (command == "check-block" && argc == 6) {
        return check_block(name, number(argv[3]), static_cast<unsigned char>(number(argv[4])),
                           static_cast<unsigned char>(number(argv[5])));
    }
    if (command == "hold-block" && (argc == 5 || argc == 6)) {
        return hold_block(name, number(argv[3]), static_cast<unsigned char>(number(argv[4])),
                          argc == 6 ? argv[5] : nullptr);
    }
    return kUsage;
}
