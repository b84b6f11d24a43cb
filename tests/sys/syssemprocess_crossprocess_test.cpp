/* Shared memory and process semaphores between two processes: the probe program plays the
 * other process (creates, holds, dies while holding). */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ipc_support.h"
#include "syssem.h"
#include "sysshm.h"

extern "C" RTS_RESULT SysShm__Entry(ComponentInitRecord* pInit);
extern "C" RTS_RESULT SysSemProcess__Entry(ComponentInitRecord* pInit);

namespace {

class CrossProcess : public ::testing::Test {
protected:
    ipctest::ComponentRun shm_{SysShm__Entry};
    ipctest::ComponentRun sem_{SysSemProcess__Entry};
    std::string name_ = ipctest::unique_name("gc_xproc_");
};

TEST_F(CrossProcess, BothProcessesSeeEachOthersWritesAndCreateGivesDuplicate) {
    RTS_SIZE size = 256;
    RTS_RESULT r = RES_FAILED;
    RTS_HANDLE h = SysSharedMemoryCreate(name_.c_str(), 0, &size, &r);
    ASSERT_EQ(r, RES_OK);
    std::vector<unsigned char> first(128, 0xA5);
    SysSharedMemoryWrite(h, 0, first.data(), first.size(), &r);
    EXPECT_EQ(ipctest::run_probe({"check-block", name_, "256", "0xA5", "0x5A"}), 0);
    std::vector<unsigned char> second(128, 0);
    SysSharedMemoryRead(h, 128, second.data(), second.size(), &r);
    EXPECT_EQ(second, std::vector<unsigned char>(128, 0x5A));
    EXPECT_EQ(ipctest::run_probe({"create-block", name_, "256"}), static_cast<int>(RES_DUPLICATE));
    RTS_HANDLE mutex = SysSemProcessCreate(name_.c_str(), &r);
    ASSERT_EQ(r, RES_OK);
    EXPECT_EQ(ipctest::run_probe({"create-mutex", name_}), static_cast<int>(RES_DUPLICATE));
    EXPECT_EQ(SysSemProcessDelete(mutex), RES_OK);
    EXPECT_EQ(SysSharedMemoryClose(h), RES_OK);
}

TEST_F(CrossProcess, BlockOfAnotherProcessIsFoundWhileItLives) {
    ipctest::Probe maker({"hold-block", name_, "64", "0x11"});
    ASSERT_EQ(maker.read_line(), "ready");
    RTS_SIZE size = 64;
    RTS_RESULT r = RES_FAILED;
    RTS_HANDLE h = SysSharedMemoryOpen(("Global\\" + name_).c_str(), 0, &size, &r);
    ASSERT_EQ(r, RES_OK);
    unsigned char data[64] = {};
    SysSharedMemoryReadByte(h, 0, data, sizeof data, &r);
    EXPECT_EQ(std::vector<unsigned char>(data, data + 64), std::vector<unsigned char>(64, 0x11));
    EXPECT_EQ(SysSharedMemoryClose(h), RES_OK);
    EXPECT_EQ(maker.wait(), 0);
    EXPECT_EQ(SysSharedMemoryOpen(name_.c_str(), 0, &size, &r), RTS_INVALID_HANDLE);
    EXPECT_EQ(r, RES_NO_OBJECT) << "a block goes when its maker closed it and no one else holds it";
}

TEST_F(CrossProcess, MutexHeldByAnotherProcessTimesOutThenIsFree) {
    RTS_HANDLE mutex = SysSemProcessCreate(name_.c_str(), nullptr);
    ASSERT_NE(mutex, RTS_INVALID_HANDLE);
    ipctest::Probe holder({"hold-mutex", name_});
    ASSERT_EQ(holder.read_line(), "held");
    EXPECT_EQ(SysSemProcessEnter(mutex, 0), RES_TIMEOUT);
    EXPECT_EQ(SysSemProcessEnter(mutex, 20), RES_TIMEOUT);
    holder.finish();
    EXPECT_EQ(SysSemProcessEnter(mutex, 0xFFFFFFFFu), RES_OK) << "entered once the holder left";
    EXPECT_EQ(SysSemProcessLeave(mutex), RES_OK);
    EXPECT_EQ(holder.wait(), 0);
    EXPECT_EQ(SysSemProcessDelete(mutex), RES_OK);
}

TEST_F(CrossProcess, HolderKilledWhileHoldingDoesNotBlockTheNext) {
    RTS_HANDLE mutex = SysSemProcessCreate(name_.c_str(), nullptr);
    ASSERT_NE(mutex, RTS_INVALID_HANDLE);
    for (int round = 0; round < 2; ++round) {
        ipctest::Probe holder({"hold-mutex", name_});
        ASSERT_EQ(holder.read_line(), "held") << "round " << round;
        EXPECT_EQ(SysSemProcessEnter(mutex, 0), RES_TIMEOUT);
        holder.kill();
        holder.wait();
        EXPECT_EQ(SysSemProcessEnter(mutex, 10000), RES_OK) << "a dead holder's mutex counts as entered";
        EXPECT_EQ(SysSemProcessLeave(mutex), RES_OK);
    }
    EXPECT_EQ(SysSemProcessDelete(mutex), RES_OK);
}

} // namespace
