// Log files and the loggers' configuration, through the program's own component list: loggers
// set up by the settings at start-up, their files named, headed and rotated on disk.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "framework_fixture.h"
#include "log_test_logger.h"
#include "cmpsettings.h"

namespace fs = std::filesystem;

namespace {

constexpr RTS_UI32 kFileBackend = 0x104;
constexpr const char* kAlways = "0x2504"; // the default type, dumped after every entry

using Keys = std::vector<std::pair<std::string, std::string>>;

// The logging component's settings for one test, and a directory of its own for the files.
class LogFiles : public ::testing::Test {
protected:
    void set(const Keys& keys) {
        for (const auto& [key, value] : keys) {
            SettgSetStringValue("CmpLog", key.c_str(), value.c_str(), 0);
            keys_.push_back(key);
        }
    }
    void start(const Keys& keys) {
        set(keys);
        ASSERT_EQ(CMInit2(nullptr, StaticComponentList, 1), RES_OK);
        started_ = true;
    }
    void stop() {
        if (started_) CMExit();
        started_ = false;
        for (const std::string& key : keys_) SettgRemoveKey("CmpLog", key.c_str());
        keys_.clear();
    }
    void TearDown() override {
        stop();
        fs::remove_all(dir_);
    }
    // The files of the directory, by name.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& f : fs::directory_iterator(dir_)) out.push_back(f.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    static void add(int count, int from = 0) {
        for (int i = from; i < from + count; ++i) LogAdd(nullptr, 0x7001, LOG_INFO, 0, 0, "entry %d", i);
    }
    // Short enough for a logger name that holds it (31 characters).
    const std::string dir_ = [] {
        static int count = 0;
        std::string d = "logfiles" + std::to_string(++count);
        fs::create_directories(d);
        return d;
    }();

private:
    std::vector<std::string> keys_;
    bool started_ = false;
};

// What the settings make of the loggers: the standard logger renamed and its ring resized within
// 1 to 100000 entries, a further logger created, a second number naming an existing logger
// setting that logger up again, from the keys of the first number with its name.
TEST_F(LogFiles, SettingsNameResizeAndCreateLoggers) {
    struct Row {
        Keys keys;
        const char* name;
        int entries, files, loggers;
    } rows[] = {
        {{{"Logger.0.Name", "Renamed"}, {"Logger.0.MaxEntries", "0"}}, "Renamed", 1, 3, 1},
        {{{"Logger.0.Name", "Std"},
          {"Logger.0.MaxEntries", "1000"},
          {"Logger.1.Name", "Std"},
          {"Logger.1.MaxFiles", "7"}},
         "Std",
         1000,
         3,
         1},
        {{{"Logger.0.Name", "Std"}, {"Logger.1.Name", "Big"}, {"Logger.1.MaxEntries", "1000000000"}},
         "Big",
         100000,
         3,
         2},
    };
    for (const Row& row : rows) {
        start(row.keys);
        RTS_HANDLE logger = LogOpen(row.name, nullptr);
        LogOptions* o = nullptr;
        ASSERT_EQ(LogGetOptions(logger, &o), RES_OK) << row.name;
        EXPECT_EQ(LogOpen("PlcLog", nullptr), LogGetFirstLogger(nullptr));
        EXPECT_EQ(o->MaxFiles, row.files);
        RTS_RESULT result = RES_OK;
        LogGetNextLogger(LogGetFirstLogger(nullptr), &result);
        EXPECT_EQ(result == RES_OK ? 2 : 1, row.loggers);
        for (int i = 0; i < row.entries + 5; ++i) LogAdd(logger, 0x7001, LOG_INFO, 0, 0, "entry %d", i);
        EXPECT_EQ(testlog::entries(logger).size(), static_cast<std::size_t>(row.entries)) << row.name;
        stop();
    }
}

// Settings read after start-up: the standard logger's filter at a settings change, and a backend
// class listed for it when an instance of that class is registered.
TEST_F(LogFiles, LaterSettingsReachTheStandardFilterAndNewInstances) {
    start({{"Logger.0.Name", dir_ + "/Late"}, {"Logger.0.Type", kAlways}});
    set({{"Logger.0.Filter", "0x1F"}, {"Logger.0.Backend.0.ClassId", "0x104"}});
    CMCallHook(CH_SETTINGS_CHANGED, 0, nullptr, 0);
    EXPECT_EQ(LogGetFilter(nullptr), 0x1Fu);
    void* instance = CMCreateInstance(kFileBackend);
    ASSERT_EQ(CMRegisterInstance(kFileBackend, 1, instance), RES_OK);
    add(1);
    EXPECT_TRUE(fs::exists(dir_ + "/Late.csv"));
    CMUnregisterInstance(instance);
    CMDeleteInstance2(kFileBackend, instance);
}

// The numbers of the "entry N" lines of a file, in order, and its longest header and line.
struct FileView {
    std::vector<int> numbers;
    std::size_t header = 0, longest = 0;
};

FileView view(const fs::path& file) {
    FileView v;
    std::ifstream in(file, std::ios::binary);
    std::smatch m;
    static const std::regex entry("entry (\\d+)\r$");
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with(";")) v.header += line.size() + 1;
        v.longest = std::max(v.longest, line.size() + 1);
        if (std::regex_search(line, m, entry)) v.numbers.push_back(std::stoi(m[1]));
    }
    return v;
}

TEST_F(LogFiles, RotationKeepsTwoNumberedBackupsInOrderAndTheNewestEntriesInTheFile) {
    start({{"Logger.0.Name", dir_ + "/StdLogger"},
           {"Logger.0.Type", kAlways},
           {"Logger.0.MaxFileSize", "10000"},
           {"Logger.0.MaxFiles", "2"},
           {"Logger.0.Backend.0.ClassId", "0x0000010B"},
           {"Logger.0.Backend.1.ClassId", "0x00000104"}});
    add(20000);
    EXPECT_EQ(names(), (std::vector<std::string>{"StdLogger.csv", "StdLogger_0.csv", "StdLogger_1.csv"}));
    FileView zero = view(dir_ + "/StdLogger_0.csv"), one = view(dir_ + "/StdLogger_1.csv"),
             current = view(dir_ + "/StdLogger.csv");
    ASSERT_FALSE(zero.numbers.empty() || one.numbers.empty() || current.numbers.empty());
    // The older backup, the newer one and the file hold one unbroken run up to the last entry.
    std::vector<int> run = zero.numbers.front() < one.numbers.front() ? zero.numbers : one.numbers;
    for (const FileView* v : {zero.numbers.front() < one.numbers.front() ? &one : &zero, &current})
        run.insert(run.end(), v->numbers.begin(), v->numbers.end());
    for (std::size_t i = 1; i < run.size(); ++i) ASSERT_EQ(run[i], run[i - 1] + 1) << i;
    EXPECT_EQ(run.back(), 19999);
    for (const std::string& name : names()) {
        const FileView v = view(dir_ + "/" + name);
        EXPECT_LE(fs::file_size(dir_ + "/" + name), 10000 + v.header + v.longest) << name;
    }
}

TEST_F(LogFiles, WithoutNumberedBackupsTheTimeStampedOnesAccumulate) {
    start({{"Logger.0.Name", dir_ + "/Stamped"},
           {"Logger.0.Type", kAlways},
           {"Logger.0.MaxFileSize", "600"},
           {"Logger.0.MaxFiles", "0"},
           {"Logger.0.Backend.0.ClassId", "0x104"}});
    static const std::regex stamped("Stamped_\\d{4}-\\d\\d-\\d\\d_\\d\\d\\.\\d\\d\\.\\d\\d\\.csv");
    auto backups = [&] {
        std::vector<std::string> n = names();
        return std::count_if(n.begin(), n.end(),
                             [](const std::string& s) { return std::regex_match(s, stamped); });
    };
    for (int second = 1; second <= 2; ++second) {
        for (int i = 0; i < 100 && backups() < second; ++i) add(1, i);
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    }
    EXPECT_EQ(backups(), 2);
    EXPECT_EQ(names().size(), 3u);
}

// Where a logger's file goes, by its Path and Name; entries of a logger whose file cannot be
// made stay in its ring.
TEST_F(LogFiles, FileNameFollowsPathAndNameAndAMissingDirectoryKeepsEntriesInTheRing) {
    start({});
    struct Row {
        const char* path;
        const char* name;
        const char* file; // "" : none can be made
    } rows[] = {
        {"/x", "y.txt", "/x/y.txt"},
        {"/x/", "app", "/x/app.csv"},
        {nullptr, "/app", "/app.csv"},
        {nullptr, "/v1.2/log", "/v1.2/log.csv"},
        {"/none", "z", ""},
    };
    fs::create_directories(dir_ + "/x");
    fs::create_directories(dir_ + "/v1.2");
    for (const Row& row : rows) {
        const std::string path = row.path != nullptr ? dir_ + row.path : "";
        LogOptions o{"", 1, LOG_DEFAULT_TYPE | LOG_DUMP_ALWAYS, 0xFFFFFFFF, 10, 0, 0, nullptr};
        CMUtlSafeStrCpy(o.Name, sizeof o.Name, row.path != nullptr ? row.name : (dir_ + row.name).c_str());
        o.Path = row.path != nullptr ? const_cast<char*>(path.c_str()) : nullptr;
        RTS_HANDLE logger = LogCreate(&o, nullptr);
        ASSERT_EQ(LogRegisterBackend(logger, kFileBackend), RES_OK);
        EXPECT_EQ(LogAdd(logger, 0x7001, LOG_INFO, 0, 0, "kept"), RES_OK);
        EXPECT_EQ(testlogger::texts(logger).back(), "kept");
        if (*row.file != '\0') {
            EXPECT_TRUE(fs::exists(dir_ + row.file)) << row.file;
        }
    }
    EXPECT_FALSE(fs::exists(dir_ + "/none"));
}

} // namespace
