// The lock trace of one pool, with a test component standing in for the trace manager and the
// task service: the packet of the configured pool, the depth samples of lock and unlock, the
// long-hold and unbalanced-unlock log lines, and the packet's end at shut-down.
#include <chrono>
#include <string>
#include <thread>

#include "cmpsettings.h"
#include "memory_fixture.h"
#include "log_reader.h"
#include "scratch_settings.h"

namespace {

struct TraceLog {
    std::string packet; // name, buffer size and flags
    std::vector<std::string> records;
    std::vector<RTS_I32> samples;
    int deleted = 0;
    RTS_UINTPTR task = 1;
} g_trace;

// The trace manager and task service, writing to g_trace.
struct StandIn {
    static RTS_HANDLE packet_create(const char* name, RTS_UI32 size, RTS_UI32 flags, RTS_RESULT*) {
        g_trace.packet = std::string(name) + " " + std::to_string(size) + " " + std::to_string(flags);
        return &g_trace;
    }
    static RTS_RESULT packet_delete(RTS_HANDLE) { return ++g_trace.deleted, RES_OK; }
    static RTS_RESULT packet_state(RTS_HANDLE packet, RTS_UI32* pState) {
        return *pState = MEM_POOL_TRACE_RECORDING, packet == &g_trace ? RES_OK : RES_FAILED;
    }
    static RTS_HANDLE record_add(RTS_HANDLE, const char* name, RTS_RESULT*) {
        return &g_trace.records.emplace_back(name);
    }
    static RTS_RESULT record_update(RTS_HANDLE, RTS_HANDLE, RTS_I32 depth) {
        return g_trace.samples.push_back(depth), RES_OK;
    }
    static RTS_HANDLE task_current(RTS_RESULT*) { return reinterpret_cast<RTS_HANDLE>(g_trace.task); }
    static RTS_RESULT task_info(RTS_HANDLE task, const char** ppName) {
        return *ppName = task == reinterpret_cast<RTS_HANDLE>(1) ? "TestTask" : "OtherTask", RES_OK;
    }
};
const CMExportEntry kTraceServices[] = {
    memtest::export_as("TraceMgrPacketCreate", StandIn::packet_create),
    memtest::export_as("TraceMgrPacketDelete", StandIn::packet_delete),
    memtest::export_as("TraceMgrPacketGetState", StandIn::packet_state),
    memtest::export_as("TraceMgrRecordAdd", StandIn::record_add),
    memtest::export_as("TraceMgrRecordUpdate3", StandIn::record_update),
    memtest::export_as("SysTaskGetCurrent", StandIn::task_current),
    memtest::export_as("SysTaskGetInfo", StandIn::task_info),
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
        testlog::clear();
    }
    void TearDown() override {
        MemPoolDelete(pool_, "Test");
        CMExit();
        EXPECT_EQ(g_trace.deleted, 1); // the packet ends with the component
        for (const char* key : {"Enable", "MemPoolName", "MaxLockTimeMs"})
            SettgRemoveKey("CmpMemPool", (std::string("MemPoolLockTrace.") + key).c_str());
    }
    testfw::ScratchSettings settings_;
    RTS_HANDLE pool_ = RTS_INVALID_HANDLE;
};

TEST_F(MemPoolLockTrace, SamplesDepthAndReportsLongHoldsAndStrayUnlocks) {
    EXPECT_EQ(g_trace.packet, "MemPoolLock: Traced 2000 65568");
    ASSERT_EQ(MemPoolLock(pool_), RES_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(MemPoolUnlock(pool_), RES_OK);
    EXPECT_EQ(g_trace.records, std::vector<std::string>{"TestTask"});
    EXPECT_EQ(g_trace.samples, (std::vector<RTS_I32>{1, 2, 0})); // waiting, holding, released
    ASSERT_EQ(MemPoolLock(pool_), RES_OK);
    g_trace.task = 2;
    ASSERT_EQ(MemPoolUnlock(pool_), RES_OK);
    const auto lines = testlog::entries();
    ASSERT_EQ(lines.size(), 2u);
    const std::string held = lines[0].InfoText;
    const std::string prefix = "MemPoolLockTrace Info: Semaphore was hold ";
    const int ms = held.rfind(prefix, 0) == 0 ? std::stoi(held.substr(prefix.size())) : -1;
    EXPECT_TRUE(ms >= 20 && ms < 60000 && held.find(" ms by thread TestTask") != std::string::npos) << held;
    EXPECT_EQ(std::pair(lines[0].ClassId, lines[1].ClassId), std::pair(LOG_DEBUG, LOG_ERROR));
    EXPECT_STREQ(lines[1].InfoText, "MemPoolLockTrace: Unlock without previous lock");
}

} // namespace
