// Shared memory: the size rule of a block made here or by another process, bad arguments,
// copies (also between processes), the open wrappers, records used from several threads, the
// life cycle, the interface object, each platform call failing in turn, sizes of 4 GiB and
// more, and a block that the opening process may not use.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "ipc_support.h"
#include "seam_fault.h"
#include "sys/sysshm_os.h"
#include "sysshm.h"
#include "log_reader.h"

#ifdef _WIN32
#include <windows.h>

#include <sddl.h>
constexpr rts::OsError kQuota = ERROR_WORKING_SET_QUOTA;
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
constexpr rts::OsError kQuota = ENOMEM;
#endif

extern "C" RTS_RESULT SysShm__Entry(ComponentInitRecord* pInit);

namespace {

using C = sysshm_os::Calls;

// Opens (or creates) the block with the size given; the size written back lands in size.
RTS_HANDLE open_block(const std::string& name, RTS_SIZE& size, RTS_RESULT* pResult = nullptr,
                      bool create = false, RTS_UINTPTR physical = 0) {
    return create ? SysSharedMemoryCreate(name.c_str(), physical, &size, pResult)
                  : SysSharedMemoryOpen(name.c_str(), physical, &size, pResult);
}

class SysShm : public ::testing::Test {
protected:
    std::unique_ptr<ipctest::ComponentRun> run_ = std::make_unique<ipctest::ComponentRun>(SysShm__Entry);
    std::string name_ = ipctest::unique_name("gc_shm_");
};

// The size rule, the same on every platform: a record keeps the size its first open or create
// in this process asked for (0: any), another size is refused with the recorded one, and a
// block made elsewhere is handed out for every size its memory pages hold. Each row opens in
// turn, then closes what it got. The probe holds a block of 524 bytes made elsewhere; the other
// block is made here, and the last close here ends it.
TEST_F(SysShm, SizeOfARecordIsTheSizeItsFirstOpenAskedFor) {
    ipctest::Probe maker({"hold-block", name_, "524", "0x11"});
    ASSERT_EQ(maker.read_line(), "ready");
    const std::string elsewhere = "Global\\" + name_, here = name_ + "_here";
    using Open = std::tuple<bool, RTS_SIZE, RTS_RESULT, RTS_SIZE>; // create?, asked, result, written back
    const std::vector<std::pair<std::string, std::vector<Open>>> rows = {
        {elsewhere, {{false, 0, RES_OK, 0}, {false, 524, RES_BUFFERSIZE, 0}, {true, 0, RES_DUPLICATE, 0}}},
        {elsewhere, {{false, 524, RES_OK, 524}, {false, 0, RES_OK, 524}, {true, 64, RES_BUFFERSIZE, 524}}},
        {elsewhere, {{true, 64, RES_DUPLICATE, 64}, {false, 524, RES_BUFFERSIZE, 64}}},
        {elsewhere, {{false, 2048, RES_OK, 2048}, {false, 1 << 20, RES_BUFFERSIZE, 2048}}},
        {elsewhere, {{false, 1 << 20, RES_BUFFERSIZE, 1 << 20}}},
        {here, {{true, 200, RES_OK, 200}, {false, 0, RES_OK, 200}, {true, 200, RES_DUPLICATE, 200}}},
        {here, {{false, 200, RES_NO_OBJECT, 200}}},
    };
    for (size_t row = 0; row < rows.size(); ++row) {
        std::vector<RTS_HANDLE> open;
        for (const auto& [create, asked, expected, written] : rows[row].second) {
            RTS_SIZE size = asked;
            RTS_RESULT r = RES_FAILED;
            RTS_HANDLE h = open_block(rows[row].first, size, &r, create);
            EXPECT_EQ(std::make_pair(r, size), std::make_pair(expected, written))
                << "row " << row << ", " << asked;
            if (h != RTS_INVALID_HANDLE) open.push_back(h);
        }
        for (RTS_HANDLE h : open) EXPECT_EQ(SysSharedMemoryClose(h), RES_OK) << "row " << row;
    }
    EXPECT_EQ(maker.wait(), 0);
    RTS_SIZE size = 524;
    RTS_RESULT r = RES_OK;
    EXPECT_EQ(open_block(name_, size, &r), RTS_INVALID_HANDLE);
    EXPECT_EQ(r, RES_NO_OBJECT) << "a block goes when its maker closed it and no one else holds it";
}

TEST_F(SysShm, BadArgumentsAreRefused) {
    const std::string longest = name_ + std::string(245 - name_.size(), 'n'); // the longest name allowed
    const std::string tooLong = longest + "n";
    // name, whether a size is given, the size, the result
    const std::tuple<const char*, bool, RTS_SIZE, RTS_RESULT> names[] = {
        {nullptr, true, 64, RES_PARAMETER},         {name_.c_str(), false, 64, RES_PARAMETER},
        {tooLong.c_str(), true, 64, RES_PARAMETER}, {"", true, 64, RES_PARAMETER},
        {"Global\\", true, 64, RES_PARAMETER},      {longest.c_str(), true, 0, RES_NO_OBJECT},
    };
    for (const auto& [name, sized, asked, expected] : names) {
        for (auto f : {SysSharedMemoryOpen, SysSharedMemoryCreate}) {
            RTS_SIZE size = asked;
            RTS_RESULT r = RES_OK;
            EXPECT_EQ(f(name, 0, sized ? &size : nullptr, &r), RTS_INVALID_HANDLE);
            EXPECT_EQ(r, expected) << (name != nullptr ? name : "null");
        }
    }
    RTS_SIZE size = 64;
    RTS_HANDLE held = open_block(name_ + "_held", size, nullptr, true); // every lookup walks past it
    RTS_HANDLE closed = open_block(name_, size, nullptr, true);
    ASSERT_EQ(SysSharedMemoryClose(closed), RES_OK);
    int stranger = 0;
    unsigned char buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (RTS_HANDLE h :
         {RTS_INVALID_HANDLE, static_cast<RTS_HANDLE>(nullptr), closed, static_cast<RTS_HANDLE>(&stranger)}) {
        RTS_RESULT r[2] = {RES_OK, RES_OK};
        EXPECT_EQ(SysSharedMemoryGetPointer(h, &r[0]), nullptr);
        EXPECT_EQ(SysSharedMemoryWriteByte(h, 0, buffer, sizeof buffer, &r[1]), 0u);
        EXPECT_EQ(std::vector<RTS_RESULT>(r, r + 2), std::vector<RTS_RESULT>(2, RES_PARAMETER));
        EXPECT_EQ(SysSharedMemoryDelete(h), RES_PARAMETER);
    }
    EXPECT_EQ(stranger, 0) << "a foreign pointer must not be written";
    RTS_RESULT r = RES_OK;
    EXPECT_EQ(SysSharedMemoryRead(held, 0, nullptr, 4, &r), 0u);
    EXPECT_EQ(std::make_pair(r, SysSharedMemoryClose(held)), std::make_pair(RES_PARAMETER, RES_OK))
        << "null buffer";
}

// syssharedmemoryopen creates what is missing. Each copy variant, taken from the table of the
// component's interface object, writes at the offset, and nowhere else, and reads it back; the
// probe checks what this process wrote and fills the second half, which this process sees;
// syssharedmemoryopen2 only opens, with the 32-bit size of the record going both ways, and
// syssharedmemorycreate finds the block there already.
TEST_F(SysShm, CopiesLandAtTheirOffsetInEveryVariantAndInTheOtherProcess) {
    RTS_UI32 size = 512;
    RTS_RESULT r = RES_FAILED;
    SysShmOpenParams open{name_.c_str(), 0, &size, &r, nullptr}, open2 = open;
    syssharedmemoryopen(&open);
    RTS_HANDLE h = open.result;
    auto* object = static_cast<SysShmObject*>(run_->record().createInstance(SYSSHM_CLASS_ID));
    auto* itf = static_cast<const SysShmInterface*>(object->QueryInterface(object, SYSSHM_INTERFACE_ID, &r));
    EXPECT_EQ(object->QueryInterface(object, 0, &r), object);
    EXPECT_EQ(object->QueryInterface(object, 99, &r), nullptr);
    EXPECT_EQ(std::make_pair(r, object->references), std::make_pair(RES_NOTSUPPORTED, 2)) << "one per answer";
    auto* base = static_cast<unsigned char*>(itf->getPointer(h, nullptr));
    ASSERT_NE(base, nullptr);
    for (const auto& [write, read] :
         {std::pair{itf->write, itf->readByte}, std::pair{itf->writeByte, itf->read}}) {
        for (RTS_SIZE offset : {0, 1, 255, 500}) {
            std::fill(base, base + 512, 0);
            std::vector<unsigned char> data(12), back(12), block(512, 0);
            for (unsigned i = 0; i < data.size(); ++i) block[offset + i] = data[i] = offset + i + 1;
            EXPECT_EQ(write(h, offset, data.data(), data.size(), nullptr), data.size());
            EXPECT_EQ(std::vector<unsigned char>(base, base + 512), block) << offset;
            EXPECT_EQ(read(h, offset, back.data(), back.size(), nullptr), back.size());
            EXPECT_EQ(back, data) << offset;
        }
    }
    std::fill(base, base + 256, 0xA5);
    EXPECT_EQ(ipctest::run_probe({"check-block", name_, "512", "0xA5", "0x5A"}), 0);
    EXPECT_EQ(std::vector<unsigned char>(base + 256, base + 512), std::vector<unsigned char>(256, 0x5A));
    EXPECT_EQ(ipctest::run_probe({"create-block", name_, "512"}), static_cast<int>(RES_DUPLICATE));
    size = 0;
    syssharedmemoryopen2(&open2);
    EXPECT_EQ(std::make_pair(open2.result, size), std::make_pair(h, 512u));
    syssharedmemorycreate(&open2);
    EXPECT_EQ(std::make_tuple(open2.result, r, size), std::make_tuple(h, RES_DUPLICATE, 512u));
    EXPECT_EQ(itf->close(h) + SysSharedMemoryClose(h) + SysSharedMemoryDelete(h), RES_OK);
    EXPECT_EQ(SysSharedMemoryClose(h), RES_PARAMETER) << "closed more often than opened";
    EXPECT_EQ(run_->record().deleteInstance(object), RES_OK);
    syssharedmemoryopen2(&open2);
    EXPECT_EQ(std::make_pair(open2.result, r), std::make_pair(RTS_INVALID_HANDLE, RES_NO_OBJECT));
}

// Threads open and close the block at once, each reference counted exactly; the block left open
// at the shut-down is reported and released, and nothing works after the shut-down.
TEST_F(SysShm, ParallelOpensAndClosesKeepTheCountExactAndTheShutDownReleasesTheRest) {
    RTS_SIZE size = 64;
    RTS_HANDLE base = open_block(name_, size, nullptr, true);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                RTS_SIZE any = 0;
                RTS_HANDLE h = open_block(name_, any);
                const auto mine = static_cast<unsigned char>(t + 1);
                failures += h != base ||
                            SysSharedMemoryWrite(h, static_cast<RTS_SIZE>(t), &mine, 1, nullptr) != 1 ||
                            SysSharedMemoryClose(h) != RES_OK;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures, 0);
    testlog::clear();
    run_.reset();
    EXPECT_EQ(testlog::count_starting("SysShm: <name>" + name_ + "</name> still open at exit"), 1);
    EXPECT_EQ(SysSharedMemoryClose(base), RES_NOTINITIALIZED);
    run_ = std::make_unique<ipctest::ComponentRun>(SysShm__Entry);
    EXPECT_EQ(open_block(name_, size), RTS_INVALID_HANDLE) << "released at the shut-down";
}

// What no test may touch for real, on paper: one small buffer stands for the physical memory
// and for mappings of sizes no test may allocate; the sizes asked for are noted.
unsigned char g_paper[64];
RTS_UI64 g_created = 0, g_locked = 0, g_unlocked = 0;

// The driver, on paper, for the fault table.
C paper_driver(C calls) {
    calls.driver_open = [](void** pDevice, const char**) { return *pDevice = g_paper, rts::kOsOk; };
    calls.driver_map = [](void*, RTS_UI64, RTS_UI64, void** pAddress, const char**) {
        return *pAddress = g_paper, rts::kOsOk;
    };
    calls.driver_unmap = [](void*, void*, RTS_UI64, const char**) { return rts::kOsOk; };
    calls.driver_close = [](void*, const char**) { return rts::kOsOk; };
    return calls;
}

// Mappings on paper, for sizes of 4 GiB and more.
C paper_mappings(C calls) {
    calls.mapping_open = [](const char*, sysshm_os::View*, const char** pCall) {
        return *pCall = "paper", 2u;
    };
    calls.mapping_create = [](const char*, RTS_UI64 size, sysshm_os::View* pView, const char**) {
        return *pView = sysshm_os::View{g_paper, g_paper, g_created = size}, rts::kOsOk;
    };
    calls.mapping_close = [](sysshm_os::View* pView, const char**) { return *pView = {}, rts::kOsOk; };
    calls.lock = [](void*, RTS_UI64 size, const char**) { return g_locked = size, rts::kOsOk; };
    calls.unlock = [](void*, RTS_UI64 size, const char**) { return g_unlocked = size, rts::kOsOk; };
    return calls;
}

// Opens (or creates) a block of 64 bytes and closes it again: the result of the open, or of
// the close when asked.
RTS_RESULT use_block(const std::string& name, RTS_UINTPTR physical, bool create, bool closeResult = false) {
    RTS_SIZE size = 64;
    RTS_RESULT r = RES_FAILED;
    const RTS_RESULT closed = SysSharedMemoryClose(open_block(name, size, &r, create, physical));
    return closeResult ? closed : r;
}

enum { kOpen, kCreate, kClose, kLock, kGrow, kUnlock, kSecure, kUnsecure };
enum { kLoad = kUnsecure + 1, kUnload, kSessions, kDevice, kMap, kUnmap, kDeviceClose };

// Each platform call failing in turn: the documented result, the log line with the call, the
// block's name where the call had one (a block is made under its local name) and the OS error, and nothing
// left open (no record at the shut-down, every mapping and device closed again).
TEST(SysShmSeam, EachFailingCallIsLoggedAndReported) {
    const C base = paper_driver(sysshm_os::platform_calls());
    using Inject = seamfault::Injector<C, &C::mapping_open, &C::mapping_create, &C::mapping_close, &C::lock,
                                       &C::grow_lock_quota, &C::unlock, &C::security_init, &C::security_exit,
                                       &C::sessions_load, &C::sessions_unload, &C::for_each_session,
                                       &C::driver_open, &C::driver_map, &C::driver_unmap, &C::driver_close>;
    using Act = std::function<RTS_RESULT(const std::string&)>;
    const Act open = [](const std::string& n) { return use_block(n, 0, false); };
    const Act create = [](const std::string& n) { return use_block(n, 0, true); };
    const Act createGlobal = [](const std::string& n) { return use_block("Global\\" + n, 0, true); };
    const Act close = [](const std::string& n) { return use_block(n, 0, true, true); };
    const Act physical = [](const std::string& n) { return use_block(n, 0x1000, false); };
    const Act physicalClose = [](const std::string& n) { return use_block(n, 0x1000, false, true); };
    const Act hooks = [](const std::string&) { return RES_OK; };
    const seamfault::Fault fails{1234, seamfault::kEveryCall}, failsAfter{1234, seamfault::kEveryCall, true},
        quota{kQuota, seamfault::kEveryCall}, quotaOnce{kQuota, 1};
    // the faults, the act and its result, the prefix of the block's name in the line of the last
    // fault (null: the line names none), and how many lines the faults leave (0: at least one)
    const std::tuple<std::vector<std::pair<int, seamfault::Fault>>, Act, RTS_RESULT, const char*, size_t>
        rows[] = {
            {{{kOpen, fails}}, open, RES_NO_OBJECT, "Global\\", 0},
            {{{kCreate, fails}}, createGlobal, RES_NO_OBJECT, "", 1},
            {{{kClose, failsAfter}}, close, RES_OK, "", 1},
            {{{kLock, fails}}, create, RES_NOT_LOCKED, "", 1},
            {{{kLock, quotaOnce}}, create, RES_OK, "", 1},
            {{{kLock, quota}, {kGrow, fails}}, create, RES_NOT_LOCKED, "", 2},
            {{{kUnlock, failsAfter}}, create, RES_OK, "", 1},
            {{{kSecure, fails}}, hooks, RES_OK, nullptr, 1},
            {{{kUnsecure, failsAfter}}, hooks, RES_OK, nullptr, 1},
            {{{kLoad, fails}}, hooks, RES_OK, nullptr, 1},
            {{{kUnload, failsAfter}}, hooks, RES_OK, nullptr, 1},
            {{{kSessions, fails}}, open, RES_NO_OBJECT, nullptr, 1},
            {{{kDevice, fails}}, physical, RES_FAILED, "", 1},
            {{{kMap, fails}}, physical, RES_NO_OBJECT, "", 1},
            {{{kUnmap, fails}}, physicalClose, RES_FAILED, "", 1},
            {{{kDeviceClose, failsAfter}}, physical, RES_OK, "", 2},
        };
    for (const auto& [faults, act, expected, object, count] : rows) {
        const std::string name = ipctest::unique_name("gc_shm_seam_");
        Inject injector(base, sysshm_os::set_calls);
        for (const auto& [call, fault] : faults) injector.fail(call, fault);
        testlog::clear();
        {
            ipctest::ComponentRun run(SysShm__Entry);
            EXPECT_EQ(act(name), expected) << "call " << faults.back().first;
        }
        const std::vector<std::string> lines = seamfault::injected_lines(CMPID_SysShm);
        EXPECT_EQ(testlog::count_starting("SysShm: <name>"), 0) << "a record was left at the shut-down";
        const rts::OsError error = faults.back().second.error;
        EXPECT_THAT(lines, testing::Contains(seamfault::line(error, object != nullptr ? object + name : "")));
        EXPECT_TRUE(count == 0 ? !lines.empty() : lines.size() == count) << lines.size();
        EXPECT_EQ(injector.succeeded(kOpen) + injector.succeeded(kCreate), injector.calls(kClose));
        EXPECT_EQ(injector.succeeded(kDevice), injector.calls(kDeviceClose));
    }
}

// A record keeps every bit of a size of 4 GiB and more: the platform is asked for all of it,
// the lock covers all of it, and an open that names only its low 32 bits asks for another size.
TEST(SysShmSeam, SizesOfFourGibibytesAndMoreKeepAllTheirBits) {
    const C onPaper = paper_mappings(sysshm_os::platform_calls());
    sysshm_os::set_calls(&onPaper);
    ipctest::ComponentRun run(SysShm__Entry);
    const std::string name = ipctest::unique_name("gc_shm_huge_");
    for (RTS_UI64 huge : {RTS_UI64{1} << 32, (RTS_UI64{1} << 32) + 16, (RTS_UI64{1} << 40) + 4096}) {
        RTS_SIZE size = huge;
        RTS_RESULT r = RES_FAILED;
        RTS_HANDLE h = open_block(name, size, &r, true);
        EXPECT_EQ(std::make_tuple(r, g_created, g_locked), std::make_tuple(RES_OK, huge, huge));
        size = static_cast<RTS_UI32>(huge) + 1;
        RTS_HANDLE refused = open_block(name, size, &r);
        EXPECT_EQ(std::make_tuple(refused, r, size),
                  std::make_tuple(RTS_INVALID_HANDLE, RES_BUFFERSIZE, huge));
        EXPECT_EQ(open_block(name, size), h);
        EXPECT_EQ(std::make_pair(SysSharedMemoryClose(h), SysSharedMemoryClose(h)),
                  std::make_pair(RES_OK, RES_OK));
        EXPECT_EQ(g_unlocked, huge);
    }
    sysshm_os::set_calls(nullptr);
}

// A block that the opening process may not use (the probe opens it, as the unprivileged user
// where the test runs as the superuser): RES_NO_OBJECT as always, and the log line says why.
TEST(SysShmAccess, DeniedOpenLogsTheCallAndTheOsError) {
    const std::string name = ipctest::unique_name("gc_shm_denied_");
#ifdef _WIN32
    PSECURITY_DESCRIPTOR descriptor = nullptr; // an empty access list: it grants no one anything
    ASSERT_TRUE(
        ConvertStringSecurityDescriptorToSecurityDescriptorA("D:", SDDL_REVISION_1, &descriptor, nullptr));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    HANDLE mapping =
        CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, 524, name.c_str());
    ASSERT_NE(mapping, nullptr);
    const std::string expected = "OpenFileMappingA failed for <name>" + name + "</name>: OS error 5";
#else
    const int fd = shm_open(("/" + name).c_str(), O_RDWR | O_CREAT | O_EXCL, 0); // mode 0: for no one
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ftruncate(fd, 524), 0);
    close(fd);
    const std::string expected = "shm_open failed for <name>" + name + "</name>: OS error 13";
#endif
    ipctest::Probe probe({"open-block", name, "524"});
    EXPECT_EQ(probe.read_line(), std::to_string(RES_NO_OBJECT));
    const std::vector<std::string> lines = probe.read_lines();
    EXPECT_EQ(probe.wait(), 0);
#ifdef _WIN32
    CloseHandle(mapping);
    LocalFree(descriptor);
#else
    shm_unlink(("/" + name).c_str());
#endif
    EXPECT_THAT(lines, testing::Contains(expected));
}

} // namespace
