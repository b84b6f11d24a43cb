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
RTS_RESULT packet_delete(RTS_HANDLE) {
    ++g_trace.deleted;
    return RES_OK;
}
RTS_RESULT packet_get_state(RTS_HANDLE, RTS_UI32* pState) {
    *pState = MEM_POOL_TRACE_RECORDING;
    return RES_OK;
}
RTS_HANDLE record_add(RTS_HANDLE, const char* name, RTS_RESULT*) {
    g_trace.records.emplace_back(name);
    return reinterpret_cast<RTS_HANDLE>(g_trace.records.size());
}
RTS_RESULT record_update3(RTS_HANDLE, RTS_HANDLE, RTS_I32 value) {
    g_trace.samples.push_back(value);
    return RES_OK;
}
RTS_HANDLE task_current(RTS_RESULT*) {
    return reinterpret_cast<RTS_HANDLE>(g_trace.task);
}
RTS_RESULT task_info(RTS_HANDLE task, const char** ppName) {
    *ppName = reinterpret_cast<RTS_UINTPTR>(task) == 0x1234 ? "TestTask" : "OtherTask";
    return RES_OK;
}

#define TRACE_EXPORT(f, name)                                                                                \
    { reinterpret_cast<RTS_VOID_FCTPTR>(f), name, 0, 0 }
const CMExportEntry kTraceServices[] = {
    TRACE_EXPORT(packet_create, "TraceMgrPacketCreate"),
    TRACE_EXPORT(packet_delete, "TraceMgrPacketDelete"),
    TRACE_EXPORT(packet_get_state, "TraceMgrPacketGetState"),
    TRACE_EXPORT(record_add, "TraceMgrRecordAdd"),
    TRACE_EXPORT(record_update3, "TraceMgrRecordUpdate3"),
    TRACE_EXPORT(task_current, "SysTaskGetCurrent"),
    TRACE_EXPORT(task_info, "SysTaskGetInfo"),
    {nullptr, nullptr, 0, 0},
};

class MemPoolLockTrace : public ::testing::Test {
protected:
    void SetUp() override {
        testcmp::reset();
        g_trace = TraceLog{};
        testcmp::slot(0).exports = kTraceServices;
        SettgSetIntValue("CmpMemPool", "MemPoolLockTrace.Enable", 1, 10);
        SettgSetStringValue("CmpMemPool", "MemPoolLockTrace.MemPoolName", "Traced", 0);
        SettgSetIntValue("CmpMemPool", "MemPoolLockTrace.MaxLockTimeMs", 1, 10);
        ASSERT_EQ(CMInit2(nullptr, list_, 1), RES_OK);
        pool_ = MemPoolCreateDynamic("Test", 2, 16, nullptr);
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
    // A system component, so the pools find the services when they import at CH_INIT_SYSTEM.
    const StaticComponent list_[2] = {{"TestTraceServices", testcmp::entry(0), 1}, {nullptr, nullptr, 0}};
};

TEST_F(MemPoolLockTrace, RegistersOnlyTheConfiguredPoolAndOnce) {
    EXPECT_EQ(MemPoolLockTraceRegister(pool_, "Other"), RES_ALREADY);
    EXPECT_TRUE(g_trace.packet.empty());
    ASSERT_EQ(MemPoolLockTraceRegister(pool_, "Traced"), RES_OK);
    EXPECT_EQ(g_trace.packet, "MemPoolLock: Traced 2000 65568");
    EXPECT_EQ(MemPoolLockTraceRegister(pool_, "Traced"), RES_OK);
    CMExit();
    EXPECT_EQ(g_trace.deleted, 1) << "the packet ends at CH_EXIT3";
    ASSERT_EQ(CMInit2(nullptr, list_, 1), RES_OK);
}

TEST_F(MemPoolLockTrace, SamplesDepthAndReportsLongHolds) {
    ASSERT_EQ(MemPoolLockTraceRegister(pool_, "Traced"), RES_OK);
    ASSERT_EQ(MemPoolLock(pool_), RES_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(MemPoolUnlock(pool_), RES_OK);
    EXPECT_EQ(g_trace.records, std::vector<std::string>{"TestTask"});
    EXPECT_EQ(g_trace.samples, (std::vector<RTS_I32>{1, 2, 0})); // waiting, holding, released
    auto lines = testlog::entries();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(std::string(lines[0].InfoText).rfind("MemPoolLockTrace Info: Semaphore was hold ", 0), 0u);
    EXPECT_NE(std::string(lines[0].InfoText).find(" ms by thread TestTask"), std::string::npos);
    EXPECT_EQ(lines[0].ClassId, LOG_DEBUG);
}

TEST_F(MemPoolLockTrace, UnlockByAnUnknownTaskIsReported) {
    ASSERT_EQ(MemPoolLockTraceRegister(pool_, "Traced"), RES_OK);
    ASSERT_EQ(MemPoolLock(pool_), RES_OK);
    LogEarlyBufferClear();
    g_trace.task = 0x5678;
    ASSERT_EQ(MemPoolUnlock(pool_), RES_OK);
    auto lines = testlog::entries();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_STREQ(lines[0].InfoText, "MemPoolLockTrace: Unlock without previous lock");
    EXPECT_EQ(lines[0].ClassId, LOG_ERROR);
}

// A block listed in another pool's used list goes back to its own pool under that pool's lock.
TEST_F(MemPoolLockTrace, ReleaseFromAnotherListLocksTheBlocksPool) {
    ASSERT_EQ(MemPoolLockTraceRegister(pool_, "Traced"), RES_OK);
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
