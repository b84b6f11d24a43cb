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

/* The size rule for a block that another process made with 524 bytes, the same on every
 * platform: a record keeps the size its first open asked for (0: any), and a block is handed
 * out for every size its memory pages hold. Each row opens in turn with the sizes given
 * (through the global name, as the channel does) and closes everything at its end. */
TEST_F(CrossProcess, SizeOfABlockMadeElsewhereIsTheSizeAskedFor) {
    ipctest::Probe maker({"hold-block", name_, "524", "0x11"});
    ASSERT_EQ(maker.read_line(), "ready");
    struct Open {
        RTS_SIZE asked;
        RTS_RESULT expected;
        RTS_SIZE written;
    };
    const std::vector<std::vector<Open>> rows = {
        {{0, RES_OK, 0}, {524, RES_BUFFERSIZE, 0}, {0, RES_OK, 0}},
        {{524, RES_OK, 524}, {0, RES_OK, 524}, {64, RES_BUFFERSIZE, 524}},
        {{2048, RES_OK, 2048}, {2048, RES_OK, 2048}},
        {{64, RES_OK, 64}, {524, RES_BUFFERSIZE, 64}},
        {{RTS_SIZE{1} << 20, RES_BUFFERSIZE, RTS_SIZE{1} << 20}, {524, RES_OK, 524}},
    };
    const std::string global = "Global\\" + name_;
    for (size_t row = 0; row < rows.size(); ++row) {
        std::vector<RTS_HANDLE> open;
        for (const Open& o : rows[row]) {
            RTS_SIZE size = o.asked;
            RTS_RESULT r = RES_FAILED;
            RTS_HANDLE h = SysSharedMemoryOpen(global.c_str(), 0, &size, &r);
            EXPECT_EQ(r, o.expected) << "row " << row << ", asked " << o.asked;
            EXPECT_EQ(size, o.written) << "row " << row << ", asked " << o.asked;
            if (h != RTS_INVALID_HANDLE) open.push_back(h);
        }
        for (RTS_HANDLE h : open) EXPECT_EQ(SysSharedMemoryClose(h), RES_OK);
    }
    unsigned char data[524] = {};
    RTS_SIZE size = sizeof data;
    RTS_HANDLE h = SysSharedMemoryOpen(name_.c_str(), 0, &size, nullptr);
    EXPECT_EQ(SysSharedMemoryReadByte(h, 0, data, sizeof data, nullptr), sizeof data);
    EXPECT_EQ(std::vector<unsigned char>(data, data + 524), std::vector<unsigned char>(524, 0x11));
    EXPECT_EQ(SysSharedMemoryClose(h), RES_OK);
    EXPECT_EQ(maker.wait(), 0);
    RTS_RESULT r = RES_OK;
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
