/* Processor helpers: context capture and frame-pointer walks, stack search, the instance
 * pointer, the break-point code, cache flushes and calls with a parameter block. The walk tests
 * rely on frame pointers, which the test builds keep. */
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "cmplog.h"
#include "syscpu.h"
#include "test_components.h"

extern "C" RTS_RESULT SysCpuHandling__Entry(ComponentInitRecord* pInit);

namespace {

/* An address that no process maps: the first page. */
constexpr RTS_UINTPTR kUnmapped = 0x10;

struct Capture {
    RegContext context;
    RTS_RESULT result;
    void* own_frame;
    void* own_return;
    void* outer_frame;
    void* outer_return;
    /* two steps of the walk, taken while the frames are still live */
    RTS_RESULT step_result[2];
    RTS_UINTPTR step_bp[2];
    void* step_address[2];
};

[[gnu::noinline]] void capture_inner(Capture* c) {
    c->own_frame = __builtin_frame_address(0);
    c->own_return = __builtin_return_address(0);
    c->result = SysCpuGetContext(&c->context);
    RTS_UINTPTR bp = static_cast<RTS_UINTPTR>(c->context.BP);
    for (int i = 0; i < 2; ++i) {
        c->step_result[i] = SysCpuGetCallstackEntry2(1, &bp, &c->step_address[i]);
        c->step_bp[i] = bp;
    }
}

[[gnu::noinline]] void capture_outer(Capture* c) {
    c->outer_frame = __builtin_frame_address(0);
    c->outer_return = __builtin_return_address(0);
    capture_inner(c);
    __asm__ volatile("" ::: "memory"); /* keeps the call above from becoming a jump */
}

TEST(SysCpuGetContext, GivesTheCallersFrameAndWalksUpTheChain) {
    Capture c{};
    capture_outer(&c);
    ASSERT_EQ(c.result, RES_OK);
    EXPECT_EQ(c.context.PC, 0u);
    EXPECT_EQ(c.context.BP, reinterpret_cast<RTS_UINTPTR>(c.own_frame));
    EXPECT_NE(c.context.SP, 0u);
    EXPECT_LE(c.context.SP, c.context.BP);
    EXPECT_LT(c.context.BP - c.context.SP, 4096u);

    EXPECT_EQ(c.step_result[0], RES_OK);
    EXPECT_EQ(c.step_address[0], c.own_return);
    EXPECT_EQ(c.step_bp[0], reinterpret_cast<RTS_UINTPTR>(c.outer_frame));
    EXPECT_EQ(c.step_result[1], RES_OK);
    EXPECT_EQ(c.step_address[1], c.outer_return);
}

TEST(SysCpuGetCallstackEntry, RejectsMissingFramesAndReportsUnreadableOnes) {
    void* address = nullptr;
    RTS_UINTPTR bp = 0;
    EXPECT_EQ(SysCpuGetCallstackEntry(&bp, &address), RES_PARAMETER);
    EXPECT_EQ(SysCpuGetCallstackEntry(nullptr, &address), RES_PARAMETER);
    bp = kUnmapped;
    EXPECT_EQ(SysCpuGetCallstackEntry(&bp, nullptr), RES_PARAMETER);
    EXPECT_EQ(SysCpuGetCallstackEntry(&bp, &address), RES_NOMEMORY);
    EXPECT_EQ(bp, 0u);

    RTS_UI64 frame[2] = {0x1234, 0x5678};
    bp = reinterpret_cast<RTS_UINTPTR>(frame);
    EXPECT_EQ(SysCpuGetCallstackEntry2(0, &bp, &address), RES_NOTIMPLEMENTED);
    EXPECT_EQ(bp, reinterpret_cast<RTS_UINTPTR>(frame));
    /* Without the application component the application walk is not offered. */
    EXPECT_EQ(SysCpuGetCallstackEntry3(&bp, &address), RES_NOTSUPPORTED);
    ASSERT_EQ(SysCpuGetCallstackEntry2(2, &bp, &address), RES_OK);
    EXPECT_EQ(bp, 0x1234u);
    EXPECT_EQ(address, reinterpret_cast<void*>(0x5678));
}

/* With an application component present, the walk out of application code starts at the frame
 * that called into it: the marker on the stack is followed by that frame's pointer. */
class SysCpuApplicationWalk : public ::testing::Test {
protected:
    static RTS_RESULT application_by_area(void*, RTS_HANDLE*) { return RES_OK; }

    void SetUp() override {
        testcmp::reset();
        testcmp::slot(0).exports = kApplication;
        ASSERT_EQ(CMInit2(nullptr, list_, 1), RES_OK);
        LogEarlyBufferClear();
    }
    void TearDown() override { CMExit(); }

    const CMExportEntry kApplication[2] = {
        {reinterpret_cast<RTS_VOID_FCTPTR>(application_by_area), "AppGetApplicationByAreaAddress", 0, 0},
        {nullptr, nullptr, 0, 0},
    };
    const StaticComponent list_[3] = {{"TestApplication", testcmp::entry(0), 1},
                                      {"SysCpuHandling", SysCpuHandling__Entry, 0},
                                      {nullptr, nullptr, 0}};
    /* the stack below the call into application code: a few words, the marker, the frame */
    RTS_UI64 frame_[2] = {0x1234, 0x5678};
    RTS_UI64 stack_[8] = {1, 2, 3, SYSCPU_STACK_MARKER, reinterpret_cast<RTS_UINTPTR>(frame_), 0, 0, 0};
};

TEST_F(SysCpuApplicationWalk, ContinuesAtTheFrameThatCalledTheApplication) {
    RTS_UINTPTR bp = reinterpret_cast<RTS_UINTPTR>(stack_);
    void* address = nullptr;
    ASSERT_EQ(SysCpuGetCallstackEntry3(&bp, &address), RES_OK);
    EXPECT_EQ(bp, 0x1234u);
    EXPECT_EQ(address, reinterpret_cast<void*>(0x5678));
    EXPECT_EQ(LogEarlyBufferCount(), 0);
}

TEST_F(SysCpuApplicationWalk, MarkerWithoutFrameFailsWithTheLogLine) {
    stack_[4] = 0;
    RTS_UINTPTR bp = reinterpret_cast<RTS_UINTPTR>(stack_);
    void* address = nullptr;
    EXPECT_EQ(SysCpuGetCallstackEntry3(&bp, &address), RES_FAILED);
    EXPECT_EQ(bp, reinterpret_cast<RTS_UINTPTR>(stack_));
    ASSERT_EQ(LogEarlyBufferCount(), 1);
    LogEntry entry{};
    ASSERT_EQ(LogEarlyBufferGet(0, &entry), RES_OK);
    EXPECT_EQ(entry.CmpId, 0x101u);
    EXPECT_EQ(entry.ClassId, LOG_ERROR);
    EXPECT_STREQ(entry.InfoText, "Unable to retrieve context for task in external call.");
}

TEST(SysCpuSearchOnStack, FindsTheFirstOccurrenceUpwards) {
    constexpr RTS_UI64 kPattern = 0x0DDBA11CAFEF00DULL;
    std::vector<RTS_UI64> words(256, 0);
    words[40] = kPattern;
    words[90] = kPattern;
    RTS_RESULT r = RES_FAILED;
    EXPECT_EQ(SysCpuSearchOnStack_(&words[3], kPattern, &r), &words[40]);
    EXPECT_EQ(r, RES_OK);
    EXPECT_EQ(SysCpuSearchOnStack_(&words[41], kPattern, &r), &words[90]);
    EXPECT_EQ(SysCpuSearchOnStack_(&words[90], kPattern, nullptr), &words[90]);

    r = RES_OK;
    EXPECT_EQ(SysCpuSearchOnStack_(reinterpret_cast<void*>(kUnmapped), kPattern, &r), nullptr);
    EXPECT_EQ(r, RES_NOMEMORY);
}

TEST(SysCpuGetInstancePointer, ReadsOffset16OfTheContextsFirstField) {
    RTS_UI64 block[4] = {1, 2, 0xFEEDFACE, 4};
    RegContext context{reinterpret_cast<RTS_UINTPTR>(block), 0, 0};
    RTS_UI64 instance = 0;
    EXPECT_EQ(SysCpuGetInstancePointer(&context, &instance), RES_OK);
    EXPECT_EQ(instance, 0xFEEDFACEu);

    for (RTS_UI64 pc : {RTS_UI64{0}, RTS_UI64{kUnmapped}}) {
        context.PC = pc;
        EXPECT_EQ(SysCpuGetInstancePointer(&context, &instance), RES_PARAMETER);
    }
    EXPECT_EQ(SysCpuGetInstancePointer(nullptr, &instance), RES_PARAMETER);
    EXPECT_EQ(SysCpuGetContext(nullptr), RES_PARAMETER);
}

TEST(SysCpuCode, BreakpointFlushAndMonitoringBase) {
    RTS_UI16 code = 0;
    RTS_UI32 length = 0;
    ASSERT_EQ(SysCpuGetBreakpointCode(&code, &length), RES_OK);
    EXPECT_EQ(code, 0x0B0F);
    EXPECT_EQ(length, 2u);
    RTS_UI8 bytes[2];
    std::memcpy(bytes, &code, sizeof bytes);
    EXPECT_EQ(bytes[0], 0x0F);
    EXPECT_EQ(bytes[1], 0x0B);
    EXPECT_EQ(SysCpuGetBreakpointCode(nullptr, &length), RES_PARAMETER);

    static RTS_UI8 code_area[64];
    EXPECT_EQ(SysCpuFlushInstructionCache(code_area, sizeof code_area), RES_OK);
    EXPECT_EQ(SysCpuGetMonitoringBase(), nullptr);
}

/* What the called function saw, for checks after the call. */
struct IecSeen {
    int calls;
    bool aligned;
    RTS_UI8 first;
    RTS_UI8 padding_or;
};
IecSeen g_seen;
RTS_SIZE g_seen_size;

void iec_function(void* area) {
    auto* bytes = static_cast<RTS_UI8*>(area);
    ++g_seen.calls;
    g_seen.aligned = reinterpret_cast<std::uintptr_t>(area) % 16 == 0;
    g_seen.first = g_seen_size != 0 ? bytes[0] : 0;
    const RTS_SIZE rounded = (g_seen_size + 15) / 16 * 16;
    g_seen.padding_or = 0;
    for (RTS_SIZE i = g_seen_size; i < rounded; ++i) g_seen.padding_or |= bytes[i];
    for (RTS_SIZE i = 0; i < rounded; ++i) bytes[i] = static_cast<RTS_UI8>(bytes[i] + 1);
}

TEST(SysCpuCallIecFuncWithParams, CopiesTheBlockInAndBack) {
    for (RTS_SIZE size : {RTS_SIZE{1}, RTS_SIZE{5}, RTS_SIZE{16}, RTS_SIZE{17}, RTS_SIZE{5000}}) {
        std::vector<RTS_UI8> block(size + 8, 0xEE); /* 8 guard bytes after the block */
        for (RTS_SIZE i = 0; i < size; ++i) block[i] = static_cast<RTS_UI8>(i * 7);
        g_seen = {};
        g_seen_size = size;
        ASSERT_EQ(
            SysCpuCallIecFuncWithParams(reinterpret_cast<RTS_VOID_FCTPTR>(iec_function), block.data(), size),
            RES_OK);
        EXPECT_EQ(g_seen.calls, 1);
        EXPECT_TRUE(g_seen.aligned) << size;
        EXPECT_EQ(g_seen.first, 0);
        EXPECT_EQ(g_seen.padding_or, 0) << size;
        for (RTS_SIZE i = 0; i < size; ++i)
            ASSERT_EQ(block[i], static_cast<RTS_UI8>(i * 7 + 1)) << size << "/" << i;
        for (RTS_SIZE i = size; i < block.size(); ++i) ASSERT_EQ(block[i], 0xEE) << "guard overwritten";
    }
}

TEST(SysCpuCallIecFuncWithParams, RejectsMismatchedBlockAndSize) {
    RTS_UI8 block[4] = {};
    auto fn = reinterpret_cast<RTS_VOID_FCTPTR>(iec_function);
    g_seen = {};
    EXPECT_EQ(SysCpuCallIecFuncWithParams(nullptr, block, sizeof block), RES_PARAMETER);
    EXPECT_EQ(SysCpuCallIecFuncWithParams(fn, nullptr, 4), RES_PARAMETER);
    EXPECT_EQ(SysCpuCallIecFuncWithParams(fn, block, 0), RES_PARAMETER);
    EXPECT_EQ(g_seen.calls, 0);
    g_seen_size = 0;
    EXPECT_EQ(SysCpuCallIecFuncWithParams(fn, nullptr, 0), RES_OK);
    EXPECT_EQ(g_seen.calls, 1);

    syscpucalliecfuncwithparams_struct record{fn, block, sizeof block, RES_FAILED};
    g_seen_size = sizeof block;
    syscpucalliecfuncwithparams(&record);
    EXPECT_EQ(record.SysCpuCallIecFuncWithParams, RES_OK);
    EXPECT_EQ(block[3], 1);
}

} // namespace
