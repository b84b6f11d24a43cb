/* Semaphores between processes, used inside one process: create and open, bad handles,
 * recursion, time-outs, ownership and mutual exclusion between threads. */
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "syssem.h"
#include "sysshm_test_support.h"

#ifndef _WIN32
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
        ASSERT_NE(sem_, RTS_INVALID_HANDLE);
    }
    void TearDown() override { EXPECT_EQ(SysSemProcessDelete(sem_), RES_OK); }

    /* Holds the mutex on another thread until release() */
    class Holder {
    public:
        explicit Holder(RTS_HANDLE sem)
            : thread_([this, sem] {
                  SysSemProcessEnter(sem, 0xFFFFFFFFu);
                  held_ = true;
                  while (!release_) std::this_thread::yield();
                  SysSemProcessLeave(sem);
              }) {
            while (!held_) std::this_thread::yield();
        }
        ~Holder() {
            release_ = true;
            thread_.join();
        }

    private:
        std::atomic<bool> held_{false};
        std::atomic<bool> release_{false};
        std::thread thread_;
    };

    shmtest::ComponentRun run_{SysSemProcess__Entry};
    std::string name_ = shmtest::unique_name("gc_mutex_");
    RTS_HANDLE sem_ = RTS_INVALID_HANDLE;
};

TEST_F(SysSemProcessMutex, SecondCreateOpensTheSameMutex) {
    RTS_RESULT r = RES_FAILED;
    RTS_HANDLE again = SysSemProcessCreate(name_.c_str(), &r);
    ASSERT_NE(again, RTS_INVALID_HANDLE);
    EXPECT_EQ(r, RES_DUPLICATE);
    ASSERT_EQ(SysSemProcessEnter(sem_, 0), RES_OK);
    {
        std::thread other(
            [&] { EXPECT_EQ(SysSemProcessEnter(again, 0), RES_TIMEOUT) << "same mutex, held"; });
        other.join();
    }
    EXPECT_EQ(SysSemProcessLeave(sem_), RES_OK);
    EXPECT_EQ(SysSemProcessDelete(again), RES_OK);
}

TEST_F(SysSemProcessMutex, BadHandlesAndNamesAreRefused) {
    RTS_RESULT r = RES_OK;
    EXPECT_EQ(SysSemProcessCreate(nullptr, &r), RTS_INVALID_HANDLE);
    EXPECT_EQ(r, RES_PARAMETER);
    RTS_HANDLE gone = SysSemProcessCreate((name_ + "_gone").c_str(), &r);
    ASSERT_EQ(SysSemProcessDelete(gone), RES_OK);
    const struct {
        const char* what;
        RTS_HANDLE h;
    } handles[] = {{"invalid", RTS_INVALID_HANDLE}, {"null", nullptr}, {"deleted", gone}};
    for (const auto& c : handles) {
        EXPECT_EQ(SysSemProcessEnter(c.h, 0), RES_PARAMETER) << c.what;
        EXPECT_EQ(SysSemProcessEnter(c.h, 0xFFFFFFFFu), RES_PARAMETER) << c.what;
        EXPECT_EQ(SysSemProcessLeave(c.h), RES_PARAMETER) << c.what;
        EXPECT_EQ(SysSemProcessDelete(c.h), RES_PARAMETER) << c.what;
    }
}

TEST_F(SysSemProcessMutex, OwnerMayEnterAgainAndNeedsOneLeaveEach) {
    for (RTS_UI32 timeout : {0u, 10u, 0xFFFFFFFFu}) ASSERT_EQ(SysSemProcessEnter(sem_, timeout), RES_OK);
    for (int level = 0; level < 3; ++level) {
        std::thread other([&] { EXPECT_EQ(SysSemProcessEnter(sem_, 0), RES_TIMEOUT) << "still held"; });
        other.join();
        EXPECT_EQ(SysSemProcessLeave(sem_), RES_OK);
    }
    std::thread other([&] {
        EXPECT_EQ(SysSemProcessEnter(sem_, 0), RES_OK) << "every level released";
        EXPECT_EQ(SysSemProcessLeave(sem_), RES_OK);
    });
    other.join();
}

TEST_F(SysSemProcessMutex, HeldElsewhereTimesOutAndLeaveIsRefused) {
    Holder holder(sem_);
    for (RTS_UI32 timeout : {0u, 1u, 30u})
        EXPECT_EQ(SysSemProcessEnter(sem_, timeout), RES_TIMEOUT) << timeout;
    EXPECT_EQ(SysSemProcessLeave(sem_), RES_FAILED) << "only the owner may leave";
}

TEST_F(SysSemProcessMutex, ThreadEndingWhileHoldingLeavesTheMutexToTheNext) {
    std::thread([&] {
        ASSERT_EQ(SysSemProcessEnter(sem_, 0), RES_OK);
        ASSERT_EQ(SysSemProcessEnter(sem_, 0), RES_OK);
    }).join();
    ASSERT_EQ(SysSemProcessEnter(sem_, 0), RES_OK) << "abandoned counts as entered";
    EXPECT_EQ(SysSemProcessLeave(sem_), RES_OK);
    EXPECT_EQ(SysSemProcessLeave(sem_), RES_FAILED) << "the ended thread's levels are not ours";
    std::thread([&] {
        EXPECT_EQ(SysSemProcessEnter(sem_, 0), RES_OK) << "free after one leave";
        EXPECT_EQ(SysSemProcessLeave(sem_), RES_OK);
    }).join();
}

TEST_F(SysSemProcessMutex, UnlimitedWaitEndsWhenTheOwnerLeaves) {
    std::atomic<bool> released{false};
    std::atomic<bool> held{false};
    std::thread owner([&] {
        SysSemProcessEnter(sem_, 0xFFFFFFFFu);
        held = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        released = true;
        SysSemProcessLeave(sem_);
    });
    while (!held) std::this_thread::yield();
    EXPECT_EQ(SysSemProcessEnter(sem_, 0xFFFFFFFFu), RES_OK);
    EXPECT_TRUE(released) << "entered before the owner left";
    EXPECT_EQ(SysSemProcessLeave(sem_), RES_OK);
    owner.join();
}

TEST_F(SysSemProcessMutex, ExcludesThreadsUsingSeparateHandles) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 400;
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            RTS_RESULT r = RES_FAILED;
            RTS_HANDLE own = SysSemProcessCreate(name_.c_str(), &r);
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
 * stretch nor cut it. Each row: the time-out, and how far ahead of the monotonic clock's now its
 * deadline must lie (at least the time-out, at most a minute more). */
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
#endif

} // namespace
