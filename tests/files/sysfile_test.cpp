// File access: the access modes, positions and the end of a file, names (rename, copy, delete,
// %VAR%), the directory part of paths, the checksums against a bitwise model, and each platform
// call failing in turn.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "file_env.h"
#include "seam_fault.h"
#include "test_components.h"
#include "sys/sysfile_os.h"
#include "sysfile.h"

#ifdef _WIN32
#include <windows.h>
constexpr rts::OsError kDiskFull = ERROR_DISK_FULL, kDenied = ERROR_ACCESS_DENIED,
                       kMissing = ERROR_FILE_NOT_FOUND;
void set_env(const char* name, const char* value) {
    _putenv_s(name, value != nullptr ? value : ""); /* the process's environment as well */
}
#else
#include <cerrno>
constexpr rts::OsError kDiskFull = ENOSPC, kDenied = EACCES, kMissing = ENOENT;
void set_env(const char* name, const char* value) {
    value != nullptr ? setenv(name, value, 1) : unsetenv(name);
}
#endif

namespace {

using Files = filetest::Dir;

// An open file that closes itself.
struct Open {
    Open(const std::string& path, RTS_UI32 mode) : h(SysFileOpen(path.c_str(), mode, nullptr)) {}
    ~Open() { SysFileClose(h); }
    RTS_HANDLE h;
};

// The access modes, positions and the end of a file, then the operations on names.
TEST_F(Files, ModesPositionsAndNames) {
    RTS_RESULT r = RES_OK, r2 = RES_OK;
    SysFileClose(SysFileOpen(path("a").c_str(), AM_APPEND, &r));
    SysFileClose(SysFileOpen(path("b").c_str(), AM_APPEND_UPDATE, &r2));
    EXPECT_TRUE(r == RES_NO_OBJECT && !exists("a") && r2 == RES_OK && exists("b"))
        << "only an update creates";

    put("f", "abc");
    {
        Open f(path("f"), AM_APPEND_UPDATE);
        char c = 0;
        SysFileSetPos(f.h, 1);
        SysFileRead(f.h, &c, 1, nullptr);
        SysFileWrite(f.h, "Z", 1, nullptr);
        EXPECT_EQ(c, 'b') << "reads where the position was set";
        Open g(path("f"), AM_APPEND);
        SysFileSetPos(g.h, 0);
        SysFileWrite(g.h, "XY", 2, nullptr);
    }
    EXPECT_EQ(get("f"), "abcZXY") << "writes of both appending modes go to the end";

    put("f", "0123456789");
    {
        Open f(path("f"), AM_READ);
        char buf[10];
        SysFileSetPos(f.h, 6);
        EXPECT_EQ(SysFileEOF(f.h), RES_FAILED);
        EXPECT_EQ(SysFileRead(f.h, buf, 10, &r), 4u);
        EXPECT_TRUE(r == RES_OK && SysFileEOF(f.h) == RES_OK && SysFileGetStatus(f.h, nullptr) == FS_EOF);
    }
    {
        Open f(path("f"), AM_WRITE_UPDATE);
        RTS_SIZE pos = 0;
        SysFileWrite(f.h, "0123456789", 10, nullptr);
        SysFileSetPos(f.h, 7);
        SysFileTruncate(f.h, 4);
        SysFileGetPos(f.h, &pos);
        EXPECT_TRUE(pos == 7 && SysFileGetSizeByHandle(f.h, nullptr) == 4)
            << "a truncation keeps the position";
    }

    put("a", "A");
    put("b", "B");
    EXPECT_TRUE(SysFileRename(path("a").c_str(), path("b").c_str()) == RES_DUPLICATE &&
                get("a") + get("b") == "AB");
    EXPECT_TRUE(SysFileRename(path("x").c_str(), path("y").c_str()) == RES_NO_OBJECT &&
                SysFileRename("", path("y").c_str()) == RES_PARAMETER);

    RTS_SIZE copied = 0;
    put("src", "12345");
    put("dst", "a longer old content");
    EXPECT_EQ(SysFileCopy(path("dst").c_str(), path("src").c_str(), &copied), RES_OK);
    EXPECT_EQ(get("dst") + std::to_string(copied), "123455") << "replaced, the source's size reported";
    EXPECT_EQ(SysFileCopy(path("dst").c_str(), path("none").c_str(), nullptr), RES_NO_OBJECT);

    RTS_HANDLE h = SysFileOpen(path("d").c_str(), AM_WRITE, nullptr);
    int stack = 0;
    EXPECT_EQ(SysFileDeleteByHandle(h), RES_OK);
    EXPECT_TRUE(!exists("d") && SysFileClose(h) == RES_PARAMETER && SysFileClose(&stack) == RES_PARAMETER);

    SysFileTime times{};
    EXPECT_EQ(SysFileGetSize(path("none").c_str(), &r), 0u);
    EXPECT_TRUE(r == RES_NO_OBJECT && SysFileGetTime(path("none").c_str(), &times) == RES_NO_OBJECT);

    const char* old = std::getenv("TEMP");
    const std::string kept = old != nullptr ? old : "";
    set_env("TEMP", dir_.string().c_str());
    SysFileClose(SysFileOpen("%TEMP%/x.log", AM_WRITE, &r));
    set_env("TEMP", old != nullptr ? kept.c_str() : nullptr);
    EXPECT_TRUE(r == RES_OK && exists("x.log")) << "%TEMP% names the directory in the environment";
}

// Threads closing one handle at once: the pool's lock lets exactly one of them close it.
TEST_F(Files, OneCloseWinsARace) {
    put("f", "x");
    for (int round = 0; round < 50; ++round) {
        RTS_HANDLE h = SysFileOpen(path("f").c_str(), AM_READ, nullptr);
        std::atomic<int> closed{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&] { closed += SysFileClose(h) == RES_OK ? 1 : 0; });
        for (auto& t : threads) t.join();
        EXPECT_EQ(closed, 1);
    }
}

// The times are the platform's clock in local seconds as the C library counts them; the real
// path is the C++ library's canonical path.
TEST_F(Files, TimesAndRealPathAsTheLibrariesSeeThem) {
    put("f", "x");
    const std::time_t now = std::time(nullptr);
    std::tm local = *std::localtime(&now);
    std::tm utc = *std::gmtime(&now);
    utc.tm_isdst = local.tm_isdst;
    SysFileTime times{};
    ASSERT_EQ(SysFileGetTime(path("f").c_str(), &times), RES_OK);
    EXPECT_NEAR(static_cast<long long>(times.ulLastModification),
                static_cast<long long>(now + (std::mktime(&local) - std::mktime(&utc))), 3);
    std::string expected = std::filesystem::canonical(path("f")).string();
    std::replace(expected.begin(), expected.end(), '\\', '/');
    char buffer[512];
    EXPECT_EQ(SysFileGetRealPath_(path("f").c_str(), buffer, sizeof buffer), RES_OK);
    EXPECT_EQ(buffer, expected);
    EXPECT_EQ(SysFileGetRealPath_(path("f").c_str(), buffer, 4), RES_BUFFERSIZE);
}

// The event service and the directory functions of another component, under their own names,
// and what they heard.
std::vector<std::string> g_heard;

RTS_HANDLE EventCreate2(RTS_UI32 id, RTS_UI32, RTS_RESULT*) {
    g_heard.push_back("create " + std::to_string(id));
    return reinterpret_cast<RTS_HANDLE>(RTS_UINTPTR{id});
}
RTS_RESULT EventPost2(RTS_HANDLE event, RTS_UI32, RTS_UI32, void* argument) {
    const auto* opened = static_cast<SysFileOpenedEvent*>(argument);
    g_heard.push_back(event == reinterpret_cast<RTS_HANDLE>(RTS_UINTPTR{SYSFILE_EVENT_OPENED})
                          ? "opened " + std::string(opened->path) + " " + std::to_string(opened->mode)
                          : "closing");
    return RES_OK;
}
RTS_RESULT EventDelete(RTS_HANDLE) {
    return g_heard.push_back("delete"), RES_OK;
}
RTS_RESULT SysDirCreate2(const char* directory, RTS_I32) {
    return std::filesystem::create_directory(directory) ? RES_OK : RES_FAILED;
}
TEST(SysFileServices, MissingDirectoryMadeAndOpenAndCloseHeard) {
    const CMExportEntry exports[] = {CM_EXPORT(EventCreate2),
                                     CM_EXPORT(EventPost2),
                                     CM_EXPORT(EventDelete),
                                     CM_EXPORT(SysDirCreate2),
                                     {nullptr, nullptr, 0, 0}};
    const StaticComponent list[] = {{"TestServices", testcmp::entry(0), 1}, {nullptr, nullptr, 0}};
    testcmp::reset();
    testcmp::slot(0).exports = exports;
    ASSERT_EQ(CMInit2(nullptr, list, 1), RES_OK);
    const auto dir = std::filesystem::temp_directory_path() / ipctest::unique_name("gc_files_");
    const std::string file = (dir / "sub").generic_string() + "/f.txt";
    std::filesystem::create_directories(dir);
    SysFileClose(SysFileOpen(file.c_str(), AM_WRITE, nullptr));
    CMExit();
    EXPECT_TRUE(std::filesystem::exists(file));
    std::filesystem::remove_all(dir);
    EXPECT_THAT(g_heard, testing::ElementsAre("create 65537", "create 65538", "opened " + file + " 1",
                                              "closing", "delete", "delete"));
}

TEST(SysFilePath, DirectoryPartOfNames) {
    const struct {
        const char* name;
        RTS_I32 mode;
        RTS_SIZE size;
        const char* expected;
        RTS_RESULT result;
    } rows[] = {
        {"dir/sub/file.txt", 0, 64, "dir/sub/", RES_OK},
        {"C:/x/y.txt", 0, 64, "C:/x/", RES_OK},
        {"C:y.txt", 0, 64, "C:", RES_OK},
        {"C:/y.txt", 0, 64, "C:/", RES_OK},
        {"file.txt", 0, 64, "file.txt", RES_FAILED},
        {"%APPDIR%", 0, 64, "%APPDIR%", RES_OK},
        {"dir/file.txt", 2, 64, "dir/file.txt", RES_OK},
        {"longdrive0:/x/y", 0, 64, "longdrive0:/x/y", RES_BUFFERSIZE},
        {"dir/sub/file.txt", 0, 8, "dir/sub", RES_BUFFERSIZE},
    };
    for (const auto& row : rows) {
        char buffer[64] = {};
        EXPECT_EQ(SysFileGetPath2(row.name, row.mode, buffer, row.size), row.result) << row.name;
        EXPECT_STREQ(buffer, row.expected) << row.name;
    }
}

// The CRC-32 register bit by bit, without the table the product uses.
RTS_UI32 crc_register(RTS_UI32 r, const std::string& data) {
    for (unsigned char c : data) {
        r ^= c;
        for (int k = 0; k < 8; ++k) r = (r & 1) != 0 ? (r >> 1) ^ 0xEDB88320u : r >> 1;
    }
    return r;
}

TEST_F(Files, ChecksumsMatchTheBitwiseModel) {
    std::mt19937 random(7);
    std::string data(1000, '\0');
    for (char& c : data) c = static_cast<char>(random());
    put("f", data);
    for (RTS_SIZE max : {RTS_SIZE{0}, RTS_SIZE{256}, RTS_SIZE{300}, RTS_SIZE{5000}}) {
        const std::string used = data.substr(0, max == 0 ? data.size() : max);
        RTS_UI32 chained = ~0u;
        for (size_t at = 0; at < used.size(); at += 256)
            chained = ~crc_register(chained, used.substr(at, 256));
        RTS_UI32 crc = 0, crc2 = 0;
        EXPECT_EQ(SysFileGenerateCRC(path("f").c_str(), max, &crc), RES_OK);
        EXPECT_EQ(SysFileGenerateCRC2(path("f").c_str(), max, &crc2), RES_OK);
        EXPECT_EQ(crc, chained) << max;
        EXPECT_EQ(crc2, ~crc_register(~0u, used)) << max;
    }
    RTS_UI32 crc = 0;
    EXPECT_EQ(SysFileGenerateCRC(path("none").c_str(), 0, &crc), RES_PARAMETER);
}

using C = sysfile_os::Calls;
using Inject = seamfault::Injector<C, &C::open, &C::close, &C::read, &C::write, &C::seek, &C::size, &C::times,
                                   &C::set_end, &C::flush, &C::remove, &C::rename, &C::copy, &C::real_path>;
enum {
    kOpen,
    kClose,
    kRead,
    kWrite,
    kSeek,
    kSize,
    kTimes,
    kSetEnd,
    kFlush,
    kRemove,
    kRename,
    kCopy,
    kRealPath
};

// Each platform call failing: the documented result, one log line with the OS error and the
// path, and every file that was opened closed again. The acts see the file "f" opened for reading
// and writing before each row (h, with the result opened).
TEST_F(Files, EachPlatformCallFailing) {
    // a close and a write that happened but report an error, so nothing stays open or unwritten
    const seamfault::Fault fails{1234}, failsAfter{1234, seamfault::kEveryCall, true},
        full{kDiskFull, seamfault::kEveryCall, true};
    std::string file = path("f"), other = path("f2");
    std::replace(file.begin(), file.end(), '\\', '/'); // the name as the path mapping hands it on
    const char* f = file.c_str();
    RTS_HANDLE h = RTS_INVALID_HANDLE;
    RTS_RESULT opened = RES_OK, r = RES_OK;
    RTS_SIZE written = 0;
    char buffer[8];
    SysFileTime times{};
    const seamfault::Row<std::function<RTS_RESULT()>> rows[] = {
        {kOpen, {kDenied}, [&] { return opened; }, RES_NO_ACCESS, {}},
        {kClose, failsAfter, [&] { return SysFileClose(h); }, RES_FAILED, {}},
        {kRead, fails, [&] { return SysFileRead(h, buffer, 3, &r), r; }, RES_FAILED, {}},
        {kWrite, full, [&] { return written = SysFileWrite(h, "xyz", 3, &r), r; }, RES_DISK_FULL, {}},
        {kSeek, fails, [&] { return SysFileSetPos(h, 1); }, RES_FAILED, {}},
        {kSize, fails, [&] { return SysFileGetSizeByHandle(h, &r), r; }, RES_FAILED, {}},
        {kTimes, fails, [&] { return SysFileGetTime(f, &times); }, RES_FAILED, {}},
        {kSetEnd, fails, [&] { return SysFileTruncate(h, 1); }, RES_FAILED, {}},
        {kFlush, fails, [&] { return SysFileFlush(h); }, RES_FAILED, {}},
        {kRemove, fails, [&] { return SysFileDelete(f); }, RES_FAILED, {}},
        {kRename, fails, [&] { return SysFileRename(f, other.c_str()); }, RES_FAILED, {}},
        {kCopy, fails, [&] { return SysFileCopy(other.c_str(), f, nullptr); }, RES_FAILED, {}},
        {kRealPath, {kMissing}, [&] { return SysFileGetRealPath_(f, buffer, 8); }, RES_NO_OBJECT, {}},
    };
    for (const auto& row : rows) {
        put("f", "abc");
        const size_t logged = seamfault::injected_lines(CMPID_SysFile).size();
        {
            Inject injector(sysfile_os::platform_calls(), sysfile_os::set_calls);
            injector.fail(row);
            h = SysFileOpen(f, AM_READ_UPDATE, &opened);
            EXPECT_EQ(row.act(), row.result) << row.entry;
            if (row.entry != kClose) SysFileClose(h);
            EXPECT_EQ(injector.succeeded(kOpen), injector.calls(kClose)) << row.entry;
        }
        const std::vector<std::string> lines = seamfault::injected_lines(CMPID_SysFile);
        EXPECT_TRUE(lines.size() == logged + 1 && lines.back() == seamfault::line(row.fault.error, file))
            << row.entry;
    }
    EXPECT_EQ(written, 3u) << "a full disk reports the bytes that went out";
}

} // namespace
