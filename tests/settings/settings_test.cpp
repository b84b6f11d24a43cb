// Settings kept in real configuration files: how values are parsed and written, which of several
// files answers and which one a new key goes into, refused and protected writes, wide values,
// update brackets and re-reads, the files the manager looks for at start-up, and two threads
// writing at once. Each test runs in a directory of its own, which is also the working directory.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <tuple>

#include "cm.h"
#include "cmpsettings.h"
#include "cmutils.h"
#include "ipc_support.h"
#include "log_reader.h"
#include "sysfile.h"
#include "sysfilepath.h"

namespace {

extern "C" RTS_RESULT SysFile__Entry(ComponentInitRecord* pInit);

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = fs::current_path();
        dir_ = fs::temp_directory_path() / ipctest::unique_name("gc_settg_");
        fs::create_directories(dir_);
        fs::current_path(dir_);
        ASSERT_EQ(CMInit2(nullptr, StaticComponentList, 1), RES_OK);
        testlog::clear();
    }
    void TearDown() override {
        if (CMGetNumOfComponents() > 0) CMExit();
        fs::current_path(home_);
        fs::remove_all(dir_);
    }
    static void put(const std::string& name, const std::string& text) {
        std::ofstream(name, std::ios::binary) << text;
    }
    static std::string get(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static std::string text(const char* component, const char* key) {
        char buffer[512];
        RTS_I32 length = sizeof buffer;
        return SettgGetStringValue(component, key, buffer, &length, "<none>", 0) == RES_OK ? buffer
                                                                                           : "<none>";
    }
    // The file component's configuration read anew from the master file given.
    static void configure_files(const std::string& text) {
        put("m.cfg", text);
        ASSERT_EQ(SettgSetDatabaseName("m"), RES_OK);
        ComponentInitRecord files{};
        ASSERT_EQ(SysFile__Entry(&files), RES_OK);
        ASSERT_EQ(files.hookFunction(CH_INIT, 0, 0), RES_OK);
    }
    fs::path home_, dir_;
};

TEST_F(Settings, IntegersParseAsStoredAndWriteInTheirBase) {
    put("m.cfg", "[S]\r\nhex=0x1A\r\nneg=  -7\r\nword=abc\r\nbig=4294967295\r\nsmall=-4294967295\r\n"
                 "long=" +
                     std::string(50, '1') +
                     "\r\nmixed=12 0x5\r\nquoted=\"42\" ; c\r\nneghex=-0x1\r\n"
                     "widehex=0x1FFFFFFFF\r\n");
    ASSERT_EQ(SettgSetDatabaseName("m"), RES_OK);
    const std::tuple<const char*, RTS_I32, RTS_RESULT> reads[] = {
        {"hex", 26, RES_OK},        {"neg", -7, RES_OK},          {"word", 0, RES_OK},
        {"big", INT32_MAX, RES_OK}, {"small", INT32_MIN, RES_OK}, {"long", 99, RES_FAILED},
        {"mixed", 0x12, RES_OK},    {"quoted", 42, RES_OK},       {"neghex", -1, RES_OK},
        {"widehex", -1, RES_OK},    {"missing", 99, RES_FAILED},
    };
    for (const auto& [key, value, result] : reads) {
        RTS_I32 read = 0;
        EXPECT_EQ(SettgGetIntValue("s", key, &read, 99, 0), result) << key;
        EXPECT_EQ(read, value) << key;
    }
    const std::tuple<RTS_I32, int, const char*> writes[] = {
        {255, 16, "0xFF"}, {254, 8, "254"}, {-5, 10, "-5"}, {5, 2, "101"}, {-1, 16, "0xFFFFFFFF"}};
    for (const auto& [value, base, stored] : writes) {
        EXPECT_EQ(SettgSetIntValue("S", "w", value, base), RES_OK);
        EXPECT_EQ(text("S", "w"), stored);
    }
    const std::string file = get("m.cfg");
    EXPECT_EQ(file.substr(file.size() - 35), "widehex=0x1FFFFFFFF\r\nw=0xFFFFFFFF\r\n");
}

// The master file first; a referenced file answers only for the sections its entry lists.
TEST_F(Settings, ReferencedFilesAnswerInListOrderWithinTheirSections) {
    put("m.cfg", "[CmpSettings]\r\nFileReference.1=ref.cfg, A,\tB\r\nFileReference.3=never.cfg\r\n\r\n"
                 "[A]\r\nk=master\r\n");
    put("ref.cfg", "[A]\r\nk=ref\r\nonly=ref\r\n\r\n[C]\r\nk=refC\r\n");
    ASSERT_EQ(SettgSetDatabaseName("m.cfg"), RES_OK);
    EXPECT_EQ((Strings{text("A", "k"), text("A", "only"), text("C", "k")}),
              (Strings{"master", "ref", "<none>"}));
    EXPECT_FALSE(fs::exists("never.cfg"));
    const std::string ref = get("ref.cfg");
    EXPECT_EQ(ref, "[A]\r\nk=ref\r\nonly=ref\r\n\r\n[C]\r\nk=refC\r\n\r\n[B]\r\n");
    EXPECT_EQ(SettgSetStringValue("A", "k", "new", 0), RES_OK);
    EXPECT_EQ(SettgSetStringValue("B", "x", "1", 0), RES_OK);    // the file that has the section
    EXPECT_EQ(SettgSetStringValue("C", "k", "mine", 0), RES_OK); // the only file that admits it
    EXPECT_EQ(get("ref.cfg"), "[A]\r\nk=ref\r\nonly=ref\r\n\r\n[C]\r\nk=refC\r\n\r\n[B]\r\nx=1\r\n");
    EXPECT_EQ(get("m.cfg"),
              "[CmpSettings]\r\nFileReference.1=ref.cfg, A,\tB\r\nFileReference.3=never.cfg\r\n\r\n"
              "[A]\r\nk=new\r\n\r\n[C]\r\nk=mine\r\n");
}

TEST_F(Settings, StringReadsCutAndRefusedOrProtectedWritesChangeNothing) {
    put("m.cfg", "[S]\r\ns=abcdef\r\n");
    ASSERT_EQ(SettgSetDatabaseName("m"), RES_OK);
    char buffer[4];
    RTS_I32 length = 0;
    EXPECT_EQ(SettgGetStringValue("S", "s", nullptr, &length, nullptr, 0), RES_OK);
    EXPECT_EQ(length, 7);
    const std::tuple<const char*, const char*, RTS_RESULT, const char*, RTS_I32> reads[] = {
        {"s", nullptr, RES_BUFFERSIZE, "abc", 3},
        {"x", "xyz12", RES_BUFFERSIZE, "xyz", 3},
        {"x", "xy", RES_FAILED, "xy", 2},
        {"x", nullptr, RES_FAILED, "", 0},
    };
    for (const auto& [key, fallback, result, value, size] : reads) {
        length = sizeof buffer;
        EXPECT_EQ(SettgGetStringValue("S", key, buffer, &length, fallback, 0), result) << key;
        EXPECT_EQ((std::pair{std::string(buffer), length}), (std::pair{std::string(value), size})) << key;
    }
    EXPECT_EQ(SettgSetStringValue("S", "s", "a]", 0), RES_NOTSUPPORTED);
    EXPECT_EQ(SettgSetStringValue("S", "s", "a\tb", 1), RES_OK); // the tab lies beyond the length
    EXPECT_EQ(SettgSetStringValue("S", "s", "a\tb", 0), RES_NOTSUPPORTED);
    EXPECT_EQ(SettgSetIntValue("CmpSettings", "IsWriteProtected", 1, 10), RES_OK);
    ASSERT_EQ(SettgSetDatabaseName("m"), RES_OK); // read anew: now protected
    const std::string before = get("m.cfg");
    EXPECT_EQ(SettgSetStringValue("S", "s", "a", 0), RES_OK); // unchanged: nothing to write
    EXPECT_EQ(SettgSetStringValue("S", "s", "b", 0), RES_NO_ACCESS);
    EXPECT_EQ(SettgSetStringValue("T", "new", "b", 0), RES_NO_ACCESS);
    EXPECT_EQ(SettgRemoveKey("S", "s"), RES_NO_ACCESS);
    EXPECT_EQ(SettgClearComponent("S"), RES_NO_ACCESS);
    EXPECT_EQ(SettgClearComponent("T"), RES_NO_OBJECT);
    EXPECT_EQ(get("m.cfg"), before);
    EXPECT_EQ(text("S", "s"), "a");
}

TEST_F(Settings, WideValuesRoundTripThroughTheirEscapedText) {
    put("m.cfg", "[S]\r\nbad=\\00\\d8\r\n");
    ASSERT_EQ(SettgSetDatabaseName("m"), RES_OK);
    const std::pair<std::u16string, const char*> rows[] = {
        {u"Ab", "A\\00b\\00"}, {u"\u00e9", "\\e9\\00"}, {u"\U0001F600!", "\\3d\\d8\\00\\de!\\00"}};
    for (const auto& [value, stored] : rows) {
        EXPECT_EQ(SettgSetWStringValue("S", "w", value.c_str(), 0), RES_OK);
        EXPECT_EQ(text("S", "w"), stored);
        RTS_WCHAR buffer[8];
        RTS_I32 length = 8;
        EXPECT_EQ(SettgGetWStringValue("S", "w", buffer, &length, nullptr, 0), RES_OK);
        EXPECT_EQ(std::u16string(buffer, static_cast<size_t>(length)), value);
    }
    const RTS_WCHAR lone[] = {0xD800, u'x', 0};
    EXPECT_EQ(SettgSetWStringValue("S", "w", lone, 0), RES_INVALID_ENCODING);
    RTS_WCHAR buffer[4];
    RTS_I32 length = 4;
    EXPECT_EQ(SettgGetWStringValue("S", "bad", buffer, &length, u"d", 0), RES_FAILED);
    EXPECT_EQ(std::u16string(buffer), u"d");
    Strings logged;
    for (const LogEntry& e : testlog::entries())
        if (e.CmpId == 0x1A) logged.push_back(e.InfoText);
    EXPECT_EQ(logged, (Strings{"Invalid UFT-16 character for S setting w",
                               "Invalid UTF-16 character in S setting bad"}));
}

// Writes inside brackets reach the file at the last close; a re-read takes the file's text only
// outside brackets.
TEST_F(Settings, BracketsHoldBackWritesAndReReads) {
    put("m.cfg", "[S]\r\n");
    ASSERT_EQ(SettgSetDatabaseName("m"), RES_OK);
    EXPECT_EQ(SettgBeginUpdate(), RES_OK);
    EXPECT_EQ(SettgSetIntValue("S", "a", 1, 10), RES_OK);
    EXPECT_EQ(SettgBeginUpdate(), RES_OK);
    EXPECT_EQ(SettgSetIntValue("S", "b", 2, 10), RES_OK);
    put("m.cfg", "[S]\r\nc=3\r\n");
    RTS_I32 c = 0;
    EXPECT_EQ(SettgGetIntValue("S", "c", &c, 0, 1), RES_FAILED);
    EXPECT_EQ(SettgEndUpdate(), RES_PENDING);
    EXPECT_EQ(get("m.cfg"), "[S]\r\nc=3\r\n");
    EXPECT_EQ(SettgEndUpdate(), RES_OK);
    EXPECT_EQ(SettgEndUpdate(), RES_NOTINITIALIZED);
    EXPECT_EQ(get("m.cfg"), "[S]\r\na=1\r\nb=2\r\n");
    put("m.cfg", "[S]\r\nc=3\r\n");
    EXPECT_EQ(SettgGetIntValue("S", "c", &c, 0, 1), RES_OK);
    EXPECT_EQ(c, 3);
    fs::remove("m.cfg");
    EXPECT_EQ(SettgGetIntValue("S", "c", &c, 0, 1), RES_NO_OBJECT);
}

// A writer process killed at random moments: the file always reads back with one whole value.
TEST_F(Settings, KilledWriterLeavesOneWholeValue) {
    put("k.cfg", "[S]\r\nV=a\r\n; kept\r\n");
    std::mt19937 random(5);
    for (int kill = 0; kill < 50; ++kill) {
        ipctest::Probe writer({"rewrite-setting", (dir_ / "k.cfg").string()});
        ASSERT_EQ(writer.read_line(), "ready");
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        writer.kill();
        writer.wait();
        ASSERT_EQ(SettgSetDatabaseName("k"), RES_OK) << kill;
        const std::string value = text("S", "V");
        ASSERT_EQ(value.find_first_not_of(value[0]), std::string::npos) << get("k.cfg");
        ASSERT_EQ(get("k.cfg"), "[S]\r\nV=" + value + "\r\n; kept\r\n") << kill;
    }
}

// Which file the manager's start-up opens: the given name or the default names, each made as a
// copy of "Master.cfg" when missing.
TEST_F(Settings, ManagerStartUpOpensTheFileItFindsOrMakes) {
    CMExit();
    const std::tuple<const char*, const char*, int, RTS_RESULT, const char*> rows[] = {
        {"KeLvAroSP.cfg", nullptr, 0, RES_OK, "KeLvAroSP.cfg"},
        {"Master.cfg", nullptr, 0, RES_OK, "KELVAROControl.cfg"},
        {"Master.cfg", "x", 0, RES_OK, "x.cfg"},
        {"Other.cfg", "x.cfg", 1, RES_OK, ""},
        {"Other.cfg", "x.cfg", 0, RES_FAILED, ""},
        {"Other.cfg", "GWClient.cfg", 0, RES_NO_OBJECT, ""},
    };
    for (const auto& [present, cfgFile, optional, result, master] : rows) {
        put(present, "[CM]\r\n");
        EXPECT_EQ(CMInit2(cfgFile, StaticComponentList, optional), result) << present;
        char name[64] = "";
        SettgGetDatabaseName(name, sizeof name);
        EXPECT_EQ(std::string(name), master) << present;
        CMExit();
        for (const auto& entry : fs::directory_iterator(dir_)) fs::remove(entry.path());
    }
}

TEST_F(Settings, TwoThreadsWritingInBracketsKeepEveryLastValueOnce) {
    put("m.cfg", "[CmpSettings]\r\n");
    ASSERT_EQ(SettgSetDatabaseName("m"), RES_OK);
    auto writer = [](const char* component) {
        for (RTS_I32 i = 0; i < 200; ++i) {
            SettgBeginUpdate();
            SettgSetIntValue(component, "n", i, 10);
            SettgSetIntValue(component, "m", -i, 10);
            RTS_I32 n = -1;
            EXPECT_EQ((SettgGetIntValue(component, "n", &n, -1, 0), n), i);
            SettgEndUpdate();
        }
    };
    std::thread other(writer, "T1");
    writer("T0");
    other.join();
    const std::string file = get("m.cfg");
    for (const char* section : {"[T0]\r\nn=199\r\nm=-199\r\n", "[T1]\r\nn=199\r\nm=-199\r\n"}) {
        const size_t at = file.find(section);
        EXPECT_TRUE(at != std::string::npos && file.find(section, at + 1) == std::string::npos) << file;
    }
    EXPECT_EQ(file.size(),
              std::string("[CmpSettings]\r\n\r\n[T0]\r\nn=199\r\nm=-199\r\n\r\n[T1]\r\nn=199\r\nm=-199\r\n")
                  .size());
}

// Names mapped through the configured directories and placeholders, before and after the force
// flags are set; placeholders that refer to themselves end.
TEST_F(Settings, NamesMapThroughDirectoriesAndPlaceholders) {
    const char* kLists =
        "[SysFile]\r\nFilePath=D:\\data\r\nFilePath.1=D:/csv, *.csv *.tsv\r\nPlcLogicPrefix=1\r\n"
        "PlaceholderFilePath=$loop$/x,$loop$\r\n";
    const std::tuple<bool, const char*, RTS_RESULT, const char*> rows[] = {
        {false, "log.txt", RES_OK, "D:/data/log.txt"},
        {false, ".\\sub\\x.txt", RES_OK, "D:/data/sub/x.txt"},
        {false, "C:/tmp/x.txt", RES_OK, "C:/tmp/x.txt"},
        {false, "a.csv", RES_OK, "D:/csv/a.csv"},
        {false, "a.tsv", RES_OK, "D:/csv/a.tsv"},
        {false, "a.cs", RES_OK, "D:/data/a.cs"},
        {false, "visu/a.png", RES_OK, "D:/data/PlcLogic/visu/a.png"},
        {false, "$unknown$/a.txt", RES_OK, "D:/data/unknown/a.txt"},
        {false, "$loop$/a", RES_OK, "D:/data/loop/x/x/x/x/x/x/x/x/x/x/x/x/x/x/x/x/a"},
        {false, "%TEMP%/x.log", RES_OK, "%TEMP%/x.log"},
        {true, "C:/tmp/x.txt", RES_NOT_ALLOWED, ""},
        {true, "sub/../../x.txt", RES_NOT_ALLOWED, ""},
        {true, "D:/csv/b.csv", RES_OK, "D:/csv/b.csv"},
        {true, "D:/csv/b.txt", RES_NOT_ALLOWED, ""},
    };
    bool forced = false;
    configure_files(kLists);
    for (const auto& [force, name, result, path] : rows) {
        if (force != forced) configure_files(std::string(kLists) + "ForceFilePath=1\r\n");
        forced = force;
        char buffer[128] = "x";
        EXPECT_EQ(SysFileGetFullPath(name, buffer, sizeof buffer), result) << name;
        EXPECT_STREQ(buffer, path) << name;
    }
}

// What an online client and the blacklist may touch, and the two messages of the first refused
// application name.
TEST_F(Settings, ProtectedFilesBlacklistAndOnlineAccess) {
    configure_files("[CmpSettings]\r\nFileReference.0=C:\\cfg\\Ref.cfg, A\r\n[SysFile]\r\n"
                    "PlaceholderFilePath=/srv/tmp, $tmp$\r\nPlaceholderFilePath.Temporary=1\r\n");
    EXPECT_EQ(SysFileAddToBlacklist("secret"), RES_OK);
    const std::tuple<RTS_RESULT (*)(const char*), const char*, RTS_RESULT> rows[] = {
        {SysFileIsBlacklisted, "x\\kelvarocontrol.CFG", RES_OK},
        {SysFileIsBlacklisted, "KELVAROControl.cf_", RES_OK},
        {SysFileIsBlacklisted, "d/M.CFG", RES_OK},
        {SysFileIsBlacklisted, "ref.cf_", RES_OK},
        {SysFileIsBlacklisted, "other.cfg", RES_FAILED},
        {SysFileIsBlacklisted, "/a/SECRET.txt", RES_OK},
        {SysFileIsOnlineAccessDenied, "m.cfg", RES_OK},
        {SysFileIsOnlineAccessDenied, "/srv/tmp/a", RES_FAILED},
        {SysFileIsOnlineAccessDenied, "/etc/passwd", RES_OK},
        {SysFileIsOnlineModifyAccessDenied, "/srv/tmp", RES_FAILED},
        {SysFileIsOnlineModifyAccessDenied, "/srv/other", RES_OK},
        {SysFileIsInvisible, "a/.hidden", RES_OK},
        {SysFileIsInvisible, "a/..", RES_FAILED},
    };
    for (const auto& [ask, name, result] : rows) EXPECT_EQ(ask(name), result) << name;
    char buffer[64];
    testlog::clear();
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(SysFileGetIecPath("/etc/x", buffer, sizeof buffer), RES_NOT_ALLOWED);
    EXPECT_EQ(testlog::texts(),
              (Strings{"Access denied to '/etc/x' due to ForceIecFilePath",
                       "To grant access, this path may be configured as a PlaceholderFilePath"}));
    EXPECT_EQ(SysFileRegisterPlaceholder("$tmp$", "/x", 0), RES_DUPLICATE);
}

// The entries of application code refuse blacklisted names before anything else and map the
// others through the application path list.
TEST_F(Settings, ApplicationEntriesRefuseBlacklistedNamesAndMapThroughTheirList) {
    configure_files("[SysFile]\r\nIecFilePath=iec\r\n");
    fs::create_directories("iec");
    ASSERT_EQ(SysFileAddToBlacklist("secret"), RES_OK);
    RTS_RESULT opened = RES_FAILED;
    sysfileopen_struct open{"a.txt", AM_WRITE, &opened, RTS_INVALID_HANDLE};
    sysfileopen(&open);
    ASSERT_EQ(opened, RES_OK);
    SysFileClose(open.result);
    sysfilerename_struct rename{"a.txt", "secret.txt", RES_FAILED};
    sysfilecopy_struct copy{"b.txt", "a.txt", nullptr, RES_FAILED};
    sysfiledelete_struct remove{"Secret.txt", RES_FAILED};
    sysfileopen_struct master{"m.cfg", AM_READ, &opened, RTS_INVALID_HANDLE};
    sysfilerename(&rename);
    sysfilecopy(&copy);
    sysfiledelete(&remove);
    sysfileopen(&master);
    EXPECT_EQ((std::tuple{rename.result, copy.result, remove.result, opened, master.result}),
              (std::tuple{RES_NOT_ALLOWED, RES_OK, RES_NOT_ALLOWED, RES_NOT_ALLOWED, RTS_INVALID_HANDLE}));
    EXPECT_EQ((std::tuple{fs::exists("iec/a.txt"), fs::exists("iec/b.txt"), fs::exists("a.txt")}),
              (std::tuple{true, true, false}));
}

// The cache answers a checksum for the same size without reading, and follows the file through
// writing opens, renames and deletion.
TEST_F(Settings, ChecksumCacheFollowsTheFile) {
    configure_files("[SysFile]\r\n");
    put("a.txt", std::string(4660, 'a'));
    RTS_UI32 crc = 0, fresh = 0;
    ASSERT_EQ(SysFileGenerateCRC3("a.txt", 0, &fresh, 0), RES_OK);
    ASSERT_EQ(SysFileGenerateCRC2("a.txt", 4660, &crc), RES_OK);
    char expected[64];
    CMUtlsnprintf(expected, sizeof expected, "0x1234, 0x%X, %X.txt", fresh, fresh);
    EXPECT_EQ((std::pair{crc, text("SysFileMap", "a.txt")}), (std::pair{fresh, std::string(expected)}));
    put("a.txt", std::string(4660, 'b')); // behind the cache's back: still answered from it
    EXPECT_EQ((SysFileGenerateCRC2("a.txt", 4660, &crc), crc), fresh);
    EXPECT_EQ(SysFileRename("a.txt", "b.txt"), RES_OK);
    EXPECT_EQ((Strings{text("SysFileMap", "a.txt"), text("SysFileMap", "b.txt")}),
              (Strings{"<none>", expected}));
    SysFileClose(SysFileOpen("b.txt", AM_APPEND, nullptr));
    EXPECT_EQ(text("SysFileMap", "b.txt"), "<none>");
    EXPECT_EQ(get("m.cfg"), "[SysFile]\r\n\r\n[SysFileMap]\r\n");
}

} // namespace
