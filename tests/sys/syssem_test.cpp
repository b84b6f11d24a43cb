// In-process semaphores: recursion, try from the holder and from another thread, mutual
// exclusion under contention, bad handles, the diagnosis mode's log lines, and each platform
// call failing in turn.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "cmpsettings.h"
#include "cmutils.h"
#include "ipc_support.h"
#include "seam_fault.h"
#include "sys/syssem_os.h"
#include "syssem.h"

extern "C" RTS_RESULT SysSem__Entry(ComponentInitRecord* pInit);

namespace {

// Whether another thread could take the semaphore right now (it leaves it again at once).
bool free_for_others(RTS_HANDLE sem) {
    return ipctest::on_other_thread([sem] { return SysSemTry(sem) == RES_OK && SysSemLeave(sem) == RES_OK; });
}

// This thread holds the semaphore while a waiter thread ("sem-waiter") enters it, and lets go
// after a while. The waiter may reach its enter only after the release, so the hold grows until
// the waiter logged a wait (the log is read only while no other thread writes it). True when
// the waiter got the semaphore only after the release.
bool contend(RTS_HANDLE sem, unsigned* pWaiterId) {
    bool afterRelease = false;
    for (int holdMs = 20;
         holdMs == 20 || (holdMs <= 2000 && testlog::count_starting("ERROR: SysSemEnter") == 0);
         holdMs *= 3) {
        LogEarlyBufferClear();
        SysSemEnter(sem);
        std::atomic<bool> setOut{false}, released{false};
        std::thread waiter([&] {
            ipctest::name_thread("sem-waiter");
            *pWaiterId = ipctest::thread_id();
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

// The component taken through CH_INIT2 with the diagnosis setting given.
std::unique_ptr<ipctest::ComponentRun> start(int diagnosis) {
    SettgSetIntValue("SysSem", "SemEnterDiagnosis", diagnosis, 10);
    auto run = std::make_unique<ipctest::ComponentRun>(SysSem__Entry);
    run->hook(CH_INIT2);
    SettgRemoveKey("SysSem", "SemEnterDiagnosis");
    return run;
}

TEST(SysSem, KeepsIncrementsOfManyThreadsApart) {
    RTS_HANDLE sem = SysSemCreate(nullptr);
    long counter = 0; // guarded by the semaphore only
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 5000; ++i) {
                SysSemEnter(sem);
                SysSemEnter(sem);
                ++counter;
                SysSemLeave(sem);
                SysSemLeave(sem);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 20000);
    EXPECT_EQ(SysSemDelete(sem), RES_OK);
}

TEST(SysSem, NullAndInvalidHandlesAreRefused) {
    for (RTS_HANDLE h : {static_cast<RTS_HANDLE>(nullptr), RTS_INVALID_HANDLE})
        for (auto f : {SysSemDelete, SysSemEnter, SysSemLeave, SysSemTry}) EXPECT_EQ(f(h), RES_PARAMETER);
}

// Off, the setting announces nothing; on, it is announced, the holder's enters and tries (each a
// level, held until the last leave) log nothing, and a wait on a held semaphore logs both threads
// and the end of the wait.
TEST(SysSemDiagnosis, WaitOnAHeldSemaphoreLogsBothThreadsAndTheEndOfTheWait) {
    LogEarlyBufferClear();
    start(0).reset();
    EXPECT_TRUE(testlog::texts().empty());
    auto run = start(1);
    ASSERT_EQ(
        testlog::texts(),
        std::vector<std::string>{"SysSemWin32: SysSemEnter diagnosis enabled! Only use this for diagnosis!"});
    RTS_HANDLE sem = SysSemCreate(nullptr);
    LogEarlyBufferClear();
    for (auto step : {SysSemEnter, SysSemTry, SysSemLeave}) {
        ASSERT_EQ(step(sem), RES_OK);
        EXPECT_FALSE(free_for_others(sem));
    }
    ASSERT_EQ(SysSemLeave(sem), RES_OK);
    EXPECT_TRUE(free_for_others(sem));
    EXPECT_TRUE(testlog::texts().empty());
    const bool named = ipctest::name_thread("sem-holder");
    unsigned waiterId = 0;
    EXPECT_TRUE(contend(sem, &waiterId)) << "the waiter got the semaphore after the holder left";
    char handle[16];
    CMUtlsnprintf(handle, sizeof handle, "0x%x", static_cast<unsigned>(reinterpret_cast<RTS_UINTPTR>(sem)));
    const std::string waiter = "ERROR: SysSemEnter: [Sem:" + std::string(handle) + "] <" +
                               (named ? "sem-waiter" : "") + "> [tid:" + std::to_string(waiterId) + "]";
    EXPECT_EQ(testlog::texts(),
              (std::vector<std::string>{waiter + " is locked because of <" + (named ? "sem-holder" : "") +
                                            "> [tid:" + std::to_string(ipctest::thread_id()) + "]",
                                        waiter + " lock finished"}));
    for (const LogEntry& e : testlog::entries()) EXPECT_EQ(e.ClassId, LOG_DEBUG);
    EXPECT_EQ(SysSemDelete(sem), RES_OK);
}

// Each platform call failing in turn: the operation's result, one log line with the call and
// the OS error, and every lock set up is torn down again.
TEST(SysSemSeam, EachFailingCallIsLoggedAndReported) {
    using C = syssem_os::Calls;
    enum { kInit, kDestroy, kEnter, kLeave, kTry, kOpen, kClose, kDescribe };
    using Inject =
        seamfault::Injector<C, &C::lock_init, &C::lock_destroy, &C::lock_enter, &C::lock_leave, &C::lock_try,
                            &C::descriptions_open, &C::descriptions_close, &C::thread_description>;
    const auto create = [](RTS_HANDLE) { // the create's result, or the delete's after it
        RTS_RESULT r = RES_OK;
        RTS_HANDLE h = SysSemCreate(&r);
        return r != RES_OK ? r : SysSemDelete(h);
    };
    const auto leave = [](RTS_HANDLE h) { return SysSemEnter(h) == RES_OK ? SysSemLeave(h) : RES_OK; };
    const auto diagnose = [](RTS_HANDLE h) {
        auto run = start(1);
        unsigned waiterId = 0;
        return contend(h, &waiterId) ? RES_OK : RES_FAILED;
    };
    const auto hooks = [](RTS_HANDLE) { return start(1), RES_OK; };
    const std::tuple<int, std::function<RTS_RESULT(RTS_HANDLE)>, RTS_RESULT, size_t> rows[] = {
        {kInit, create, RES_FAILED, 1},       {kDestroy, create, RES_OK, 1},
        {kEnter, SysSemEnter, RES_FAILED, 1}, {kLeave, leave, RES_FAILED, 1},
        {kTry, SysSemTry, RES_FAILED, 1},     {kOpen, hooks, RES_OK, 1},
        {kClose, hooks, RES_OK, 1},           {kDescribe, diagnose, RES_OK, 2},
    };
    for (const auto& [call, act, expected, lines] : rows) {
        Inject injector(syssem_os::platform_calls(), syssem_os::set_calls);
        RTS_HANDLE sem = SysSemCreate(nullptr);
        LogEarlyBufferClear();
        injector.fail(call, {1234, seamfault::kEveryCall, call == kDestroy});
        EXPECT_EQ(act(sem), expected) << "call " << call;
        EXPECT_EQ(seamfault::injected_lines(CMPID_SysSem),
                  std::vector<std::string>(lines, seamfault::line(1234)))
            << "call " << call;
        injector.heal();
        if (call == kLeave) SysSemLeave(sem);
        EXPECT_TRUE(free_for_others(sem)) << "call " << call;
        SysSemDelete(sem);
        EXPECT_EQ(injector.succeeded(kInit), injector.calls(kDestroy)) << "call " << call;
    }
}

} // namespace
