// The program's side of the process-level log tests (tests/e2e/test_logfile.py): with
// GC_LOG_PROCESS set, each of these runs as a process of its own, writes log files or the
// shared-memory log through configured loggers, or reads that log as another process would.
// What they write is checked from outside; without the variable they are skipped.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cmpsettings.h"
#include "framework_fixture.h"
#include "sysshm.h"

namespace {

constexpr RTS_UI32 kClasses[] = {LOG_INFO,  LOG_WARNING, LOG_ERROR, LOG_EXCEPTION,
                                 LOG_DEBUG, LOG_PRINTF,  LOG_COM};
constexpr RTS_UI32 kCmpId = 0x7001;
constexpr RTS_SIZE kShmLogSize = 100 * sizeof(LogEntry); // Logger.0.MaxEntries 100

class LogProcess : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("GC_LOG_PROCESS") == nullptr) GTEST_SKIP() << "run by tests/e2e/test_logfile.py";
    }
    void start(std::initializer_list<std::pair<const char*, const char*>> keys) {
        for (const auto& [key, value] : keys) SettgSetStringValue("CmpLog", key, value, 0);
        ASSERT_EQ(CMInit2(nullptr, StaticComponentList, 1), RES_OK);
    }
    static void wait_for_input() {
        std::puts("ready");
        std::fflush(stdout);
        for (int c = std::getchar(); c != EOF && c != '\n';) c = std::getchar();
    }
};

// FormatLog.csv with every class, and ShortLog.csv the same in the short format, in the
// working directory.
TEST_F(LogProcess, WritesFiles) {
    start({{"Logger.0.Name", "PlcLog"},
           {"Logger.1.Name", "./FormatLog"},
           {"Logger.1.Type", "0x2504"},
           {"Logger.1.Filter", "0xFFFFFFFF"},
           {"Logger.1.Backend.0.ClassId", "0x104"},
           {"Logger.2.Name", "./ShortLog"},
           {"Logger.2.Type", "0x6504"},
           {"Logger.2.Filter", "0xFFFFFFFF"},
           {"Logger.2.Backend.0.ClassId", "0x104"}});
    for (const char* name : {"./FormatLog", "./ShortLog"}) {
        RTS_HANDLE logger = LogOpen(name, nullptr);
        for (RTS_UI32 c : kClasses) EXPECT_EQ(LogAdd(logger, kCmpId, c, 7, 9, "class %u entry", c), RES_OK);
    }
    CMExit();
}

// Ten lines into the shared-memory log; after a line on the standard input, three hundred
// more, which wrap round the block.
TEST_F(LogProcess, WritesSharedLog) {
    start({{"Logger.0.Name", "ShmWriter"},
           {"Logger.0.Type", "0x2504"},
           {"Logger.0.MaxEntries", "100"},
           {"Logger.0.Backend.0.ClassId", "0x110"}});
    for (int i = 0; i < 10; ++i) LogAdd(nullptr, kCmpId, LOG_INFO, 0, 0, "entry %d", i);
    wait_for_input();
    for (int i = 10; i < 310; ++i) LogAdd(nullptr, kCmpId, LOG_INFO, 0, 0, "entry %d", i);
    wait_for_input();
    CMExit();
}

// The whole shared-memory log block, in hexadecimal.
TEST_F(LogProcess, ReadsSharedLog) {
    start({});
    RTS_SIZE size = kShmLogSize;
    RTS_RESULT result = RES_FAILED;
    RTS_HANDLE block = SysSharedMemoryOpen("ShmLog", 0, &size, &result);
    ASSERT_NE(block, RTS_INVALID_HANDLE) << result;
    const auto* bytes = static_cast<const unsigned char*>(SysSharedMemoryGetPointer(block, nullptr));
    for (RTS_SIZE i = 0; i < size; ++i) std::printf("%02x", bytes[i]);
    std::puts("");
    SysSharedMemoryClose(block);
    CMExit();
}

} // namespace
