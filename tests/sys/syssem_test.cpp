// In-process semaphores: mutual exclusion under contention with recursion, bad handles, the
// diagnosis mode's log lines, and each platform call failing in turn.
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
#include "log_reader.h"
#include "scratch_settings.h"

extern "C" RTS_RESULT SysSem__Entry(ComponentInitRecord* pInit);

namespace {

// Whether another thread could take the semaphore right now (it leaves it again at once).
bool free_for_others(RTS_HANDLE sem) {
    return ipctest::on_other_thread([sem] { return SysSemTry(sem) == RES_OK && SysSemLeave(sem) == RES_OK; });
}

// This thread holds the semaphore (entered, tried and left: one level) while a waiter thread
// ("sem-waiter") enters it, and lets go after a while. The waiter may reach its enter only after
// the release, so the hold grows until the waiter logged a wait (the log is read only while no
// other thread writes it). True when the waiter got the semaphore only after the release.
bool contend(RTS_HANDLE sem, unsigned* pWaiterId) {
    bool afterRelease = false;
    for (int holdMs = 20;
         holdMs == 20 || (holdMs <= 2000 && testlog::count_starting("ERROR: SysSemEnter") == 0);
         holdMs *= 3) {
        testlog::clear();
        const bool held =
            SysSemEnter(sem) == RES_OK && SysSemTry(sem) == RES_OK && SysSemLeave(sem) == RES_OK;
        std::atomic<bool> setOut{false}, released{false};
        std::thread waiter([&] {
            ipctest::name_thread("sem-waiter");
            *pWaiterId = ipctest::thread_id();
            setOut = true;
            SysSemEnter(sem);
            afterRelease = released.load() && held;
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

// The diagnosis lines of a wait: the waiter and the thread it waits for (this one), then its end.
std::vector<std::string> wait_lines(RTS_HANDLE sem, const char* waiter, unsigned waiterId,
                                    const char* holder) {
    char handle[16];
    CMUtlsnprintf(handle, sizeof handle, "0x%x", static_cast<unsigned>(reinterpret_cast<RTS_UINTPTR>(sem)));
    const std::string head = "ERROR: SysSemEnter: [Sem:" + std::string(handle) + "] <" + waiter +
                             "> [tid:" + std::to_string(waiterId) + "]";
    return {head + " is locked because of <" + holder + "> [tid:" + std::to_string(ipctest::thread_id()) +
                "]",
            head + " lock finished"};
}

// The component taken through CH_INIT2 with the diagnosis setting given.
std::unique_ptr<ipctest::ComponentRun> start(int diagnosis) {
    testfw::ScratchSettings settings;
    SettgSetIntValue("SysSem", "SemEnterDiagnosis", diagnosis, 10);
    testlog::clear(); // what writing the file logged
    auto run = std::make_unique<ipctest::ComponentRun>(SysSem__Entry);
    EXPECT_EQ(run->hook(CH_INIT2), RES_OK);
    return run;
}

TEST(SysSem, KeepsIncrementsOfManyThreadsApartAndRefusesBadHandles) {
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
    for (auto f : {SysSemDelete, SysSemEnter, SysSemLeave, SysSemTry})
        EXPECT_EQ(f(RTS_INVALID_HANDLE), RES_PARAMETER);
}

// Off, the setting announces nothing; on, it is announced, the holder's enters and tries log
// nothing, and a wait on a held semaphore logs both threads and the end of the wait.
TEST(SysSemDiagnosis, WaitOnAHeldSemaphoreLogsBothThreadsAndTheEndOfTheWait) {
    testlog::clear();
    start(0).reset();
    EXPECT_TRUE(testlog::texts().empty());
    auto run = start(1);
    ASSERT_EQ(
        testlog::texts(),
        std::vector<std::string>{"SysSemWin32: SysSemEnter diagnosis enabled! Only use this for diagnosis!"});
    RTS_HANDLE sem = SysSemCreate(nullptr);
    const bool named = ipctest::name_thread("sem-holder");
    unsigned waiterId = 0;
    EXPECT_TRUE(contend(sem, &waiterId)) << "the waiter got the semaphore after the holder left";
    EXPECT_EQ(testlog::texts(),
              wait_lines(sem, named ? "sem-waiter" : "", waiterId, named ? "sem-holder" : ""));
    for (const LogEntry& e : testlog::entries()) EXPECT_EQ(e.ClassId, LOG_DEBUG);
    EXPECT_TRUE(free_for_others(sem));
    EXPECT_EQ(SysSemDelete(sem), RES_OK);
}

// Each platform call failing in turn: the operation's result, one line per failed call with the
// OS error, and every lock set up torn down again.
TEST(SysSemSeam, EachFailingCallIsLoggedAndReported) {
    using C = syssem_os::Calls;
    enum { kInit, kDestroy, kEnter, kLeave, kTry, kOpen, kClose, kDescribe };
    using Inject =
        seamfault::Injector<C, &C::lock_init, &C::lock_destroy, &C::lock_enter, &C::lock_leave, &C::lock_try,
                            &C::descriptions_open, &C::descriptions_close, &C::thread_description>;
    using Act = std::function<RTS_RESULT(RTS_HANDLE)>;
    const Act create = [](RTS_HANDLE) { // the create's result, or the delete's after it
        RTS_RESULT r = RES_OK;
        RTS_HANDLE h = SysSemCreate(&r);
        return r != RES_OK ? r : SysSemDelete(h);
    };
    const Act leave = [](RTS_HANDLE h) { return SysSemEnter(h) == RES_OK ? SysSemLeave(h) : RES_OK; };
    const Act hooks = [](RTS_HANDLE) { return start(1), RES_OK; };
    const Act diagnose = [](RTS_HANDLE h) { // a thread without a description is named empty
        auto run = start(1);
        unsigned waiterId = 0;
        const bool waited = contend(h, &waiterId);
        std::vector<std::string> lines = wait_lines(h, "", waiterId, "");
        lines.insert(lines.begin(), {seamfault::line(1234), seamfault::line(1234)});
        return waited && testlog::texts() == lines ? RES_OK : RES_FAILED;
    };
    const seamfault::Fault fails{1234}, failsAfter{1234, seamfault::kEveryCall, true};
    // the call that fails, how, the act, its result, and the lines of the failures
    const std::tuple<int, seamfault::Fault, Act, RTS_RESULT, size_t> rows[] = {
        {kInit, fails, create, RES_FAILED, 1},       {kDestroy, failsAfter, create, RES_OK, 1},
        {kEnter, fails, SysSemEnter, RES_FAILED, 1}, {kLeave, fails, leave, RES_FAILED, 1},
        {kTry, fails, SysSemTry, RES_FAILED, 1},     {kOpen, fails, hooks, RES_OK, 1},
        {kClose, failsAfter, hooks, RES_OK, 1},      {kDescribe, fails, diagnose, RES_OK, 2},
    };
    for (const auto& [call, fault, act, result, lines] : rows) {
        Inject injector(syssem_os::platform_calls(), syssem_os::set_calls);
        RTS_HANDLE sem = SysSemCreate(nullptr);
        testlog::clear();
        injector.fail(call, fault);
        EXPECT_EQ(act(sem), result) << "call " << call;
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
