/* Semaphores between processes, used inside one process: bad arguments, recursion, time-outs,
 * ownership, mutual exclusion between threads, the clock of a timed wait, and each platform
 * call failing in turn. */
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "log_reader.h"
#include "seam_fault.h"
#include "sys/syssemprocess_os.h"
#include "syssem.h"
#include "ipc_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "sys/posix/syssemprocess_posix.h"
#endif

extern "C" RTS_RESULT SysSemProcess__Entry(ComponentInitRecord* pInit);

namespace {

class SysSemProcessMutex : public ::testing::Test {
protected:
    void SetUp() override {
        RTS_RESULT r = RES_FAILED;
        sem_ = SysSemProcessCreate(name_.c_str(), &r);
        ASSERT_EQ(r, RES_OK);
    }
    void TearDown() override { EXPECT_EQ(SysSemProcessDelete(sem_), RES_OK); }

    /* An enter with the time-out on another thread, which leaves again when it entered. */
    RTS_RESULT enter_elsewhere(RTS_UI32 timeoutMs) {
        RTS_RESULT r = RES_FAILED;
        std::thread([&] {
            r = SysSemProcessEnter(sem_, timeoutMs);
            if (r == RES_OK) SysSemProcessLeave(sem_);
        }).join();
        return r;
    }

    ipctest::ComponentRun run_{SysSemProcess__Entry};
    std::string name_ = ipctest::unique_name("gc_mutex_");
    RTS_HANDLE sem_ = RTS_INVALID_HANDLE;
};

TEST_F(SysSemProcessMutex, BadArgumentsAreRefused) {
    RTS_RESULT r = RES_OK;
    EXPECT_EQ(SysSemProcessCreate(nullptr, &r), RTS_INVALID_HANDLE);
    EXPECT_EQ(r, RES_PARAMETER);
    RTS_HANDLE gone = SysSemProcessCreate((name_ + "_gone").c_str(), nullptr);
    ASSERT_EQ(SysSemProcessDelete(gone), RES_OK);
    for (RTS_HANDLE h : {RTS_INVALID_HANDLE, static_cast<RTS_HANDLE>(nullptr), gone}) {
        EXPECT_EQ(SysSemProcessEnter(h, 0), RES_PARAMETER);
        EXPECT_EQ(SysSemProcessEnter(h, 0xFFFFFFFFu), RES_PARAMETER);
        EXPECT_EQ(SysSemProcessLeave(h), RES_PARAMETER);
        EXPECT_EQ(SysSemProcessDelete(h), RES_PARAMETER);
    }
}

TEST_F(SysSemProcessMutex, OwnerMayEnterAgainAndNeedsOneLeaveEach) {
    for (RTS_UI32 timeout : {0u, 10u, 0xFFFFFFFFu}) ASSERT_EQ(SysSemProcessEnter(sem_, timeout), RES_OK);
    for (int level = 0; level < 3; ++level) {
        EXPECT_EQ(enter_elsewhere(0), RES_TIMEOUT) << "still held";
        EXPECT_EQ(SysSemProcessLeave(sem_), RES_OK);
    }
    EXPECT_EQ(enter_elsewhere(0), RES_OK) << "every level released";
}

TEST_F(SysSemProcessMutex, HeldElsewhereTimesOutAndLeaveIsRefused) {
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
    std::thread holder([&] {
        SysSemProcessEnter(sem_, 0xFFFFFFFFu);
        held = true;
        while (!release) std::this_thread::yield();
        SysSemProcessLeave(sem_);
    });
    while (!held) std::this_thread::yield();
    for (RTS_UI32 timeout : {0u, 1u, 30u})
        EXPECT_EQ(SysSemProcessEnter(sem_, timeout), RES_TIMEOUT) << timeout;
    EXPECT_EQ(SysSemProcessLeave(sem_), RES_FAILED) << "only the owner may leave";
    release = true;
    holder.join();
}

TEST_F(SysSemProcessMutex, ThreadEndingWhileHoldingLeavesTheMutexToTheNext) {
    std::thread([&] {
        ASSERT_EQ(SysSemProcessEnter(sem_, 0), RES_OK);
        ASSERT_EQ(SysSemProcessEnter(sem_, 0), RES_OK);
    }).join();
    ASSERT_EQ(SysSemProcessEnter(sem_, 0), RES_OK) << "abandoned counts as entered";
    EXPECT_EQ(SysSemProcessLeave(sem_), RES_OK);
    EXPECT_EQ(SysSemProcessLeave(sem_), RES_FAILED) << "the ended thread's levels are not ours";
    EXPECT_EQ(enter_elsewhere(0), RES_OK) << "free after one leave";
}

/* Threads with handles of their own, waiting without limit and with a time-out in turn. */
TEST_F(SysSemProcessMutex, ExcludesThreadsUsingSeparateHandles) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 400;
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            RTS_HANDLE own = SysSemProcessCreate(name_.c_str(), nullptr);
            for (int i = 0; i < kRounds; ++i) {
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
    EXPECT_EQ(counter, long{kThreads} * kRounds);
}

#ifndef _WIN32
/* A timed enter ends at a moment of the monotonic clock: setting the calendar clock must neither
 * stretch nor cut it. Each row: the time-out, whose deadline must lie at least that far and at
 * most a minute more ahead of the monotonic clock's now. */
TEST(SysSemProcessDeadline, IsCountedOnTheMonotonicClock) {
    for (RTS_UI32 timeoutMs : {0u, 999u, 1500u, 86400000u}) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const timespec deadline = syssemprocess_posix::deadline_after(timeoutMs);
        const long double ahead = static_cast<long double>(deadline.tv_sec - now.tv_sec) +
                                  static_cast<long double>(deadline.tv_nsec - now.tv_nsec) / 1e9L;
        EXPECT_GE(ahead, timeoutMs / 1000.0L) << timeoutMs;
        EXPECT_LT(ahead, timeoutMs / 1000.0L + 60) << timeoutMs;
        EXPECT_LT(deadline.tv_nsec, 1000000000L) << timeoutMs;
    }
}
constexpr rts::OsError kNotOwner = EPERM;
#else
constexpr rts::OsError kNotOwner = ERROR_NOT_OWNER;
#endif

/* Every platform call failing in turn: the documented result, one log line with the call, the
 * mutex's name where the call had one and the OS error, and no handle left open. */
TEST(SysSemProcessSeam, EachFailingCallIsLoggedAndReported) {
    using C = syssemprocess_os::Calls;
    enum { kSecure, kUnsecure, kCreate, kClose, kEnter, kLeave };
    C fake = syssemprocess_os::platform_calls();
    fake.security_init = seamfault::forward<&C::security_init, kSecure>;
    fake.security_exit = seamfault::forward<&C::security_exit, kUnsecure>;
    fake.mutex_create = seamfault::forward<&C::mutex_create, kCreate>;
    fake.mutex_close = seamfault::forward<&C::mutex_close, kClose>;
    fake.mutex_enter = seamfault::forward<&C::mutex_enter, kEnter>;
    fake.mutex_leave = seamfault::forward<&C::mutex_leave, kLeave>;
    const std::string name = ipctest::unique_name("gc_mutex_seam_");
    const auto run = [](RTS_HANDLE) { return ipctest::ComponentRun(SysSemProcess__Entry).hook(CH_INIT); };
    const struct {
        int call;
        rts::OsError error;
        std::function<RTS_RESULT(RTS_HANDLE)> act;
        RTS_RESULT expected;
        bool named;
    } rows[] = {
        {kSecure, 1234, run, RES_OK, false},
        {kUnsecure, 1234, run, RES_OK, false},
        {kCreate, 1234,
         [&](RTS_HANDLE) {
             RTS_RESULT r = RES_OK;
             SysSemProcessCreate(name.c_str(), &r);
             return r;
         },
         RES_FAILED, true},
        {kClose, 1234, SysSemProcessDelete, RES_PARAMETER, false},
        {kEnter, 1234, [](RTS_HANDLE h) { return SysSemProcessEnter(h, 0); }, RES_PARAMETER, false},
        {kLeave, 1234,
         [](RTS_HANDLE h) {
             SysSemProcessEnter(h, 0);
             return SysSemProcessLeave(h);
         },
         RES_PARAMETER, false},
        {kLeave, kNotOwner,
         [](RTS_HANDLE h) {
             SysSemProcessEnter(h, 0);
             return SysSemProcessLeave(h);
         },
         RES_FAILED, false},
    };
    for (const auto& row : rows) {
        seamfault::Injector<C> injector(syssemprocess_os::platform_calls(), fake,
                                        syssemprocess_os::set_calls);
        RTS_HANDLE sem = SysSemProcessCreate(name.c_str(), nullptr);
        LogEarlyBufferClear();
        injector.fail(row.call, row.error);
        EXPECT_EQ(row.act(sem), row.expected) << "call " << row.call;
        const std::string line = std::string("injected failed") +
                                 (row.named ? " for <name>Global\\" + name + "</name>" : "") + ": OS error " +
                                 std::to_string(row.error);
        EXPECT_EQ(testlog::texts(), std::vector<std::string>{line}) << "call " << row.call;
        for (const LogEntry& e : testlog::entries()) {
            EXPECT_TRUE(e.CmpId == CMPID_SysSemProcess && e.ClassId == LOG_DEBUG && e.ErrorId == row.error);
        }
        injector.fail(-1, 0);
        if (row.call == kLeave) SysSemProcessLeave(sem);
        EXPECT_EQ(SysSemProcessDelete(sem), RES_OK) << "call " << row.call;
        EXPECT_EQ(injector.succeeded(kCreate), injector.succeeded(kClose)) << "call " << row.call;
    }
}

} // namespace
