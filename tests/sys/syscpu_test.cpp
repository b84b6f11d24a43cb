// Processor helpers: bit, add and compare-and-swap operations with their misalignment warnings,
// sized single accesses, atomicity under two threads, context capture and frame-pointer walks
// (the test builds keep frame pointers), the walk out of application code, memory probes, calls
// with a parameter block, every refusal of bad input and a failing cache flush.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "log_reader.h"
#include "seam_fault.h"
#include "sys/syscpu_os.h"
#include "syscpu.h"
#include "test_components.h"

extern "C" RTS_RESULT SysCpuHandling__Entry(ComponentInitRecord* pInit);

namespace {

// Delivers a hook to the component the way the manager does.
void deliver_hook(RTS_UI32 hook) {
    ComponentInitRecord init{};
    ASSERT_EQ(SysCpuHandling__Entry(&init), RES_OK);
    EXPECT_EQ(init.hookFunction(hook, 0, 0), RES_OK);
}

// 16-aligned storage, so that offsets give known misalignments.
struct alignas(16) Scratch {
    RTS_UI8 bytes[32];
};

// An address that no process maps: the first page.
constexpr RTS_UINTPTR kUnmapped = 0x10;

TEST(SysCpuTestAndSetBit, ChangesTheBitCountedFromTheAlignedWord) {
    // Byte offset from a 4-byte boundary, width, bit; the aligned word and the bit that change.
    const std::tuple<int, RTS_UI32, RTS_I32, int, RTS_UI32> cases[] = {
        {0, 4, 4, 0, 1u << 4},   {1, 1, 0, 0, 1u << 8},  {1, 4, 24, 1, 1u << 0}, {3, 2, 15, 1, 1u << 7},
        {2, 8, 63, 2, 1u << 15}, {0, 8, 40, 1, 1u << 8}, {3, 1, 7, 0, 1u << 31}};
    for (const auto& [offset, len, bit, word, mask] : cases) {
        Scratch s{};
        RTS_UI8* address = s.bytes + offset;
        RTS_UI32 words[8] = {};
        words[word] = mask;
        EXPECT_EQ(SysCpuTestAndSetBit(address, len, bit, 1), RES_OK) << offset << "/" << bit;
        EXPECT_EQ(std::memcmp(s.bytes, words, sizeof words), 0) << offset << "/" << bit;
        EXPECT_EQ(SysCpuTestAndSetBit2(address, len, bit, 1), RES_FAILED);
        EXPECT_EQ(SysCpuTestAndSetBit(address, len, bit, 0), RES_OK);
        EXPECT_EQ(SysCpuTestAndSetBit2(address, len, bit, 0), RES_FAILED);
        EXPECT_EQ(std::vector<RTS_UI8>(s.bytes, s.bytes + 32), std::vector<RTS_UI8>(32, 0));
    }
}

// At an aligned address and at one that is a multiple of neither 4 nor 8 (inside one cache line):
// add gives the new value (the 32-bit sum wraps, the 64-bit one carries across bit 32) and
// compare-and-swap stores only over the expected value, in its own width. Each misaligned kind
// warns once per run; a 4-aligned address is misaligned for the 64-bit operations only.
TEST(SysCpuAtomic, AddAndSwapWorkAtAnyAlignmentAndEachMisalignedKindWarnsOnce) {
    deliver_hook(CH_INIT);
    testlog::clear();
    Scratch s{};
    SysCpuAtomicAdd(reinterpret_cast<RTS_I32*>(s.bytes + 4), 0, nullptr);
    EXPECT_EQ(static_cast<int>(testlog::entries().size()), 0);
    for (void* at : {s.bytes + 8, s.bytes + 1, s.bytes + 1}) {
        auto* value32 = static_cast<RTS_I32*>(at);
        auto* value64 = static_cast<RTS_I64*>(at);
        RTS_RESULT r[2] = {RES_FAILED, RES_FAILED};
        EXPECT_EQ(SysCpuAtomicAdd(value32, INT32_MAX, &r[0]), INT32_MAX);
        EXPECT_EQ(SysCpuAtomicAdd(value32, 1, nullptr), INT32_MIN);
        EXPECT_EQ(SysCpuAtomicAdd64(value64, 0x80000000LL, &r[1]), 0x100000000LL);
        const RTS_UI32 low = 0, stale32 = 1, nine = 9;
        const RTS_UI64 stale64 = 9, expected64 = 0x100000009ULL, zero = 0;
        EXPECT_EQ(SysCpuAtomicCompareAndSwap(at, &nine, &low, 4), RES_OK);
        EXPECT_EQ(SysCpuAtomicCompareAndSwap(at, &low, &stale32, 4), RES_FAILED);
        EXPECT_EQ(SysCpuAtomicCompareAndSwap(at, &zero, &stale64, 8), RES_FAILED);
        EXPECT_EQ(SysCpuAtomicCompareAndSwap(at, &zero, &expected64, 8), RES_OK);
        EXPECT_EQ(SysCpuAtomicAdd64(value64, INT64_MAX, nullptr), INT64_MAX);
        EXPECT_EQ(SysCpuAtomicAdd64(value64, 1, nullptr), INT64_MIN);
        EXPECT_EQ(SysCpuAtomicAdd64(value64, INT64_MIN, nullptr), 0);
        EXPECT_EQ(std::vector<RTS_RESULT>(r, r + 2), std::vector<RTS_RESULT>(2, RES_OK));
        for (RTS_UI8 b : s.bytes) EXPECT_EQ(b, 0);
    }
    for (const char* kind : {"SysCpuAtomicAdd ", "SysCpuAtomicAdd64 ", "SysCpuAtomicCompareAndSwap(32) ",
                             "SysCpuAtomicCompareAndSwap(64) "})
        EXPECT_EQ(testlog::count_starting(std::string(kind) + "called with misaligned address 0x"), 1)
            << kind;
    for (const LogEntry& e : testlog::entries())
        EXPECT_EQ(std::make_tuple(e.CmpId, e.ClassId), std::make_tuple(CMPID_SysCpuHandling, LOG_WARNING));
    EXPECT_EQ(static_cast<int>(testlog::entries().size()), 4);
    testlog::clear();
}

TEST(SysCpuSingleAccess, CopiesEachSupportedWidthAtAnyAlignment) {
    for (RTS_SIZE size : {1, 2, 4, 8}) {
        for (int offset : {0, 1, 3, 4}) {
            Scratch shared{}, local{}, back{};
            for (RTS_SIZE i = 0; i < size; ++i) local.bytes[i] = static_cast<RTS_UI8>(0xA0 + i);
            EXPECT_EQ(SysCpuWriteValueAtomic(shared.bytes + offset, local.bytes, size), RES_OK);
            EXPECT_EQ(std::memcmp(shared.bytes + offset, local.bytes, size), 0);
            EXPECT_EQ(shared.bytes[offset + size], 0) << "wrote past the value";
            EXPECT_EQ(SysCpuReadValueAtomic(shared.bytes + offset, back.bytes, size), RES_OK);
            EXPECT_EQ(std::memcmp(back.bytes, local.bytes, size), 0);
            EXPECT_EQ(back.bytes[size], 0) << "wrote past the value";
        }
    }
    RTS_UI64 registers[2] = {};
    EXPECT_EQ(SysCpuSetRegisterValue(registers, 1, 6), RES_OK);
    EXPECT_EQ(std::make_tuple(registers[0], registers[1]), std::make_tuple(0u, 6u));
}

// Each refusal of the processor helpers, one row per guard; nothing is written.
TEST(SysCpuBadInput, EveryGuardRefusesWithItsResult) {
    deliver_hook(CH_INIT_SYSTEM); // the application component is not there
    Scratch s{};
    RTS_UI64 word = 0;
    RTS_RESULT r = RES_OK;
    void* address = nullptr;
    RTS_UINTPTR bp = 8;
    RegContext context{};
    auto* word32 = reinterpret_cast<RTS_UI32*>(&word);
    const auto fn = reinterpret_cast<RTS_VOID_FCTPTR>(+[](void*) {});
    const std::pair<RTS_RESULT, std::function<RTS_RESULT()>> cases[] = {
        {RES_PARAMETER, [&] { return SysCpuTestAndSet(word32, 32); }},
        {RES_PARAMETER, [&] { return SysCpuTestAndSetBit(nullptr, 4, 0, 1); }},
        {RES_PARAMETER, [&] { return SysCpuTestAndSetBit(s.bytes, 3, 0, 1); }},
        {RES_PARAMETER, [&] { return SysCpuTestAndSetBit2(s.bytes, 2, 16, 1); }},
        {RES_PARAMETER, [&] { return SysCpuAtomicAdd(nullptr, 1, &r) == 0 ? r : RES_OK; }},
        {RES_PARAMETER, [&] { return SysCpuAtomicAdd64(nullptr, 1, &r) == 0 ? r : RES_OK; }},
        {RES_PARAMETER, [&] { return SysCpuAtomicCompareAndSwap(&word, &word, nullptr, 8); }},
        {RES_PARAMETER, [&] { return SysCpuAtomicCompareAndSwap(&word, &word, &word, 2); }},
        {RES_PARAMETER, [&] { return SysCpuReadInt64(nullptr, &r) == 0 ? r : RES_OK; }},
        {RES_PARAMETER, [&] { return SysCpuReadReal64(nullptr, &r) == 0.0 ? r : RES_OK; }},
        {RES_PARAMETER, [&] { return SysCpuWriteInt64(nullptr, 1); }},
        {RES_PARAMETER, [&] { return SysCpuWriteReal64(nullptr, 1.0); }},
        {RES_PARAMETER, [&] { return SysCpuReadValueAtomic(nullptr, &word, 8); }},
        {RES_PARAMETER, [&] { return SysCpuWriteValueAtomic(s.bytes, &word, 3); }},
        {RES_PARAMETER, [&] { return SysCpuSetRegisterValue(&word, -1, 1); }},
        {RES_PARAMETER, [&] { return SysCpuGetContext(nullptr); }},
        {RES_PARAMETER, [&] { return SysCpuGetCallstackEntry(&bp, nullptr); }},
        {RES_NOTIMPLEMENTED, [&] { return SysCpuGetCallstackEntry2(0, &bp, &address); }},
        {RES_NOTSUPPORTED, [&] { return SysCpuGetCallstackEntry3(&bp, &address); }},
        {RES_PARAMETER, [&] { return SysCpuGetInstancePointer(&context, &word); }},
        {RES_PARAMETER, [&] { return SysCpuGetBreakpointCode(nullptr, word32); }},
        {RES_PARAMETER, [&] { return SysCpuCallIecFuncWithParams(fn, s.bytes, 0); }},
    };
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].second(), cases[i].first) << "row " << i;
    EXPECT_EQ(std::make_tuple(word, bp), std::make_tuple(RTS_UI64{0}, RTS_UINTPTR{8}));
    for (RTS_UI8 b : s.bytes) EXPECT_EQ(b, 0);
}

// The cache flush failing: RES_FAILED and one line with the OS error.
TEST(SysCpuSeam, EachFailingCallIsLoggedAndReported) {
    using C = syscpu_os::Calls;
    RTS_UI8 code[64] = {};
    for (const auto& [error, result] :
         {std::pair{rts::kOsOk, RES_OK}, std::pair{rts::OsError{5}, RES_FAILED}}) {
        seamfault::Injector<C, &C::flush_instruction_cache> injector(syscpu_os::platform_calls(),
                                                                     syscpu_os::set_calls);
        injector.fail(0, {error});
        testlog::clear();
        EXPECT_EQ(SysCpuFlushInstructionCache(code, sizeof code), result);
        EXPECT_EQ(seamfault::injected_lines(CMPID_SysCpuHandling),
                  std::vector<std::string>(error != 0 ? 1 : 0, seamfault::line(error)));
    }
    testlog::clear();
}

TEST(SysCpuConcurrency, TwoThreadsGiveExactTotals) {
    constexpr int kRounds = 100000, kWords = 64;
    alignas(8) RTS_I32 counter32 = 0;
    alignas(8) RTS_I64 counter64 = 0;
    RTS_UI32 claims[kWords] = {};
    int claimed[2] = {0, 0};
    auto worker = [&](int id) {
        for (int i = 0; i < kRounds; ++i) {
            SysCpuAtomicAdd(&counter32, 1, nullptr);
            SysCpuAtomicAdd64(&counter64, 0x100000001LL, nullptr);
        }
        // Both threads try every bit; each bit must be won exactly once.
        for (int w = 0; w < kWords; ++w)
            for (int b = 0; b < 32; ++b) claimed[id] += SysCpuTestAndSet(&claims[w], b) == RES_OK ? 1 : 0;
    };
    std::thread a(worker, 0), b(worker, 1);
    a.join();
    b.join();
    EXPECT_EQ(std::make_tuple(counter32, counter64),
              std::make_tuple(2 * kRounds, 2LL * kRounds * 0x100000001LL));
    EXPECT_EQ(claimed[0] + claimed[1], kWords * 32);
    for (RTS_UI32& w : claims) {
        EXPECT_EQ(SysCpuTestAndReset(&w, 31), RES_OK);
        EXPECT_EQ(SysCpuTestAndReset(&w, 31), RES_FAILED);
        EXPECT_EQ(w, 0x7FFFFFFFu);
    }
}

// The frame of a call and one step of the walk from it, taken while the frames are live.
struct Capture {
    RegContext context;
    RTS_RESULT result, stepResult;
    void *frame[2], *back, *stepAddress; // frame addresses (the call's, its caller's), return address
    RTS_UINTPTR stepBp;
};

[[gnu::noinline]] void capture_inner(Capture* c) {
    c->frame[0] = __builtin_frame_address(0);
    c->back = __builtin_return_address(0);
    c->result = SysCpuGetContext(&c->context);
    c->stepBp = static_cast<RTS_UINTPTR>(c->context.BP);
    c->stepResult = SysCpuGetCallstackEntry2(1, &c->stepBp, &c->stepAddress);
}

[[gnu::noinline]] void capture_outer(Capture* c) {
    c->frame[1] = __builtin_frame_address(0);
    capture_inner(c);
    __asm__ volatile("" ::: "memory"); // keeps the call above from becoming a jump
}

TEST(SysCpuGetContext, GivesTheCallersFrameAndWalksUpTheChain) {
    Capture c{{7, 7, 7}}; // what the call must overwrite
    capture_outer(&c);
    ASSERT_EQ(c.result, RES_OK);
    EXPECT_EQ(std::make_tuple(c.context.PC, c.context.BP),
              std::make_tuple(0u, reinterpret_cast<RTS_UINTPTR>(c.frame[0])));
    EXPECT_NE(c.context.SP, 0u);
    EXPECT_LE(c.context.SP, c.context.BP);
    EXPECT_LT(c.context.BP - c.context.SP, 4096u);
    EXPECT_EQ(std::make_tuple(c.stepResult, c.stepAddress, c.stepBp),
              std::make_tuple(RES_OK, c.back, reinterpret_cast<RTS_UINTPTR>(c.frame[1])));
}

TEST(SysCpuMemoryProbes, ReadWhatIsReadableAndStopAtWhatIsNot) {
    constexpr RTS_UI64 kPattern = 0x0DDBA11CAFEF00DULL;
    std::vector<RTS_UI64> words(256, 0);
    words[40] = words[90] = kPattern;
    words[10] = 0x1234; // a frame: the caller's frame pointer, then the return address
    words[11] = 0x5678;
    RTS_RESULT r = RES_FAILED;
    EXPECT_EQ(SysCpuSearchOnStack_(&words[3], kPattern, &r), &words[40]);
    EXPECT_EQ(r, RES_OK);
    EXPECT_EQ(SysCpuSearchOnStack_(&words[41], kPattern, nullptr), &words[90]);
    EXPECT_EQ(SysCpuSearchOnStack_(reinterpret_cast<void*>(kUnmapped), kPattern, &r), nullptr);
    EXPECT_EQ(r, RES_NOMEMORY);
    RTS_UINTPTR bp = reinterpret_cast<RTS_UINTPTR>(&words[10]);
    void* address = nullptr;
    EXPECT_EQ(SysCpuGetCallstackEntry(&bp, &address), RES_OK);
    EXPECT_EQ(std::make_pair(bp, address),
              std::make_pair(RTS_UINTPTR{0x1234}, reinterpret_cast<void*>(0x5678)));
    bp = kUnmapped;
    EXPECT_EQ(SysCpuGetCallstackEntry(&bp, &address), RES_NOMEMORY);
    EXPECT_EQ(bp, 0u);
    RegContext context{reinterpret_cast<RTS_UINTPTR>(&words[8]), 0, 0};
    RTS_UI64 instance = 0;
    EXPECT_EQ(SysCpuGetInstancePointer(&context, &instance), RES_OK);
    EXPECT_EQ(instance, 0x1234u); // offset 16
    context.PC = kUnmapped;
    EXPECT_EQ(SysCpuGetInstancePointer(&context, &instance), RES_PARAMETER);
}

RTS_RESULT application_by_area(void*, RTS_HANDLE*) {
    return RES_OK;
}

// With an application component present, the walk out of application code starts at the frame
// that called into it: the marker on the stack is followed by that frame's pointer.
TEST(SysCpuApplicationWalk, ContinuesAtTheFrameThatCalledTheApplicationOrSaysWhyNot) {
    const CMExportEntry application[] = {
        {reinterpret_cast<RTS_VOID_FCTPTR>(application_by_area), "AppGetApplicationByAreaAddress", 0, 0},
        {nullptr, nullptr, 0, 0}};
    const StaticComponent list[] = {{"TestApplication", testcmp::entry(0), 1},
                                    {"SysCpuHandling", SysCpuHandling__Entry, 0},
                                    {nullptr, nullptr, 0}};
    testcmp::reset();
    testcmp::slot(0).exports = application;
    ASSERT_EQ(CMInit2(nullptr, list, 1), RES_OK);
    RTS_UI64 frame[2] = {0x1234, 0x5678};
    for (const RTS_UI64 caller : {RTS_UI64{reinterpret_cast<RTS_UINTPTR>(frame)}, RTS_UI64{0}}) {
        RTS_UI64 stack[8] = {1, 2, 3, SYSCPU_STACK_MARKER, caller, 0, 0, 0}; // words, marker, frame
        RTS_UINTPTR bp = reinterpret_cast<RTS_UINTPTR>(stack);
        void* address = nullptr;
        testlog::clear();
        EXPECT_EQ(SysCpuGetCallstackEntry3(&bp, &address), caller != 0 ? RES_OK : RES_FAILED);
        EXPECT_EQ(bp, caller != 0 ? 0x1234u : reinterpret_cast<RTS_UINTPTR>(stack));
        EXPECT_EQ(address, caller != 0 ? reinterpret_cast<void*>(0x5678) : nullptr);
        EXPECT_EQ(testlog::count_starting("Unable to retrieve context for task in external call."),
                  caller ? 0 : 1);
    }
    CMExit();
}

// What the called function saw: how often it ran, and whether its area was 16-aligned and held
// the block followed by zero padding. It adds 1 to every byte of the area.
RTS_SIZE g_iecSize;
int g_iecCalls;
bool g_iecAreaRight;

void iec_function(void* area) {
    auto* bytes = static_cast<RTS_UI8*>(area);
    ++g_iecCalls;
    g_iecAreaRight = reinterpret_cast<std::uintptr_t>(area) % 16 == 0;
    for (RTS_SIZE i = 0; i < (g_iecSize + 15) / 16 * 16; ++i) {
        g_iecAreaRight = g_iecAreaRight && bytes[i] == (i < g_iecSize ? static_cast<RTS_UI8>(i * 7) : 0);
        ++bytes[i];
    }
}

TEST(SysCpuCallIecFuncWithParams, CopiesTheBlockInAndBack) {
    for (RTS_SIZE size : {0, 1, 5, 16, 17, 5000}) {
        std::vector<RTS_UI8> block(size + 8, 0xEE); // 8 guard bytes after the block
        for (RTS_SIZE i = 0; i < size; ++i) block[i] = static_cast<RTS_UI8>(i * 7);
        g_iecSize = size;
        g_iecCalls = 0;
        const auto fn = reinterpret_cast<RTS_VOID_FCTPTR>(iec_function);
        ASSERT_EQ(SysCpuCallIecFuncWithParams(fn, size != 0 ? block.data() : nullptr, size), RES_OK);
        EXPECT_EQ(std::make_tuple(g_iecCalls, g_iecAreaRight), std::make_tuple(1, true)) << size;
        for (RTS_SIZE i = 0; i < block.size(); ++i)
            ASSERT_EQ(block[i], i < size ? static_cast<RTS_UI8>(i * 7 + 1) : 0xEE) << size << "/" << i;
    }
}

} // namespace
