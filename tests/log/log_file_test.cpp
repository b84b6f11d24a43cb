// Log files and the loggers the settings make, through the program's own component list. The
// LoggerSettings tests check the loggers in process. The LogProcess tests are the program's side
// of the process-level tests (tests/e2e/test_logfile.py): with GC_LOG_PROCESS set, each runs as a
// process of its own and writes log files or the shared-memory log through loggers the settings
// configure, or reads that log as another process would; Python checks what they wrote. Without
// the variable they are skipped.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>
#include <tuple>

#include "cmpsettings.h"
#include "framework_fixture.h"
#include "sysshm.h"

namespace {

constexpr RTS_UI32 kFileBackend = 0x104;

// Sets the logging component's settings written as "key=value key=value ...".
void set_settings(const std::string& text) {
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        std::string key = word.substr(0, word.find('='));
        SettgSetStringValue("CmpLog", key.c_str(), word.substr(word.find('=') + 1).c_str(), 0);
    }
}

// Starts the framework on a scratch configuration file that holds the settings, sets the later
// ones, runs the check and stops the framework.
template <typename F> void with_settings(const std::string& settings, const std::string& later, F check) {
    testfw::ScratchSettings scratch;
    set_settings(settings);
    ASSERT_EQ(CMInit2(scratch.path().c_str(), StaticComponentList, 1), RES_OK);
    set_settings(later);
    check();
    CMExit();
}

// The standard logger renamed and its ring resized within 1 to 100000 entries, a further logger
// created, and a second number naming an existing logger setting it up again.
TEST(LoggerSettings, NameResizeAndCreateLoggers) {
    for (auto [settings, name, entries, loggers] :
         {std::tuple{"Logger.0.Name=Renamed Logger.0.MaxEntries=0", "Renamed", 1, 1},
          {"Logger.0.Name=Std Logger.0.MaxEntries=1000 Logger.1.Name=Std", "Std", 1000, 1},
          {"Logger.0.Name=Std Logger.1.Name=Big Logger.1.MaxEntries=1000000000", "Big", 100000, 2}})
        with_settings(settings, "", [name = name, entries = entries, loggers = loggers] {
            RTS_HANDLE logger = LogOpen(name, nullptr);
            EXPECT_EQ(LogGetNextLogger(nullptr, nullptr) != RTS_INVALID_HANDLE ? 2 : 1, loggers) << name;
            for (int i = 0; i < entries + 5; ++i) LogAdd(logger, 0x7001, LOG_INFO, 0, 0, "entry %d", i);
            EXPECT_EQ(testlog::entries(logger).size(), static_cast<std::size_t>(entries)) << name;
        });
}

// The standard logger's filter follows a settings change; a backend class listed for it is
// registered when an instance of that class is.
TEST(LoggerSettings, LaterSettingsReachTheStandardFilterAndNewInstances) {
    with_settings("Logger.0.Name=./Late Logger.0.Type=0x2504",
                  "Logger.0.Filter=0x1F Logger.0.Backend.0.ClassId=0x104", [] {
                      CMCallHook(CH_SETTINGS_CHANGED, 0, nullptr, 0);
                      EXPECT_EQ(LogGetFilter(nullptr), 0x1Fu);
                      void* instance = CMCreateInstance(kFileBackend);
                      ASSERT_EQ(CMRegisterInstance(kFileBackend, 1, instance), RES_OK);
                      CMUnregisterInstance(instance);
                      CMDeleteInstance2(kFileBackend, instance);
                      EXPECT_TRUE(std::filesystem::remove("Late.csv")); // the logger had made it
                  });
}

class LogProcess : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("GC_LOG_PROCESS") == nullptr) GTEST_SKIP() << "run by tests/e2e/test_logfile.py";
    }
    static void add(const char* logger, int from, int to) {
        for (int i = from; i < to; ++i)
            LogAdd(LogOpen(logger, nullptr), 0x7001, LOG_INFO, 0, 0, "entry %d", i);
    }
    static void wait_for_input() {
        std::puts("ready");
        std::fflush(stdout);
        for (int c = std::getchar(); c != EOF && c != '\n';) c = std::getchar();
    }
};

// In the working directory: FormatLog.csv and ShortLog.csv with an entry of every class, the
// standard logger as StdLogger.csv rotated under 20000 entries, Stamped.csv rotated in two
// different seconds, Pick.csv rotated once through three numbered backups that exist already, and files named
// by the loggers' names and paths (none in a directory that does not exist, whose logger keeps its entries in
// its ring).
TEST_F(LogProcess, WritesFiles) {
    for (const char* directory : {"sub", "v1.2"}) std::filesystem::create_directories(directory);
    with_settings(
        "Logger.0.Name=./StdLogger Logger.0.Type=0x2504 Logger.0.MaxFileSize=10000 Logger.0.MaxFiles=2 "
        "Logger.0.Backend.0.ClassId=0x0000010B Logger.0.Backend.1.ClassId=0x00000104 "
        "Logger.1.Name=./FormatLog Logger.1.Type=0x2504 Logger.1.Filter=0xFFFFFFFF "
        "Logger.1.Backend.0.ClassId=0x104 "
        "Logger.2.Name=./ShortLog Logger.2.Type=0x6504 Logger.2.Filter=0xFFFFFFFF "
        "Logger.2.Backend.0.ClassId=0x104 "
        "Logger.3.Name=./Stamped Logger.3.Type=0x2504 Logger.3.MaxFileSize=2000 Logger.3.MaxFiles=0 "
        "Logger.3.Backend.0.ClassId=0x104 Logger.4.Name=./v1.2/log Logger.4.Backend.0.ClassId=0x104 "
        "Logger.5.Name=./Pick Logger.5.Type=0x2504 Logger.5.MaxFileSize=2000 "
        "Logger.5.Backend.0.ClassId=0x104",
        "", [] {
            for (auto [path, name] : {std::pair{"sub", "y.txt"}, {"sub/", "app"}, {"none", "z"}}) {
                LogOptions o{"", 1, LOG_DEFAULT_TYPE, LOG_DEFAULT_FILTER, 10, 0, 0, const_cast<char*>(path)};
                std::snprintf(o.Name, sizeof o.Name, "%s", name);
                RTS_HANDLE logger = LogCreate(&o, nullptr);
                LogRegisterBackend(logger, kFileBackend);
                EXPECT_EQ(LogAdd(logger, 0x7001, LOG_INFO, 0, 0, "kept"), RES_OK); // in the ring, file or not
            }
            for (const char* name : {"./FormatLog", "./ShortLog"})
                for (RTS_UI32 c :
                     {LOG_INFO, LOG_WARNING, LOG_ERROR, LOG_EXCEPTION, LOG_DEBUG, LOG_PRINTF, LOG_COM})
                    LogAdd(LogOpen(name, nullptr), 0x7001, c, 7, 9, "class %u entry", c);
            add("./StdLogger", 0, 20000);
            add("./Pick", 0, 20);
            add("./Stamped", 0, 20);
            std::this_thread::sleep_for(std::chrono::milliseconds(1100));
            add("./Stamped", 20, 40);
        });
}

// Ten lines into the shared-memory log; after a line on the standard input, three hundred
// more, which wrap round the block.
TEST_F(LogProcess, WritesSharedLog) {
    with_settings("Logger.0.Name=ShmWriter Logger.0.Type=0x2504 Logger.0.MaxEntries=100 "
                  "Logger.0.Backend.0.ClassId=0x110",
                  "", [] {
                      add("ShmWriter", 0, 10);
                      wait_for_input();
                      add("ShmWriter", 10, 310);
                      wait_for_input();
                  });
}

// The whole shared-memory log block of 100 entries, in hexadecimal.
TEST_F(LogProcess, ReadsSharedLog) {
    with_settings("", "", [] {
        RTS_SIZE size = 100 * sizeof(LogEntry);
        RTS_HANDLE block = SysSharedMemoryOpen("ShmLog", 0, &size, nullptr);
        ASSERT_NE(block, RTS_INVALID_HANDLE);
        const auto* bytes = static_cast<const unsigned char*>(SysSharedMemoryGetPointer(block, nullptr));
        for (RTS_SIZE i = 0; i < size; ++i) std::printf("%02x", bytes[i]);
        std::puts("");
        SysSharedMemoryClose(block);
    });
}

} // namespace
