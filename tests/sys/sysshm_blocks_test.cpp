/* Shared-memory blocks inside one process: reference counts, size rules, names, copying,
 * handles that are closed or foreign, the wrappers, and records used from several threads. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cmplog.h"
#include "sysshm.h"
#include "ipc_support.h"

extern "C" RTS_RESULT SysShm__Entry(ComponentInitRecord* pInit);

namespace {

class SysShmBlocks : public ::testing::Test {
protected:
    ipctest::ComponentRun run_{SysShm__Entry};
    std::string name_ = ipctest::unique_name("gc_shm_");

    RTS_HANDLE create(RTS_SIZE size, RTS_RESULT* pResult = nullptr) {
        RTS_RESULT r = RES_FAILED;
        RTS_HANDLE h = SysSharedMemoryCreate(name_.c_str(), 0, &size, &r);
        if (pResult != nullptr) *pResult = r;
        return h;
    }
};

TEST_F(SysShmBlocks, SameNameTwiceGivesSameHandleAndNeedsTwoCloses) {
    RTS_RESULT r = RES_FAILED;
    RTS_HANDLE first = create(128, &r);
    ASSERT_EQ(r, RES_OK);
    RTS_SIZE size = 0;
    RTS_HANDLE second = SysSharedMemoryOpen(name_.c_str(), 0, &size, &r);
    EXPECT_EQ(r, RES_OK);
    EXPECT_EQ(second, first);
    EXPECT_EQ(size, 128u);
    EXPECT_EQ(SysSharedMemoryClose(first), RES_OK);
    EXPECT_NE(SysSharedMemoryGetPointer(first, &r), nullptr) << "one reference is left";
    EXPECT_EQ(SysSharedMemoryDelete(second), RES_OK);
    EXPECT_EQ(SysSharedMemoryClose(first), RES_PARAMETER) << "closed more often than opened";
    EXPECT_EQ(SysSharedMemoryGetPointer(first, &r), nullptr);
    EXPECT_EQ(r, RES_PARAMETER);
    size = 128;
    EXPECT_EQ(SysSharedMemoryOpen(name_.c_str(), 0, &size, &r), RTS_INVALID_HANDLE);
    EXPECT_EQ(r, RES_NO_OBJECT) << "the last close ends the block";
}

struct SizeCase {
    const char* what;
    bool viaCreate;
    RTS_SIZE asked;
    RTS_RESULT expected;
    bool handle;
};

TEST_F(SysShmBlocks, SizeOfAnOpenBlockIsKeptAndReported) {
    const SizeCase cases[] = {
        {"open with 0 takes the recorded size", false, 0, RES_OK, true},
        {"open with the same size", false, 200, RES_OK, true},
        {"open with another size", false, 100, RES_BUFFERSIZE, false},
        {"open with a larger size", false, 4096, RES_BUFFERSIZE, false},
        {"create again with 0", true, 0, RES_DUPLICATE, true},
        {"create again with the same size", true, 200, RES_DUPLICATE, true},
        {"create again with another size", true, 300, RES_BUFFERSIZE, false},
    };
    RTS_HANDLE base = create(200);
    ASSERT_NE(base, RTS_INVALID_HANDLE);
    for (const auto& c : cases) {
        RTS_SIZE size = c.asked;
        RTS_RESULT r = RES_FAILED;
        RTS_HANDLE h = c.viaCreate ? SysSharedMemoryCreate(name_.c_str(), 0, &size, &r)
                                   : SysSharedMemoryOpen(name_.c_str(), 0, &size, &r);
        EXPECT_EQ(r, c.expected) << c.what;
        EXPECT_EQ(size, 200u) << c.what;
        EXPECT_EQ(h, c.handle ? base : RTS_INVALID_HANDLE) << c.what;
        if (h != RTS_INVALID_HANDLE) {
            EXPECT_EQ(SysSharedMemoryClose(h), RES_OK);
        }
    }
    EXPECT_EQ(SysSharedMemoryClose(base), RES_OK);
    EXPECT_EQ(SysSharedMemoryClose(base), RES_PARAMETER) << "refused opens must not count references";
}

TEST_F(SysShmBlocks, BadNamesAndSizesAreRefused) {
    struct Case {
        const char* what;
        std::string name;
        bool nullName;
        bool nullSize;
        RTS_SIZE size;
        RTS_RESULT expected;
    };
    const std::string longest = name_ + std::string(245 - name_.size(), 'n');
    const Case cases[] = {
        {"null name", "", true, false, 64, RES_PARAMETER},
        {"null size", name_, false, true, 64, RES_PARAMETER},
        {"246 characters", longest + "x", false, false, 64, RES_PARAMETER},
        {"empty name", "", false, false, 64, RES_PARAMETER},
        {"nothing after the backslash", "Global\\", false, false, 64, RES_PARAMETER},
        {"create with size 0", name_ + "z", false, false, 0, RES_NO_OBJECT},
    };
    for (const auto& c : cases) {
        for (bool viaCreate : {false, true}) {
            RTS_SIZE size = c.size;
            RTS_RESULT r = RES_OK;
            const char* n = c.nullName ? nullptr : c.name.c_str();
            RTS_SIZE* pSize = c.nullSize ? nullptr : &size;
            RTS_HANDLE h =
                viaCreate ? SysSharedMemoryCreate(n, 0, pSize, &r) : SysSharedMemoryOpen(n, 0, pSize, &r);
            EXPECT_EQ(h, RTS_INVALID_HANDLE) << c.what;
            const RTS_RESULT expected =
                !viaCreate && c.expected == RES_NO_OBJECT ? RES_NO_OBJECT : c.expected;
            EXPECT_EQ(r, expected) << c.what << (viaCreate ? " (create)" : " (open)");
        }
    }
    RTS_SIZE size = 64;
    RTS_RESULT r = RES_FAILED;
    RTS_HANDLE h = SysSharedMemoryCreate(longest.c_str(), 0, &size, &r);
    EXPECT_EQ(r, RES_OK) << "245 characters are allowed";
    EXPECT_EQ(SysSharedMemoryClose(h), RES_OK);
    EXPECT_EQ(SysSharedMemoryOpen(name_.c_str(), 0, &size, &r), RTS_INVALID_HANDLE);
    EXPECT_EQ(r, RES_NO_OBJECT) << "never created";
}

TEST_F(SysShmBlocks, GlobalAndLocalNameReachTheSameMemory) {
    RTS_HANDLE local = create(64);
    ASSERT_NE(local, RTS_INVALID_HANDLE);
    const std::string global = "Global\\" + name_;
    RTS_SIZE size = 64;
    RTS_RESULT r = RES_FAILED;
    RTS_HANDLE other = SysSharedMemoryOpen(global.c_str(), 0, &size, &r);
    ASSERT_EQ(r, RES_OK);
    EXPECT_NE(other, local) << "records are kept per name as given";
    const unsigned char text[] = "shared";
    SysSharedMemoryWrite(local, 10, text, sizeof text, &r);
    unsigned char back[sizeof text] = {};
    EXPECT_EQ(SysSharedMemoryRead(other, 10, back, sizeof back, &r), sizeof back);
    EXPECT_EQ(std::memcmp(back, text, sizeof text), 0);
    EXPECT_EQ(SysSharedMemoryClose(other), RES_OK);
    EXPECT_EQ(SysSharedMemoryClose(local), RES_OK);
}

using ReadFn = RTS_SIZE (*)(RTS_HANDLE, RTS_SIZE, unsigned char*, RTS_SIZE, RTS_RESULT*);
using WriteFn = RTS_SIZE (*)(RTS_HANDLE, RTS_SIZE, const unsigned char*, RTS_SIZE, RTS_RESULT*);

TEST_F(SysShmBlocks, CopiesLandAtTheirOffsetInEveryVariant) {
    const struct {
        const char* what;
        WriteFn write;
        ReadFn read;
    } variants[] = {
        {"block copies", SysSharedMemoryWrite, SysSharedMemoryRead},
        {"byte copies", SysSharedMemoryWriteByte, SysSharedMemoryReadByte},
        {"block write, byte read", SysSharedMemoryWrite, SysSharedMemoryReadByte},
        {"byte write, block read", SysSharedMemoryWriteByte, SysSharedMemoryRead},
    };
    RTS_HANDLE h = create(512);
    ASSERT_NE(h, RTS_INVALID_HANDLE);
    auto* base = static_cast<unsigned char*>(SysSharedMemoryGetPointer(h, nullptr));
    ASSERT_NE(base, nullptr);
    for (const auto& v : variants) {
        for (RTS_SIZE offset : {RTS_SIZE{0}, RTS_SIZE{1}, RTS_SIZE{255}, RTS_SIZE{500}}) {
            std::memset(base, 0, 512);
            unsigned char data[12];
            for (unsigned i = 0; i < sizeof data; ++i) data[i] = static_cast<unsigned char>(offset + i + 1);
            RTS_RESULT r = RES_FAILED;
            EXPECT_EQ(v.write(h, offset, data, sizeof data, &r), sizeof data) << v.what;
            EXPECT_EQ(r, RES_OK);
            EXPECT_EQ(std::memcmp(base + offset, data, sizeof data), 0) << v.what << " at " << offset;
            if (offset > 0) {
                EXPECT_EQ(base[offset - 1], 0) << v.what << ": byte before the range touched";
            }
            if (offset + sizeof data < 512) {
                EXPECT_EQ(base[offset + sizeof data], 0) << v.what << ": byte after the range touched";
            }
            unsigned char back[sizeof data] = {};
            EXPECT_EQ(v.read(h, offset, back, sizeof back, &r), sizeof back) << v.what;
            EXPECT_EQ(std::memcmp(back, data, sizeof data), 0) << v.what << " at " << offset;
        }
    }
    EXPECT_EQ(SysSharedMemoryClose(h), RES_OK);
}

TEST_F(SysShmBlocks, HandlesThatAreNotOpenAreRefusedEverywhere) {
    RTS_HANDLE closed = create(64);
    ASSERT_EQ(SysSharedMemoryClose(closed), RES_OK);
    int stranger = 0;
    const struct {
        const char* what;
        RTS_HANDLE h;
    } handles[] = {
        {"invalid", RTS_INVALID_HANDLE},
        {"null", nullptr},
        {"closed", closed},
        {"not a record", &stranger},
    };
    unsigned char buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (const auto& c : handles) {
        RTS_RESULT r = RES_OK;
        EXPECT_EQ(SysSharedMemoryGetPointer(c.h, &r), nullptr) << c.what;
        EXPECT_EQ(r, RES_PARAMETER) << c.what;
        r = RES_OK;
        EXPECT_EQ(SysSharedMemoryRead(c.h, 0, buffer, sizeof buffer, &r), 0u) << c.what;
        EXPECT_EQ(r, RES_PARAMETER) << c.what;
        r = RES_OK;
        EXPECT_EQ(SysSharedMemoryWriteByte(c.h, 0, buffer, sizeof buffer, &r), 0u) << c.what;
        EXPECT_EQ(r, RES_PARAMETER) << c.what;
        EXPECT_EQ(SysSharedMemoryClose(c.h), RES_PARAMETER) << c.what;
        EXPECT_EQ(SysSharedMemoryDelete(c.h), RES_PARAMETER) << c.what;
    }
    EXPECT_EQ(stranger, 0) << "a foreign pointer must not be written";
    RTS_HANDLE open = create(64);
    RTS_RESULT r = RES_OK;
    EXPECT_EQ(SysSharedMemoryRead(open, 0, nullptr, 4, &r), 0u);
    EXPECT_EQ(r, RES_PARAMETER) << "null buffer";
    EXPECT_EQ(SysSharedMemoryWrite(open, 0, nullptr, 4, &r), 0u);
    EXPECT_EQ(r, RES_PARAMETER) << "null buffer";
    EXPECT_EQ(SysSharedMemoryClose(open), RES_OK);
}

TEST_F(SysShmBlocks, RecordsOfNamedAndPhysicalBlocksAreApart) {
    RTS_HANDLE named = create(64);
    ASSERT_NE(named, RTS_INVALID_HANDLE);
    RTS_SIZE size = 4096;
    RTS_RESULT r = RES_OK;
    RTS_HANDLE physical = SysSharedMemoryOpen(name_.c_str(), 0x100000, &size, &r);
    EXPECT_NE(physical, named);
    if (physical == RTS_INVALID_HANDLE) {
        EXPECT_TRUE(r == RES_FAILED || r == RES_NO_OBJECT) << "without the driver: " << r;
    } else {
        EXPECT_EQ(r, RES_OK);
        EXPECT_EQ(SysSharedMemoryClose(physical), RES_OK);
    }
    EXPECT_EQ(SysSharedMemoryClose(named), RES_OK);
    EXPECT_EQ(SysSharedMemoryClose(named), RES_PARAMETER);
}

TEST_F(SysShmBlocks, WrappersForwardAndOpenCreatesWhenMissing) {
    RTS_UI32 size = 96;
    RTS_RESULT r = RES_FAILED;
    SysShmOpenParams open2{name_.c_str(), 0, &size, &r, nullptr};
    syssharedmemoryopen2(&open2);
    EXPECT_EQ(open2.result, RTS_INVALID_HANDLE) << "open2 only opens";
    EXPECT_EQ(r, RES_NO_OBJECT);

    SysShmOpenParams open{name_.c_str(), 0, &size, &r, nullptr};
    syssharedmemoryopen(&open);
    ASSERT_NE(open.result, RTS_INVALID_HANDLE) << "open creates when the block is missing";
    EXPECT_EQ(r, RES_OK);
    size = 0;
    syssharedmemoryopen2(&open2);
    EXPECT_EQ(open2.result, open.result);
    EXPECT_EQ(size, 96u) << "the size is written back";

    unsigned char data[4] = {9, 8, 7, 6};
    SysShmCopyParams write{open.result, 3, data, sizeof data, &r, 0};
    syssharedmemorywritebyte(&write);
    EXPECT_EQ(write.result, sizeof data);
    unsigned char back[4] = {};
    SysShmCopyParams read{open.result, 3, back, sizeof back, &r, 0};
    syssharedmemoryread(&read);
    EXPECT_EQ(read.result, sizeof back);
    EXPECT_EQ(std::memcmp(back, data, sizeof data), 0);
    SysShmGetPointerParams pointer{open.result, &r, nullptr};
    syssharedmemorygetpointer(&pointer);
    ASSERT_NE(pointer.result, nullptr);
    EXPECT_EQ(static_cast<unsigned char*>(pointer.result)[3], 9);

    SysShmOpenParams noSize{name_.c_str(), 0, nullptr, &r, nullptr};
    syssharedmemorycreate(&noSize);
    EXPECT_EQ(noSize.result, RTS_INVALID_HANDLE);
    EXPECT_EQ(r, RES_PARAMETER);

    SysShmHandleParams close{open.result, RES_FAILED};
    syssharedmemoryclose(&close);
    EXPECT_EQ(close.result, RES_OK);
    syssharedmemorydelete(&close);
    EXPECT_EQ(close.result, RES_OK);
    syssharedmemoryclose(&close);
    EXPECT_EQ(close.result, RES_PARAMETER);
}

TEST_F(SysShmBlocks, ParallelOpensAndClosesKeepTheCountExact) {
    RTS_HANDLE base = create(64);
    ASSERT_NE(base, RTS_INVALID_HANDLE);
    constexpr int kThreads = 4;
    constexpr int kRounds = 300;
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                RTS_SIZE size = 0;
                RTS_RESULT r = RES_FAILED;
                RTS_HANDLE h = SysSharedMemoryOpen(name_.c_str(), 0, &size, &r);
                unsigned char mine = static_cast<unsigned char>(t + 1);
                if (h != base || SysSharedMemoryWrite(h, static_cast<RTS_SIZE>(t), &mine, 1, &r) != 1 ||
                    SysSharedMemoryClose(h) != RES_OK) {
                    ++failures[t];
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
    EXPECT_EQ(SysSharedMemoryClose(base), RES_OK);
    EXPECT_EQ(SysSharedMemoryClose(base), RES_PARAMETER);
}

TEST(SysShmLifecycle, NothingWorksOutsideStartUpAndShutDown) {
    const std::string name = ipctest::unique_name("gc_shm_life_");
    RTS_SIZE size = 64;
    RTS_RESULT r = RES_OK;
    EXPECT_EQ(SysSharedMemoryCreate(name.c_str(), 0, &size, &r), RTS_INVALID_HANDLE);
    EXPECT_EQ(r, RES_NOTINITIALIZED);
    RTS_HANDLE left = RTS_INVALID_HANDLE;
    LogEarlyBufferClear();
    {
        ipctest::ComponentRun run(SysShm__Entry);
        left = SysSharedMemoryCreate(name.c_str(), 0, &size, &r);
        ASSERT_EQ(r, RES_OK);
    }
    bool reported = false;
    LogEntry entry{};
    for (int i = 0; LogEarlyBufferGet(i, &entry) == RES_OK; ++i) {
        reported |= entry.CmpId == CMPID_SysShm && std::strstr(entry.InfoText, name.c_str()) != nullptr;
    }
    EXPECT_TRUE(reported) << "a block still open at the end is reported";
    EXPECT_EQ(SysSharedMemoryClose(left), RES_NOTINITIALIZED);
    EXPECT_EQ(SysSharedMemoryOpen(name.c_str(), 0, &size, &r), RTS_INVALID_HANDLE);
    EXPECT_EQ(r, RES_NOTINITIALIZED);

    ipctest::ComponentRun again(SysShm__Entry);
    EXPECT_EQ(SysSharedMemoryOpen(name.c_str(), 0, &size, &r), RTS_INVALID_HANDLE);
    EXPECT_EQ(r, RES_NO_OBJECT) << "the shut-down released the block";
}

} // namespace
