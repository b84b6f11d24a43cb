// Heap adaptation: zero-filled data blocks, code memory that really executes, data and code
// areas, the readability probe, byte swapping, the comparison sign of the record interface and
// the hand-over to a memory tracker when one is present, and each failing call of the
// operating system, injected at the seam.
#include <map>
#include <string>

#include "cmpsettings.h"
#include "memory/sysmem_os.h"
#include "memory_fixture.h"
#include "sysmem.h"

namespace {

class SysMem : public memtest::Framework {};

TEST_F(SysMem, DataBlocksAreZeroedAndKeepTheirDataWhenResized) {
    RTS_RESULT r = RES_OK;
    EXPECT_EQ(SysMemAllocData("Test", 0, &r), nullptr);
    EXPECT_EQ(r, RES_PARAMETER);
    auto* block = static_cast<unsigned char*>(SysMemAllocData("Test", 4096, &r));
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(memtest::filled_with(block, 4096, 0));
    block[0] = 0x7E;
    EXPECT_EQ(SysMemReallocData("Test", block, 0, &r), nullptr);
    EXPECT_EQ(r, RES_PARAMETER);
    block = static_cast<unsigned char*>(SysMemReallocData("Test", block, 8192, &r));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[0], 0x7E);
    EXPECT_EQ(SysMemFreeData("Test", block), RES_OK);
    EXPECT_EQ(SysMemFreeData("Test", nullptr), RES_PARAMETER);
    EXPECT_EQ(SysMemGetCurrentHeapSize(&r), 0u);
    EXPECT_EQ(r, RES_NOTSUPPORTED);
}

TEST_F(SysMem, CodeMemoryHoldsTheGrownSizeAndExecutes) {
    RTS_RESULT r = RES_FAILED;
    EXPECT_EQ(SysMemAllocCode("Test", 0, &r), nullptr);
    EXPECT_EQ(r, RES_PARAMETER);
    auto* code = static_cast<unsigned char*>(SysMemAllocCode("Test", 100, &r));
    ASSERT_NE(code, nullptr);
    ASSERT_EQ(r, RES_OK);
    std::memset(code, 0xCC, 168);
    const unsigned char returns42[] = {0xB8, 0x2A, 0x00, 0x00, 0x00, 0xC3}; // mov eax, 42; ret
    std::memcpy(code + 160, returns42, sizeof returns42);
    EXPECT_EQ(reinterpret_cast<int (*)()>(code + 160)(), 42);
    EXPECT_EQ(SysMemFreeCode("Test", code), RES_OK);
    EXPECT_EQ(SysMemFreeCode("Test", nullptr), RES_PARAMETER);
}

TEST_F(SysMem, AreasByKind) {
    const std::pair<RTS_UI16, bool> cases[] = {{SYSMEM_AREA_DATA, true},
                                               {SYSMEM_AREA_CODE, true},
                                               {SYSMEM_AREA_CODE | SYSMEM_AREA_DATA, true},
                                               {SYSMEM_AREA_MARKER, false},
                                               {0x02, false}};
    for (auto [kind, provided] : cases) {
        RTS_RESULT r = RES_FAILED;
        auto* area = static_cast<unsigned char*>(SysMemAllocArea("Test", kind, 5000, &r));
        EXPECT_EQ(area != nullptr, provided) << kind;
        EXPECT_EQ(r, provided ? RES_OK : RES_NOMEMORY) << kind;
        if (area == nullptr) continue;
        EXPECT_TRUE(memtest::filled_with(area, 5000, 0));
        area[4999] = 1;
        EXPECT_EQ(SysMemFreeArea("Test", area + 16), RES_FAILED);
        EXPECT_EQ(SysMemFreeArea("Test", area), RES_OK);
        EXPECT_EQ(SysMemFreeArea("Test", area), RES_FAILED);
    }
    RTS_RESULT r = RES_OK;
    EXPECT_EQ(SysMemAllocArea("Test", SYSMEM_AREA_DATA, 0, &r), nullptr);
    EXPECT_EQ(r, RES_NOMEMORY);
    // The marker memory needs a physical window that no driver opens here.
    ASSERT_EQ(SettgSetIntValue("SysMem", "WinCE.MemoryAddress", 0x1000, 10), RES_OK);
    EXPECT_EQ(SysMemAllocArea("Test", SYSMEM_AREA_MARKER, 4096, &r), nullptr);
    EXPECT_EQ(r, RES_NOMEMORY);
    SettgRemoveKey("SysMem", "WinCE.MemoryAddress");
}

TEST_F(SysMem, ValidPointerProbesEveryByteWithoutFaulting) {
    int local[4] = {};
    auto* area = static_cast<unsigned char*>(SysMemAllocArea("Test", SYSMEM_AREA_DATA, 2 * 4096, nullptr));
    ASSERT_NE(area, nullptr);
    struct Case {
        const char* name;
        const void* address;
        RTS_SIZE size;
        RTS_RESULT expected;
    };
    const Case cases[] = {
        {"stack", local, sizeof local, RES_OK},
        {"size zero checks one byte", local, 0, RES_OK},
        {"whole area", area, 2 * 4096, RES_OK},
        {"null", nullptr, 4, RES_FAILED},
        {"wraps around", area, ~RTS_SIZE{0}, RES_FAILED},
        {"top of the address space", reinterpret_cast<void*>(~RTS_UINTPTR{0} - 4095), 16, RES_FAILED},
        {"first page", reinterpret_cast<void*>(RTS_UINTPTR{16}), 1, RES_FAILED},
    };
    for (const Case& c : cases) EXPECT_EQ(SysMemIsValidPointer(c.address, c.size, 0), c.expected) << c.name;
    ASSERT_EQ(SysMemFreeArea("Test", area), RES_OK);
    EXPECT_EQ(SysMemIsValidPointer(area + 4096, 1, 0), RES_FAILED);
}

TEST_F(SysMem, ForceSwapReversesEachElement) {
    struct Case {
        RTS_I32 elementSize;
        RTS_I32 count;
        std::vector<unsigned char> after;
        RTS_I32 result;
    };
    const std::vector<unsigned char> input = {1, 2, 3, 4, 5, 6, 7, 8};
    const Case cases[] = {
        {2, 4, {2, 1, 4, 3, 6, 5, 8, 7}, 8},
        {4, 2, {4, 3, 2, 1, 8, 7, 6, 5}, 8},
        {8, 1, {8, 7, 6, 5, 4, 3, 2, 1}, 8},
        {2, 1, {2, 1, 3, 4, 5, 6, 7, 8}, 2},
        {4, 0, input, 0},
        {4, -3, input, 0},
        {6, 1, input, -1},
        {1, 8, input, -1},
    };
    for (const Case& c : cases) {
        auto buffer = input;
        EXPECT_EQ(SysMemForceSwap(buffer.data(), c.elementSize, c.count), c.result) << c.elementSize;
        EXPECT_EQ(buffer, c.after) << c.elementSize << "x" << c.count;
        EXPECT_EQ(SysMemSwap(buffer.data(), c.elementSize, c.count), 0);
    }
    EXPECT_EQ(SysMemForceSwap(nullptr, 2, 1), -1);
}

TEST_F(SysMem, CompareGivesTheSignOnly) {
    const std::tuple<const char*, const char*, RTS_SIZE, RTS_I32> cases[] = {
        {"abc", "abd", 3, -1}, {"abz", "aba", 3, 1}, {"abc", "abd", 2, 0}, {nullptr, nullptr, 0, 0}};
    for (auto [a, b, size, sign] : cases) {
        sysmemcmp_struct cmp{a, b, size, 99};
        sysmemcmp(&cmp);
        EXPECT_EQ(cmp.result, sign) << size;
    }
}

// ---- faults at the operating-system seam ------------------------------------------------------

using sysmem_os::Calls;
constexpr rts::OsError kInjected = 4242; // any code: it must reach the log unchanged
int g_live = 0;                          // regions the platform handed out and did not release
void* g_refused = nullptr;               // the region whose release a fake refused

const Calls& platform() {
    return sysmem_os::platform_calls();
}

// The platform's calls, counting the regions handed out and released.
Calls counting() {
    Calls c = platform();
    c.pages_alloc.run = [](RTS_SIZE size, bool executable, void** pPages) {
        const rts::OsError e = platform().pages_alloc.run(size, executable, pPages);
        g_live += e == rts::kOsOk;
        return e;
    };
    c.pages_free.run = [](void* address) {
        const rts::OsError e = platform().pages_free.run(address);
        g_live -= e == rts::kOsOk;
        return e;
    };
    return c;
}

#define FAILING(call)                                                                                        \
    [](Calls& c) {                                                                                           \
        c.call.run = [](auto...) -> rts::OsError { return kInjected; };                                      \
        return c.call.name;                                                                                  \
    }

RTS_RESULT code_cycle() {
    RTS_RESULT r = RES_FAILED;
    void* code = SysMemAllocCode("Test", 100, &r);
    return code != nullptr ? SysMemFreeCode("Test", code) : r;
}
RTS_RESULT area_cycle() {
    RTS_RESULT r = RES_FAILED;
    void* area = SysMemAllocArea("Test", SYSMEM_AREA_DATA, 5000, &r);
    return area != nullptr ? SysMemFreeArea("Test", area) : r;
}

TEST_F(SysMem, EachFailingOsCallIsLoggedOnceAndAnswered) {
    struct Case {
        const char* (*fail)(Calls&); // makes one call fail and names it
        RTS_RESULT (*run)();
        RTS_RESULT expected;
    };
    auto refuseFree = [](Calls& c) {
        c.pages_free.run = [](void* address) -> rts::OsError {
            g_refused = address;
            return kInjected;
        };
        return c.pages_free.name;
    };
    const Case cases[] = {
        {FAILING(pages_alloc), code_cycle, RES_NOMEMORY},
        {FAILING(pages_alloc), area_cycle, RES_NOMEMORY},
        {FAILING(pages_lock), code_cycle, RES_OK},
        {FAILING(pages_lock), area_cycle, RES_OK},
        {FAILING(pages_unlock), code_cycle, RES_OK},
        {FAILING(pages_unlock), area_cycle, RES_OK},
        {refuseFree, code_cycle, RES_FAILED},
        {refuseFree, area_cycle, RES_OK},
        {FAILING(readable), [] { return SysMemIsValidPointer(&g_live, 4, 0); }, RES_FAILED},
    };
    for (const Case& c : cases) {
        Calls fake = counting();
        const std::string name = c.fail(fake);
        SCOPED_TRACE(name);
        g_live = 0;
        g_refused = nullptr;
        LogEarlyBufferClear();
        sysmem_os::set_calls(&fake);
        EXPECT_EQ(c.run(), c.expected);
        sysmem_os::set_calls(nullptr);
        if (g_refused != nullptr) {
            EXPECT_EQ(counting().pages_free.run(g_refused), rts::kOsOk);
        }
        EXPECT_EQ(g_live, 0); // every region released, by SysMem or, where the fake refused, here
        int logged = 0;
        for (const LogEntry& e : testlog::entries()) {
            if (e.ErrorId != kInjected)
                continue; // a real failure beside it (an unlock of an unlocked region)
            ++logged;
            EXPECT_EQ(e.CmpId, CMPID_SysMem);
            EXPECT_EQ(std::string(e.InfoText).rfind(name + " failed", 0), 0u) << e.InfoText;
        }
        EXPECT_EQ(logged, 1);
    }
}

// ---- a memory tracker supplied as a component -------------------------------------------------

struct FakeTracker {
    std::map<unsigned char*, std::pair<std::string, RTS_SIZE>> blocks; // handed-out address
    RTS_SIZE heap = 0;
    RTS_RESULT removeResult = RES_OK;
} g_fake;
constexpr RTS_SIZE kTrackerHeader = 16;

RTS_SIZE fake_get_size(RTS_SIZE size) {
    return size + kTrackerHeader;
}
void* fake_add(const char* owner, void* address, RTS_SIZE size, RTS_RESULT* pResult) {
    auto* handed = static_cast<unsigned char*>(address) + kTrackerHeader;
    g_fake.blocks[handed] = {owner != nullptr ? owner : "", size};
    g_fake.heap += size;
    *pResult = RES_OK;
    return handed;
}
void* fake_remove(const char* owner, void* address, RTS_RESULT* pResult) {
    auto it = g_fake.blocks.find(static_cast<unsigned char*>(address));
    *pResult = g_fake.removeResult;
    if (g_fake.removeResult != RES_OK || it == g_fake.blocks.end()) return address;
    g_fake.heap -= it->second.second;
    g_fake.blocks.erase(it);
    return static_cast<unsigned char*>(address) - kTrackerHeader;
}
RTS_SIZE fake_heap_size(RTS_RESULT* pResult) {
    *pResult = RES_OK;
    return g_fake.heap;
}

const CMExportEntry kTrackerExports[] = {
    {reinterpret_cast<RTS_VOID_FCTPTR>(fake_get_size), "MemGCGetSize", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(fake_add), "MemGCAdd", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(fake_remove), "MemGCRemove", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(fake_heap_size), "MemGCGetCurrentHeapSize", 0, 0},
    {nullptr, nullptr, 0, 0},
};

TEST(SysMemTracker, EveryBlockPassesThroughTheTracker) {
    g_fake = FakeTracker{};
    const auto list = memtest::list_with_tracker(kTrackerExports);
    ASSERT_EQ(CMInit2(nullptr, list.data(), 1), RES_OK);
    const RTS_SIZE heapAtStart = g_fake.heap;

    RTS_RESULT r = RES_FAILED;
    auto* block = static_cast<unsigned char*>(SysMemAllocData("Owner1", 40, &r));
    ASSERT_EQ(r, RES_OK);
    EXPECT_EQ(g_fake.blocks[block], (std::pair<std::string, RTS_SIZE>{"Owner1", 56}));
    EXPECT_TRUE(memtest::filled_with(block, 40, 0));
    EXPECT_EQ(SysMemGetCurrentHeapSize(&r), heapAtStart + 56);
    EXPECT_EQ(r, RES_OK);

    block = static_cast<unsigned char*>(SysMemReallocData("Owner1", block, 100, &r));
    ASSERT_EQ(r, RES_OK);
    EXPECT_EQ(g_fake.blocks[block].second, 116u);
    g_fake.removeResult = RES_NO_ACCESS; // the tracker refuses: the block stays
    EXPECT_EQ(SysMemFreeData("Owner1", block), RES_NO_ACCESS);
    g_fake.removeResult = RES_OK;
    EXPECT_EQ(SysMemFreeData("Owner1", block), RES_OK);
    EXPECT_EQ(g_fake.blocks.count(block), 0u);

    auto* code = static_cast<unsigned char*>(SysMemAllocCode("Owner2", 100, &r));
    ASSERT_EQ(r, RES_OK);
    EXPECT_EQ(g_fake.blocks[code].second, 168u + kTrackerHeader);
    EXPECT_EQ(SysMemFreeCode("Owner2", code), RES_OK);
    CMExit();
    EXPECT_EQ(g_fake.heap, 0u); // everything the framework took came back through the tracker
    testcmp::reset();
}

} // namespace
