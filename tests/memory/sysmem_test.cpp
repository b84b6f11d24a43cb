// Heap adaptation: bad arguments, the readability probe, byte swapping, areas of each kind, each
// failing call of the operating system injected at the seam (around code memory that really
// executes and a data area), and the hand-over to a memory tracker when one is present.
#include <algorithm>
#include <map>
#include <string>

#include "cmpsettings.h"
#include "memory/sysmem_os.h"
#include "memory_fixture.h"
#include "seam_fault.h"
#include "sysmem.h"
#include "log_reader.h"

namespace {

class SysMem : public memtest::Framework {};

TEST_F(SysMem, BadArgumentsAreRefused) {
    ASSERT_EQ(SettgSetIntValue("SysMem", "WinCE.MemoryAddress", 0x1000, 10), RES_OK); // no driver opens it
    void* block = SysMemAllocData("Test", 8, nullptr);
    constexpr RTS_SIZE kHuge = ~RTS_SIZE{0} / 2 + 1;
    const std::tuple<const char*, RTS_I64, RTS_I64> cases[] = {
        {"data of size 0", RESULT_OF(SysMemAllocData("Test", 0, r)), RES_PARAMETER},
        {"resize to 0", RESULT_OF(SysMemReallocData("Test", block, 0, r)), RES_PARAMETER},
        {"free null data", SysMemFreeData("Test", nullptr), RES_PARAMETER},
        {"code too large to grow", RESULT_OF(SysMemAllocCode("Test", kHuge, r)), RES_PARAMETER},
        {"free null code", SysMemFreeCode("Test", nullptr), RES_PARAMETER},
        {"area too large to grow", RESULT_OF(SysMemAllocArea("Test", SYSMEM_AREA_CODE, kHuge, r)),
         RES_NOMEMORY},
        {"area of no kind", RESULT_OF(SysMemAllocArea("Test", 0x02, 64, r)), RES_NOMEMORY},
        {"marker memory not opened", RESULT_OF(SysMemAllocArea("Test", SYSMEM_AREA_MARKER, 64, r)),
         RES_NOMEMORY},
        {"free null area", SysMemFreeArea("Test", nullptr), RES_FAILED},
        {"probe null", SysMemIsValidPointer(nullptr, 4, 0), RES_FAILED},
        {"swap null", SysMemForceSwap(nullptr, 2, 1), -1},
    };
    for (auto [name, result, expected] : cases) EXPECT_EQ(result, expected) << name;
    RTS_RESULT r = RES_OK;
    EXPECT_EQ((std::pair{SysMemGetCurrentHeapSize(&r), r}),
              std::pair(RTS_SIZE{0}, RES_NOTSUPPORTED)); // no tracker
    SysMemFree(block);
    SettgRemoveKey("SysMem", "WinCE.MemoryAddress");
}

TEST_F(SysMem, ValidPointerProbesEveryByteWithoutFaulting) {
    int local[4] = {};
    const std::tuple<const char*, const void*, RTS_SIZE, RTS_RESULT> cases[] = {
        {"stack", local, sizeof local, RES_OK},
        {"size zero checks one byte", local, 0, RES_OK},
        {"wraps around", local, ~RTS_SIZE{0}, RES_FAILED},
        {"top of the address space", reinterpret_cast<void*>(~RTS_UINTPTR{0} - 4095), 16, RES_FAILED},
    };
    for (auto [name, at, size, expected] : cases)
        EXPECT_EQ(SysMemIsValidPointer(at, size, 0), expected) << name;
}

// Swapped elements against reversing each one by hand; sizes other than 2, 4 and 8 are refused.
TEST_F(SysMem, ForceSwapReversesEachElementAndCompareGivesTheSign) {
    const std::vector<unsigned char> input = {1, 2, 3, 4, 5, 6, 7, 8};
    for (auto [elementSize, count] : {std::pair{2, 4}, {4, 2}, {8, 1}, {4, 0}, {4, -3}, {6, 1}}) {
        const bool swaps = elementSize != 6;
        auto buffer = input, expected = input;
        for (int i = 0; swaps && i < count; ++i)
            std::reverse(expected.begin() + i * elementSize, expected.begin() + (i + 1) * elementSize);
        EXPECT_EQ(SysMemForceSwap(buffer.data(), elementSize, count),
                  swaps ? elementSize * std::max(count, 0) : -1)
            << elementSize << "x" << count;
        EXPECT_EQ(buffer, expected) << elementSize << "x" << count;
    }
    for (auto [a, b, sign] : {std::tuple("ab", "ac", -1), {"az", "ab", 1}, {"ab", "ab", 0}}) {
        sysmemcmp_struct cmp{a, b, 2, 99};
        sysmemcmp(&cmp);
        EXPECT_EQ(cmp.result, sign) << a << " " << b;
    }
}

// Each kind of area comes zeroed, readable to its last byte, and is given back once, by its own
// address only; afterwards it is no longer readable.
TEST_F(SysMem, AreasOfEachKindAreFreedOnce) {
    for (RTS_UI16 kind : {SYSMEM_AREA_DATA, SYSMEM_AREA_CODE, SYSMEM_AREA_CODE | SYSMEM_AREA_DATA}) {
        auto* area = static_cast<unsigned char*>(SysMemAllocArea("Test", kind, 2 * 4096, nullptr));
        ASSERT_TRUE(area != nullptr && memtest::filled_with(area, 2 * 4096, 0));
        EXPECT_EQ(SysMemIsValidPointer(area, 2 * 4096, 0), RES_OK);
        EXPECT_EQ((std::tuple{SysMemFreeArea("Test", area + 16), SysMemFreeArea("Test", area),
                              SysMemFreeArea("Test", area), SysMemIsValidPointer(area + 4096, 1, 0)}),
                  std::tuple(RES_FAILED, RES_OK, RES_FAILED, RES_FAILED));
    }
}

// ---- faults at the operating-system seam ------------------------------------------------------

using C = sysmem_os::Calls;
enum { kAlloc, kFree, kLock, kUnlock, kReadable };

// Code memory of the grown size (100 bytes give 168) that executes, given back.
RTS_RESULT code_cycle() {
    RTS_RESULT r = RES_FAILED;
    auto* code = static_cast<unsigned char*>(SysMemAllocCode("Test", 100, &r));
    if (code == nullptr || r != RES_OK) return r;
    const unsigned char returns42[] = {0xB8, 0x2A, 0x00, 0x00, 0x00, 0xC3}; // mov eax, 42; ret
    EXPECT_EQ(reinterpret_cast<int (*)()>(std::memcpy(code + 162, returns42, sizeof returns42))(), 42);
    return SysMemFreeCode("Test", code);
}
RTS_RESULT area_cycle() {
    RTS_RESULT r = RES_FAILED;
    void* area = SysMemAllocArea("Test", SYSMEM_AREA_DATA, 5000, &r);
    return area != nullptr ? SysMemFreeArea("Test", area) : r;
}
RTS_RESULT probe() {
    int readable = 0;
    return SysMemIsValidPointer(&readable, sizeof readable, 0);
}

// Each platform call failing in turn: the documented result, one log line under SysMem's id
// with the OS error, and every region the platform handed out released again (a release that
// reports an error after it happened counts as released).
TEST_F(SysMem, EachFailingOsCallIsLoggedOnceAndAnswered) {
    const seamfault::Fault fails{4242}, failsAfter{4242, seamfault::kEveryCall, true};
    const std::tuple<int, seamfault::Fault, RTS_RESULT (*)(), RTS_RESULT> rows[] = {
        {kAlloc, fails, code_cycle, RES_NOMEMORY},   {kAlloc, fails, area_cycle, RES_NOMEMORY},
        {kLock, fails, code_cycle, RES_OK},          {kLock, fails, area_cycle, RES_OK},
        {kUnlock, fails, code_cycle, RES_OK},        {kUnlock, fails, area_cycle, RES_OK},
        {kFree, failsAfter, code_cycle, RES_FAILED}, {kFree, failsAfter, area_cycle, RES_OK},
        {kReadable, fails, probe, RES_FAILED},
    };
    for (const auto& [entry, fault, run, expected] : rows) {
        SCOPED_TRACE(entry);
        seamfault::Injector<C, &C::pages_alloc, &C::pages_free, &C::pages_lock, &C::pages_unlock,
                            &C::readable>
            injector(sysmem_os::platform_calls(), sysmem_os::set_calls);
        injector.fail(entry, fault);
        testlog::clear();
        EXPECT_EQ(run(), expected);
        EXPECT_EQ(seamfault::injected_lines(CMPID_SysMem), std::vector{seamfault::line(fault.error)});
        EXPECT_EQ(injector.succeeded(kAlloc), injector.calls(kFree));
    }
}

// ---- a memory tracker supplied as a component -------------------------------------------------

constexpr RTS_SIZE kTrackerHeader = 16;
std::map<void*, std::pair<std::string, RTS_SIZE>> g_tracked; // by handed-out address: owner, size
RTS_RESULT g_refusal = RES_OK; // what the tracker answers every request with while it is not RES_OK

void* tracker_add(const char* owner, void* address, RTS_SIZE size, RTS_RESULT* pResult) {
    if ((*pResult = g_refusal) != RES_OK) return nullptr;
    void* handed = static_cast<unsigned char*>(address) + kTrackerHeader;
    g_tracked[handed] = {owner != nullptr ? owner : "", size};
    return handed;
}
void* tracker_remove(const char*, void* address, RTS_RESULT* pResult) {
    if ((*pResult = g_refusal) != RES_OK) return nullptr;
    if (g_tracked.erase(address) == 0) return address; // made before the tracker came
    return static_cast<unsigned char*>(address) - kTrackerHeader;
}
RTS_SIZE tracker_heap(RTS_RESULT* pResult) {
    RTS_SIZE heap = 0;
    for (const auto& [address, block] : g_tracked) heap += block.second;
    return *pResult = RES_OK, heap;
}
const CMExportEntry kTracker[] = {
    memtest::export_as("MemGCGetSize", [](RTS_SIZE size) { return size + kTrackerHeader; }),
    memtest::export_as("MemGCAdd", tracker_add),
    memtest::export_as("MemGCRemove", tracker_remove),
    memtest::export_as("MemGCGetCurrentHeapSize", tracker_heap),
    {}};

TEST(SysMemTracker, EveryBlockPassesThroughTheTracker) {
    ASSERT_EQ(memtest::start_with(kTracker), RES_OK);
    RTS_RESULT r = RES_FAILED;
    const RTS_SIZE heapAtStart = SysMemGetCurrentHeapSize(&r);
    void* block = SysMemAllocData("Owner1", 40, &r);
    EXPECT_EQ(g_tracked[block], (std::pair<std::string, RTS_SIZE>{"Owner1", 56}));
    EXPECT_TRUE(memtest::filled_with(block, 40, 0));
    EXPECT_EQ((std::pair{SysMemGetCurrentHeapSize(&r), r}), std::pair(heapAtStart + 56, RES_OK));
    block = SysMemReallocData("Owner1", block, 100, &r);
    EXPECT_EQ(g_tracked[block].second, 116u);
    g_refusal = RES_NO_ACCESS; // nothing is allocated, resized or freed
    EXPECT_EQ((std::tuple{SysMemFreeData("Owner1", block), RESULT_OF(SysMemAllocData("Owner1", 8, r)),
                          RESULT_OF(SysMemReallocData("Owner1", block, 200, r))}),
              std::tuple(RES_NO_ACCESS, RES_NO_ACCESS, RES_NO_ACCESS));
    g_refusal = RES_OK;
    EXPECT_EQ((std::pair{SysMemFreeData("Owner1", block), g_tracked.count(block)}),
              std::pair(RES_OK, size_t{0}));
    void* code = SysMemAllocCode("Owner2", 97, &r); // 112 and half as much again
    EXPECT_EQ(g_tracked[code].second, 168u + kTrackerHeader);
    EXPECT_EQ(SysMemFreeCode("Owner2", code), RES_OK);
    CMExit();
    EXPECT_TRUE(g_tracked.empty()); // everything the framework took came back through the tracker
}

} // namespace
