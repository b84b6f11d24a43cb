// Semaphores between processes: bad arguments, recursion and ownership, a thread or a process
// that ends holding the mutex, time-outs against another process, mutual exclusion between
// threads, the clock of a timed wait, and each platform call failing in turn.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "ipc_support.h"
#include "seam_fault.h"
#include "sys/syssemprocess_os.h"
#include "syssem.h"

#ifdef _WIN32
#include <windows.h>
constexpr rts::OsError kNotOwner = ERROR_NOT_OWNER;
#else
#include "sys/posix/syssemprocess_posix.h"
#include "log_reader.h"
constexpr rts::OsError kNotOwner = EPERM;
#endif

extern "C" RTS_RESULT SysSemProcess__Entry(ComponentInitRecord* pInit);

namespace {

class SysSemProcessMutex : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(SysSemProcessDelete(sem_), RES_OK); }

    // What another thread gets from an enter with the time-out (it leaves again when it entered)
    // and from a leave after that.
    std::pair<RTS_RESULT, RTS_RESULT> elsewhere(RTS_UI32 timeoutMs) {
        return ipctest::on_other_thread([&] {
            const RTS_RESULT entered = SysSemProcessEnter(sem_, timeoutMs);
            return std::make_pair(entered, SysSemProcessLeave(sem_));
        });
    }

    ipctest::ComponentRun run_{SysSemProcess__Entry};
    std::string name_ = ipctest::unique_name("gc_mutex_");
    RTS_HANDLE sem_ = SysSemProcessCreate(name_.c_str(), nullptr);
};

TEST_F(SysSemProcessMutex, BadArgumentsAreRefused) {
    ASSERT_NE(sem_, RTS_INVALID_HANDLE);
    RTS_RESULT r = RES_OK;
    RTS_HANDLE none = SysSemProcessCreate(nullptr, &r);
    EXPECT_EQ(std::make_pair(none, r), std::make_pair(RTS_INVALID_HANDLE, RES_PARAMETER));
    RTS_HANDLE gone = SysSemProcessCreate(("h" + name_.substr(1)).c_str(), &r); // a name of its own
    EXPECT_EQ(std::make_pair(r, SysSemProcessDelete(gone)), std::make_pair(RES_OK, RES_OK));
    for (RTS_HANDLE h : {RTS_INVALID_HANDLE, gone}) {
        EXPECT_EQ(SysSemProcessEnter(h, 0xFFFFFFFFu), RES_PARAMETER);
        EXPECT_EQ(SysSemProcessLeave(h), RES_PARAMETER);
        EXPECT_EQ(SysSemProcessDelete(h), RES_PARAMETER);
    }
}

// A thread that ends holding the mutex leaves it to the next, which then holds it recursively:
// other threads time out and may not leave, and each level needs its own leave.
TEST_F(SysSemProcessMutex, ThreadEndingHoldingLeavesItToTheNextThatMayEnterAgain) {
    std::thread([&] {
        for (int level = 0; level < 2; ++level) ASSERT_EQ(SysSemProcessEnter(sem_, 0), RES_OK);
    }).join();
    for (RTS_UI32 timeout : {0u, 10u, 0xFFFFFFFFu}) ASSERT_EQ(SysSemProcessEnter(sem_, timeout), RES_OK);
    for (int level = 0; level < 3; ++level) {
        EXPECT_EQ(elsewhere(0), std::make_pair(RES_TIMEOUT, RES_FAILED)) << "held; only the owner may leave";
        EXPECT_EQ(SysSemProcessLeave(sem_), RES_OK);
    }
    EXPECT_EQ(SysSemProcessLeave(sem_), RES_FAILED) << "the ended thread's levels are not ours";
    EXPECT_EQ(elsewhere(0), std::make_pair(RES_OK, RES_OK)) << "every level released";
}

// The probe holds the mutex: a create there answers RES_DUPLICATE, an enter here times out, an
// unlimited wait ends when the probe leaves, and a probe killed holding it leaves it entered.
TEST_F(SysSemProcessMutex, AnotherProcessHoldsItUntilItLeavesOrDies) {
    EXPECT_EQ(ipctest::run_probe({"create-mutex", name_}), static_cast<int>(RES_DUPLICATE));
    for (bool dies : {true, false, true}) {
        ipctest::Probe holder({"hold-mutex", name_});
        ASSERT_EQ(holder.read_line(), "held");
        for (RTS_UI32 timeout : {0u, 20u}) EXPECT_EQ(SysSemProcessEnter(sem_, timeout), RES_TIMEOUT);
        dies ? holder.kill() : holder.finish();
        EXPECT_EQ(SysSemProcessEnter(sem_, dies ? 10000 : 0xFFFFFFFFu), RES_OK) << "dies: " << dies;
        EXPECT_EQ(SysSemProcessLeave(sem_), RES_OK);
        EXPECT_EQ(holder.wait() == 0, !dies);
    }
}

// Threads with handles of their own, waiting without limit and with a time-out in turn.
TEST_F(SysSemProcessMutex, ExcludesThreadsUsingSeparateHandles) {
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            RTS_HANDLE own = SysSemProcessCreate(name_.c_str(), nullptr);
            for (int i = 0; i < 400; ++i) {
                if (SysSemProcessEnter(own, i % 2 == 0 ? 0xFFFFFFFFu : 60000u) != RES_OK) continue;
                const long seen = counter;
                std::this_thread::yield();
                counter = seen + 1;
                SysSemProcessLeave(own);
            }
            SysSemProcessDelete(own);
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(counter, 4 * 400);
}

#ifndef _WIN32
// A timed enter ends at a moment of the monotonic clock, so that setting the calendar clock
// neither stretches nor cuts it: its deadline lies the time-out (and at most a minute more)
// ahead of the monotonic clock's now.
TEST(SysSemProcessDeadline, IsCountedOnTheMonotonicClock) {
    for (RTS_UI32 timeoutMs : {0u, 999u, 1500u, 86400000u}) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const timespec deadline = syssemprocess_posix::deadline_after(timeoutMs);
        const long double ahead = (deadline.tv_sec - now.tv_sec) + (deadline.tv_nsec - now.tv_nsec) / 1e9L;
        EXPECT_GE(ahead, timeoutMs / 1000.0L) << timeoutMs;
        EXPECT_LT(ahead, timeoutMs / 1000.0L + 60) << timeoutMs;
        EXPECT_LT(deadline.tv_nsec, 1000000000L) << timeoutMs;
    }
}
#endif

// Each platform call failing in turn: the documented result, one log line with the call, the
// mutex's name where the call had one and the OS error, and no handle left open.
TEST(SysSemProcessSeam, EachFailingCallIsLoggedAndReported) {
    using C = syssemprocess_os::Calls;
    enum { kSecure, kUnsecure, kCreate, kClose, kEnter, kLeave };
    using Inject = seamfault::Injector<C, &C::security_init, &C::security_exit, &C::mutex_create,
                                       &C::mutex_close, &C::mutex_enter, &C::mutex_leave>;
    const std::string name = ipctest::unique_name("gc_mutex_seam_");
    const auto hooks = [](RTS_HANDLE) { return ipctest::ComponentRun(SysSemProcess__Entry).hook(CH_INIT); };
    const auto create = [&](RTS_HANDLE) { // the create's result, or the delete's after it
        RTS_RESULT r = RES_OK;
        RTS_HANDLE h = SysSemProcessCreate(name.c_str(), &r);
        return r != RES_OK ? r : SysSemProcessDelete(h);
    };
    const auto enter = [](RTS_HANDLE h) { return SysSemProcessEnter(h, 0); };
    const auto leave = [](RTS_HANDLE h) {
        return SysSemProcessEnter(h, 0) == RES_OK ? SysSemProcessLeave(h) : RES_OK;
    };
    // call, OS error, act, its result, whether the line names the mutex
    const std::tuple<int, rts::OsError, std::function<RTS_RESULT(RTS_HANDLE)>, RTS_RESULT, bool> rows[] = {
        {kSecure, 1234, hooks, RES_OK, false},
        {kUnsecure, 1234, hooks, RES_OK, false},
        {kCreate, 1234, create, RES_FAILED, true},
        {kClose, 1234, SysSemProcessDelete, RES_PARAMETER, false},
        {kEnter, 1234, enter, RES_PARAMETER, false},
        {kLeave, 1234, leave, RES_PARAMETER, false},
        {kLeave, kNotOwner, leave, RES_FAILED, false},
    };
    for (const auto& [call, error, act, expected, named] : rows) {
        Inject injector(syssemprocess_os::platform_calls(), syssemprocess_os::set_calls);
        RTS_HANDLE sem = SysSemProcessCreate(name.c_str(), nullptr);
        testlog::clear();
        injector.fail(call, {error});
        EXPECT_EQ(act(sem), expected) << "call " << call;
        EXPECT_EQ(seamfault::injected_lines(CMPID_SysSemProcess),
                  std::vector<std::string>{seamfault::line(error, named ? "Global\\" + name : "")});
        injector.heal();
        if (call == kLeave) SysSemProcessLeave(sem);
        EXPECT_EQ(SysSemProcessDelete(sem), RES_OK) << "call " << call;
        EXPECT_EQ(injector.succeeded(kCreate), injector.succeeded(kClose)) << "call " << call;
    }
}

} // namespace
