/* In-process semaphores: recursion, try from the holder and from another thread, mutual
 * exclusion under contention, bad handles, the diagnosis mode's log lines, and each platform
 * call failing in turn. */
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cmpsettings.h"
#include "cmutils.h"
#include "log_reader.h"
#include "seam_fault.h"
#include "sys/syssem_os.h"
#include "syssem.h"
#include "ipc_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

extern "C" RTS_RESULT SysSem__Entry(ComponentInitRecord* pInit);

namespace {

unsigned thread_id() {
#ifdef _WIN32
    return GetCurrentThreadId();
#else
    return static_cast<unsigned>(syscall(SYS_gettid));
#endif
}

/* Names the calling thread where the platform can; false when it cannot. */
bool name_thread(const char* name) {
#ifdef _WIN32
    using PfSetThreadDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    auto set = reinterpret_cast<PfSetThreadDescription>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetThreadDescription")));
    wchar_t wide[32] = {};
    for (int i = 0; name[i] != '\0' && i < 31; ++i) wide[i] = static_cast<wchar_t>(name[i]);
    return set != nullptr && SUCCEEDED(set(GetCurrentThread(), wide));
#else
    return pthread_setname_np(pthread_self(), name) == 0;
#endif
}

std::vector<std::string> sem_log() {
    std::vector<std::string> out;
    for (const LogEntry& e : testlog::entries())
        if (e.CmpId == CMPID_SysSem) out.emplace_back(e.InfoText);
    return out;
}

/* Whether another thread could take the semaphore right now (it leaves it again at once). */
bool free_for_others(RTS_HANDLE sem) {
    bool taken = false;
    std::thread([&] {
        taken = SysSemTry(sem) == RES_OK;
        if (taken) SysSemLeave(sem);
    }).join();
    return taken;
}

/* This thread holds the semaphore while a waiter thread enters it, and lets go after a while.
 * The waiter may reach its enter only after the release, so the hold grows until the waiter
 * logged a wait (the log is read only while no other thread writes it). True when the waiter
 * got the semaphore only after the release. */
bool contend(RTS_HANDLE sem, const char* waiterName, unsigned* pWaiterId) {
    bool afterRelease = false;
    for (int holdMs = 20;
         holdMs == 20 || (holdMs <= 2000 && testlog::count_starting("ERROR: SysSemEnter") == 0);
         holdMs *= 3) {
        LogEarlyBufferClear();
        SysSemEnter(sem);
        std::atomic<bool> setOut{false};
        std::atomic<bool> released{false};
        std::thread waiter([&] {
            name_thread(waiterName);
            *pWaiterId = thread_id();
            setOut = true;
            SysSemEnter(sem);
            afterRelease = released.load();
            SysSemLeave(sem);
        });
        while (!setOut) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
        released = true;
        SysSemLeave(sem);
        waiter.join();
    }
    return afterRelease;
}

class SysSemBasic : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(sem_ = SysSemCreate(nullptr), RTS_INVALID_HANDLE); }
    void TearDown() override { EXPECT_EQ(SysSemDelete(sem_), RES_OK); }
    RTS_HANDLE sem_ = RTS_INVALID_HANDLE;
};

TEST_F(SysSemBasic, HolderMayEnterAgainAndOthersWaitForTheLastLeave) {
    ASSERT_EQ(SysSemEnter(sem_), RES_OK);
    EXPECT_EQ(SysSemTry(sem_), RES_OK) << "try by the holder is a recursion";
    EXPECT_FALSE(free_for_others(sem_));
    EXPECT_EQ(SysSemLeave(sem_), RES_OK);
    EXPECT_FALSE(free_for_others(sem_)) << "one level is still held";
    EXPECT_EQ(SysSemLeave(sem_), RES_OK);
    EXPECT_TRUE(free_for_others(sem_));
}

TEST_F(SysSemBasic, KeepsIncrementsOfManyThreadsApart) {
    long counter = 0; // guarded by the semaphore only
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 5000; ++i) {
                SysSemEnter(sem_);
                SysSemEnter(sem_);
                ++counter;
                SysSemLeave(sem_);
                SysSemLeave(sem_);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 20000);
}

TEST(SysSemArguments, NullAndInvalidHandlesAreRefused) {
    for (RTS_HANDLE h : {static_cast<RTS_HANDLE>(nullptr), RTS_INVALID_HANDLE})
        for (auto f : {SysSemDelete, SysSemEnter, SysSemLeave, SysSemTry}) EXPECT_EQ(f(h), RES_PARAMETER);
}

/* The component with the diagnosis setting given, taken through CH_INIT2. */
class SysSemDiagnosis : public ::testing::Test {
protected:
    void start(int setting) {
        SettgSetIntValue("SysSem", "SemEnterDiagnosis", setting, 10);
        LogEarlyBufferClear();
        run_ = std::make_unique<ipctest::ComponentRun>(SysSem__Entry);
        run_->hook(CH_INIT2);
        ASSERT_NE(sem_ = SysSemCreate(nullptr), RTS_INVALID_HANDLE);
    }
    void TearDown() override {
        SysSemDelete(sem_);
        sem_ = RTS_INVALID_HANDLE;
        run_.reset();
        SettgRemoveKey("SysSem", "SemEnterDiagnosis");
    }
    std::unique_ptr<ipctest::ComponentRun> run_;
    RTS_HANDLE sem_ = RTS_INVALID_HANDLE;
};

TEST_F(SysSemDiagnosis, WaitOnAHeldSemaphoreLogsBothThreadsAndTheEndOfTheWait) {
    start(1);
    ASSERT_EQ(sem_log(), std::vector<std::string>{
                             "SysSemWin32: SysSemEnter diagnosis enabled! Only use this for diagnosis!"});
    const bool named = name_thread("sem-holder");
    unsigned waiterId = 0;
    EXPECT_TRUE(contend(sem_, "sem-waiter", &waiterId))
        << "the waiter got the semaphore after the holder left";
    char handle[16];
    CMUtlsnprintf(handle, sizeof handle, "0x%x", static_cast<unsigned>(reinterpret_cast<RTS_UINTPTR>(sem_)));
    const std::string waiter = "ERROR: SysSemEnter: [Sem:" + std::string(handle) + "] <" +
                               (named ? "sem-waiter" : "") + "> [tid:" + std::to_string(waiterId) + "]";
    EXPECT_EQ(sem_log(),
              (std::vector<std::string>{waiter + " is locked because of <" + (named ? "sem-holder" : "") +
                                            "> [tid:" + std::to_string(thread_id()) + "]",
                                        waiter + " lock finished"}));
    for (const LogEntry& e : testlog::entries()) EXPECT_EQ(e.ClassId, LOG_DEBUG);
}

TEST_F(SysSemDiagnosis, UncontendedEnterLogsNothingAndTheSettingSwitchesItOff) {
    for (int setting : {1, 0}) {
        start(setting);
        if (setting == 1) LogEarlyBufferClear();
        ASSERT_EQ(SysSemEnter(sem_), RES_OK);
        ASSERT_EQ(SysSemTry(sem_), RES_OK);
        for (int i = 0; i < 2; ++i) ASSERT_EQ(SysSemLeave(sem_), RES_OK);
        EXPECT_TRUE(free_for_others(sem_));
        EXPECT_TRUE(sem_log().empty()) << "setting " << setting;
        TearDown();
    }
}

/* Every platform call failing in turn: the operation's result, one log line that carries the
 * call and the OS error, and every lock that was set up is torn down again. */
TEST(SysSemSeam, EachFailingCallIsLoggedAndReported) {
    using C = syssem_os::Calls;
    enum { kInit, kDestroy, kEnter, kLeave, kTry, kOpen, kClose, kDescribe };
    C fake = syssem_os::platform_calls();
    fake.lock_init = seamfault::forward<&C::lock_init, kInit>;
    fake.lock_destroy = seamfault::forward<&C::lock_destroy, kDestroy>;
    fake.lock_enter = seamfault::forward<&C::lock_enter, kEnter>;
    fake.lock_leave = seamfault::forward<&C::lock_leave, kLeave>;
    fake.lock_try = seamfault::forward<&C::lock_try, kTry>;
    fake.descriptions_open = seamfault::forward<&C::descriptions_open, kOpen>;
    fake.descriptions_close = seamfault::forward<&C::descriptions_close, kClose>;
    fake.thread_description = seamfault::forward<&C::thread_description, kDescribe>;
    const struct {
        int call;
        std::function<RTS_RESULT(RTS_HANDLE)> act;
        RTS_RESULT expected;
        int lines;
    } rows[] = {
        {kInit,
         [](RTS_HANDLE) {
             RTS_RESULT r = RES_OK;
             SysSemCreate(&r);
             return r;
         },
         RES_FAILED, 1},
        {kDestroy, [](RTS_HANDLE) { return SysSemDelete(SysSemCreate(nullptr)); }, RES_OK, 1},
        {kEnter, [](RTS_HANDLE h) { return SysSemEnter(h); }, RES_FAILED, 1},
        {kLeave,
         [](RTS_HANDLE h) {
             SysSemEnter(h);
             return SysSemLeave(h);
         },
         RES_FAILED, 1},
        {kTry, [](RTS_HANDLE h) { return SysSemTry(h); }, RES_FAILED, 1},
        {kOpen, [](RTS_HANDLE) { return ipctest::ComponentRun(SysSem__Entry).hook(CH_INIT2); }, RES_OK, 1},
        {kClose, [](RTS_HANDLE) { return ipctest::ComponentRun(SysSem__Entry).hook(CH_INIT2); }, RES_OK, 1},
        {kDescribe,
         [](RTS_HANDLE h) {
             ipctest::ComponentRun run(SysSem__Entry);
             run.hook(CH_INIT2);
             unsigned waiterId = 0;
             return contend(h, "sem-waiter", &waiterId) ? RES_OK : RES_FAILED;
         },
         RES_OK, 2},
    };
    SettgSetIntValue("SysSem", "SemEnterDiagnosis", 1, 10);
    for (const auto& row : rows) {
        seamfault::Injector<C> injector(syssem_os::platform_calls(), fake, syssem_os::set_calls);
        RTS_HANDLE sem = SysSemCreate(nullptr);
        LogEarlyBufferClear();
        injector.fail(row.call, 1234);
        EXPECT_EQ(row.act(sem), row.expected) << "call " << row.call;
        EXPECT_EQ(testlog::count_starting("injected failed: OS error 1234"), row.lines)
            << "call " << row.call;
        for (const LogEntry& e : testlog::entries()) {
            if (std::string(e.InfoText).rfind("injected", 0) == 0) {
                EXPECT_TRUE(e.CmpId == CMPID_SysSem && e.ClassId == LOG_DEBUG && e.ErrorId == 1234u);
            }
        }
        injector.fail(-1, 0);
        if (row.call == kLeave) SysSemLeave(sem);
        EXPECT_TRUE(free_for_others(sem)) << "call " << row.call;
        SysSemDelete(sem);
        EXPECT_EQ(injector.succeeded(kInit), injector.calls(kDestroy)) << "call " << row.call;
    }
    SettgRemoveKey("SysSem", "SemEnterDiagnosis");
}

} // namespace
