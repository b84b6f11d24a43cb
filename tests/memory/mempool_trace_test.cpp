// The lock trace of one pool, with a test component standing in for the trace manager and the
// task service: registration rules, the depth samples of lock and unlock, the long-hold and
// unbalanced-unlock log lines, the packet's end at shut-down, and the lock a block given back
// from another pool's used list takes.
#include <chrono>
#include <string>
#include <thread>

#include "cmpsettings.h"
#include "memory_fixture.h"

namespace {

struct TraceLog {
    std::string packet; // name, buffer size and flags
    std::vector<std::string> records;
    std::vector<RTS_I32> samples;
    int deleted = 0;
    RTS_UINTPTR task = 0x1234;
} g_trace;

RTS_HANDLE packet_create(const char* name, RTS_UI32 bufferSize, RTS_UI32 flags, RTS_RESULT*) {
    g_trace.packet = std::string(name) + " " + std::to_string(bufferSize) + " " + std::to_string(flags);
    return &g_trace;
}
RTS_HANDLE record_add(RTS_HANDLE, const char* name, RTS_RESULT*) {
    g_trace.records.emplace_back(name);
    return &g_trace.records.back();
}
RTS_RESULT task_info(RTS_HANDLE task, const char** ppName) {
    *ppName = task == reinterpret_cast<RTS_HANDLE>(0x1234) ? "TestTask" : "OtherTask";
    return RES_OK;
}

const CMExportEntry kTraceServices[] = {
    memtest::export_as("TraceMgrPacketCreate", packet_create),
    memtest::export_as("TraceMgrPacketDelete",
                       [](RTS_HANDLE) -> RTS_RESULT { return ++g_trace.deleted, RES_OK; }),
    memtest::export_as("TraceMgrPacketGetState",
                       [](RTS_HANDLE, RTS_UI32* pState) -> RTS_RESULT {
                           return *pState = MEM_POOL_TRACE_RECORDING, RES_OK;
                       }),
    memtest::export_as("TraceMgrRecordAdd", record_add),
    memtest::export_as("TraceMgrRecordUpdate3",
                       [](RTS_HANDLE, RTS_HANDLE, RTS_I32 depth) -> RTS_RESULT {
                           return g_trace.samples.push_back(depth), RES_OK;
                       }),
    memtest::export_as("SysTaskGetCurrent",
                       [](RTS_RESULT*) { return reinterpret_cast<RTS_HANDLE>(g_trace.task); }),
    memtest::export_as("SysTaskGetInfo", task_info),
    {},
};

class MemPoolLockTrace : public ::testing::Test {
protected:
    void SetUp() override {
        g_trace = TraceLog{};
        SettgSetIntValue("CmpMemPool", "MemPoolLockTrace.Enable", 1, 10);
        SettgSetStringValue("CmpMemPool", "MemPoolLockTrace.MemPoolName", "Traced", 0);
        SettgSetIntValue("CmpMemPool", "MemPoolLockTrace.MaxLockTimeMs", 1, 10);
        ASSERT_EQ(memtest::start_with(kTraceServices), RES_OK);
        pool_ = MemPoolCreateDynamic("Test", 2, 16, nullptr);
        ASSERT_EQ(MemPoolLockTraceRegister(pool_, "Traced"), RES_OK);
        LogEarlyBufferClear();
    }
    void TearDown() override {
        MemPoolDelete(pool_, "Test");
        CMExit();
        for (const char* key :
             {"MemPoolLockTrace.Enable", "MemPoolLockTrace.MemPoolName", "MemPoolLockTrace.MaxLockTimeMs"})
            SettgRemoveKey("CmpMemPool", key);
    }
    RTS_HANDLE pool_ = RTS_INVALID_HANDLE;
};

TEST_F(MemPoolLockTrace, RegistersOnlyTheConfiguredPoolAndOnce) {
    EXPECT_EQ(g_trace.packet, "MemPoolLock: Traced 2000 65568");
    EXPECT_EQ(MemPoolLockTraceRegister(pool_, "Traced"), RES_OK);
    RTS_HANDLE other = MemPoolCreateDynamic("Test", 1, 16, nullptr);
    EXPECT_EQ(MemPoolLockTraceRegister(other, "Other"), RES_ALREADY);
    MemPoolDelete(other, "Test");
    CMExit();
    EXPECT_EQ(g_trace.deleted, 1) << "the packet ends at CH_EXIT3";
    ASSERT_EQ(memtest::start_with(kTraceServices), RES_OK);
    SettgSetIntValue("CmpMemPool", "MemPoolLockTrace.Enable", 0, 10);
    EXPECT_EQ(MemPoolLockTraceRegister(pool_, "Traced"), RES_ALREADY); // tracing is off
}

TEST_F(MemPoolLockTrace, SamplesDepthAndReportsLongHoldsAndStrayUnlocks) {
    ASSERT_EQ(MemPoolLock(pool_), RES_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(MemPoolUnlock(pool_), RES_OK);
    EXPECT_EQ(g_trace.records, std::vector<std::string>{"TestTask"});
    EXPECT_EQ(g_trace.samples, (std::vector<RTS_I32>{1, 2, 0})); // waiting, holding, released
    ASSERT_EQ(MemPoolLock(pool_), RES_OK);
    g_trace.task = 0x5678;
    ASSERT_EQ(MemPoolUnlock(pool_), RES_OK);
    const auto lines = testlog::entries();
    ASSERT_EQ(lines.size(), 2u);
    const std::string held = lines[0].InfoText;
    EXPECT_TRUE(held.rfind("MemPoolLockTrace Info: Semaphore was hold ", 0) == 0 &&
                held.find(" ms by thread TestTask") != std::string::npos)
        << held;
    EXPECT_EQ(lines[0].ClassId, LOG_DEBUG);
    EXPECT_STREQ(lines[1].InfoText, "MemPoolLockTrace: Unlock without previous lock");
    EXPECT_EQ(lines[1].ClassId, LOG_ERROR);
}

// A block listed in another pool's used list goes back to its own pool under that pool's lock.
TEST_F(MemPoolLockTrace, ReleaseFromAnotherListLocksTheBlocksPool) {
    RTS_HANDLE list = MemPoolCreateDynamic("Test", 1, 16, nullptr);
    void* block = MemPoolGetBlock(pool_, nullptr);
    ASSERT_EQ(MemPoolAppendUsedBlockToPool(block, list), RES_OK);
    g_trace.samples.clear();
    ASSERT_EQ(MemPoolReleaseBlocks(list, 0, nullptr), RES_OK);
    EXPECT_EQ(g_trace.samples, (std::vector<RTS_I32>{1, 2, 0}));
    EXPECT_EQ(memtest::free_list(pool_).front(), block);
    MemPoolDelete(list, "Test");
}

} // namespace
