/* In-process semaphores: recursion, try from the holder and from another thread, mutual
 * exclusion under contention, bad handles, and the diagnosis mode's log lines. */
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cmpsettings.h"
#include "cmutils.h"
#include "syssem.h"
#include "sysshm_test_support.h"
#include "test_components.h"

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
    if (set == nullptr) return false;
    wchar_t wide[32] = {};
    for (int i = 0; name[i] != '\0' && i < 31; ++i) wide[i] = static_cast<wchar_t>(name[i]);
    return SUCCEEDED(set(GetCurrentThread(), wide));
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

class SysSemBasic : public ::testing::Test {
protected:
    void SetUp() override {
        RTS_RESULT r = RES_FAILED;
        sem_ = SysSemCreate(&r);
        ASSERT_EQ(r, RES_OK);
        ASSERT_NE(sem_, RTS_INVALID_HANDLE);
    }
    void TearDown() override { EXPECT_EQ(SysSemDelete(sem_), RES_OK); }

    /* Whether another thread could take the semaphore right now (it leaves it again at once). */
    bool free_for_others() {
        bool taken = false;
        std::thread other([&] {
            taken = SysSemTry(sem_) == RES_OK;
            if (taken) SysSemLeave(sem_);
        });
        other.join();
        return taken;
    }

    RTS_HANDLE sem_ = RTS_INVALID_HANDLE;
};

TEST_F(SysSemBasic, HolderMayEnterAgainAndOthersWaitForTheLastLeave) {
    ASSERT_EQ(SysSemEnter(sem_), RES_OK);
    EXPECT_EQ(SysSemTry(sem_), RES_OK) << "try by the holder is a recursion";
    EXPECT_EQ(SysSemEnter(sem_), RES_OK);
    EXPECT_FALSE(free_for_others());
    EXPECT_EQ(SysSemLeave(sem_), RES_OK);
    EXPECT_EQ(SysSemLeave(sem_), RES_OK);
    EXPECT_FALSE(free_for_others()) << "one level is still held";
    EXPECT_EQ(SysSemLeave(sem_), RES_OK);
    EXPECT_TRUE(free_for_others());
}

TEST_F(SysSemBasic, TryOnASemaphoreHeldElsewhereFailsAtOnce) {
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
    std::thread holder([&] {
        SysSemEnter(sem_);
        held = true;
        while (!release) std::this_thread::yield();
        SysSemLeave(sem_);
    });
    while (!held) std::this_thread::yield();
    EXPECT_EQ(SysSemTry(sem_), RES_FAILED);
    release = true;
    holder.join();
    EXPECT_EQ(SysSemTry(sem_), RES_OK);
    EXPECT_EQ(SysSemLeave(sem_), RES_OK);
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

TEST(SysSemHandles, NullAndInvalidHandlesAreRefused) {
    for (RTS_HANDLE h : {static_cast<RTS_HANDLE>(nullptr), RTS_INVALID_HANDLE}) {
        EXPECT_EQ(SysSemDelete(h), RES_PARAMETER);
        EXPECT_EQ(SysSemEnter(h), RES_PARAMETER);
        EXPECT_EQ(SysSemLeave(h), RES_PARAMETER);
        EXPECT_EQ(SysSemTry(h), RES_PARAMETER);
    }
    RTS_HANDLE h = SysSemCreate(nullptr);
    EXPECT_NE(h, RTS_INVALID_HANDLE) << "the result pointer is optional";
    EXPECT_EQ(SysSemDelete(h), RES_OK);
}

/* The component with the diagnosis setting given, taken through CH_INIT2. */
class SysSemDiagnosis : public ::testing::Test {
protected:
    void start(int setting) {
        SettgSetIntValue("SysSem", "SemEnterDiagnosis", setting, 10);
        LogEarlyBufferClear();
        run_ = std::make_unique<shmtest::ComponentRun>(SysSem__Entry);
        run_->hook(CH_INIT2);
        sem_ = SysSemCreate(nullptr);
        ASSERT_NE(sem_, RTS_INVALID_HANDLE);
    }
    void TearDown() override {
        if (sem_ != RTS_INVALID_HANDLE) SysSemDelete(sem_);
        run_.reset();
        SettgRemoveKey("SysSem", "SemEnterDiagnosis");
        LogEarlyBufferClear();
    }

    /* One round of a waiter blocking on the semaphore that the holder (this thread) keeps for
     * holdMs after the waiter set out. Returns the log lines of the round. */
    std::vector<std::string> contend(int holdMs, const std::string& waiterName, unsigned& waiterId,
                                     bool& waiterSawRelease) {
        LogEarlyBufferClear();
        SysSemEnter(sem_);
        SysSemEnter(sem_);
        SysSemLeave(sem_); // still held once: the holder must still be named
        std::atomic<bool> setOut{false};
        std::atomic<bool> released{false};
        std::thread waiter([&] {
            name_thread(waiterName.c_str());
            waiterId = thread_id();
            setOut = true;
            SysSemEnter(sem_);
            waiterSawRelease = released.load();
            SysSemLeave(sem_);
        });
        while (!setOut) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
        released = true;
        SysSemLeave(sem_);
        waiter.join();
        std::vector<std::string> lines = sem_log();
        return lines;
    }

    std::unique_ptr<shmtest::ComponentRun> run_;
    RTS_HANDLE sem_ = RTS_INVALID_HANDLE;
};

TEST_F(SysSemDiagnosis, WaitOnAHeldSemaphoreLogsBothThreadsAndTheEndOfTheWait) {
    start(1);
    const std::vector<std::string> enabled = sem_log();
    if (enabled.empty()) GTEST_SKIP() << "the platform gives no thread descriptions";
    EXPECT_EQ(enabled, std::vector<std::string>{
                           "SysSemWin32: SysSemEnter diagnosis enabled! Only use this for diagnosis!"});

    const bool named = name_thread("sem-holder");
    const unsigned holderId = thread_id();
    char handle[16];
    CMUtlsnprintf(handle, sizeof handle, "0x%x", static_cast<unsigned>(reinterpret_cast<RTS_UINTPTR>(sem_)));
    std::vector<std::string> lines;
    unsigned waiterId = 0;
    bool waiterSawRelease = false;
    // The waiter may reach its enter only after the holder let go; hold longer each round.
    for (int holdMs = 20; holdMs <= 2000 && lines.empty(); holdMs *= 3) {
        lines = contend(holdMs, "sem-waiter", waiterId, waiterSawRelease);
        EXPECT_TRUE(lines.empty() || lines.size() == 2u) << "an enter logs both lines or none";
    }
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(waiterSawRelease) << "the waiter got the semaphore only after the holder left";
    const std::string waiter = named ? "sem-waiter" : "";
    const std::string holder = named ? "sem-holder" : "";
    EXPECT_EQ(lines[0], "ERROR: SysSemEnter: [Sem:" + std::string(handle) + "] <" + waiter +
                            "> [tid:" + std::to_string(waiterId) + "] is locked because of <" + holder +
                            "> [tid:" + std::to_string(holderId) + "]");
    EXPECT_EQ(lines[1], "ERROR: SysSemEnter: [Sem:" + std::string(handle) + "] <" + waiter +
                            "> [tid:" + std::to_string(waiterId) + "] lock finished");
    for (const LogEntry& e : testlog::entries()) EXPECT_EQ(e.ClassId, LOG_DEBUG);
}

TEST_F(SysSemDiagnosis, UncontendedEnterLogsNothing) {
    start(1);
    LogEarlyBufferClear();
    ASSERT_EQ(SysSemEnter(sem_), RES_OK);
    ASSERT_EQ(SysSemEnter(sem_), RES_OK);
    ASSERT_EQ(SysSemTry(sem_), RES_OK);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(SysSemLeave(sem_), RES_OK);
    std::thread other([this] {
        SysSemEnter(sem_);
        SysSemLeave(sem_);
    });
    other.join();
    EXPECT_TRUE(sem_log().empty());
}

TEST_F(SysSemDiagnosis, SwitchedOffAWaitLogsNothing) {
    start(0);
    EXPECT_TRUE(sem_log().empty()) << "no announcement without the setting";
    unsigned waiterId = 0;
    bool waiterSawRelease = false;
    EXPECT_TRUE(contend(50, "sem-waiter", waiterId, waiterSawRelease).empty());
    EXPECT_TRUE(waiterSawRelease);
}

} // namespace
