/* Processor helpers: bit, add and compare-and-swap operations, their misalignment warnings,
 * single sized accesses, the parameter-record wrappers and atomicity under two threads. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "cm.h"
#include "cmplog.h"
#include "syscpu.h"

extern "C" RTS_RESULT SysCpuHandling__Entry(ComponentInitRecord* pInit);

namespace {

/* Delivers a hook to the component the way the manager does. */
void deliver_hook(RTS_UI32 hook) {
    ComponentInitRecord init{};
    ASSERT_EQ(SysCpuHandling__Entry(&init), RES_OK);
    ASSERT_NE(init.hookFunction, nullptr);
    EXPECT_EQ(init.hookFunction(hook, 0, 0), RES_OK);
}

int count_log_lines_starting(const std::string& prefix) {
    int n = 0;
    for (int i = 0; i < LogEarlyBufferCount(); ++i) {
        LogEntry entry{};
        if (LogEarlyBufferGet(i, &entry) == RES_OK && std::string(entry.InfoText).rfind(prefix, 0) == 0) {
            EXPECT_EQ(entry.CmpId, CMPID_SysCpuHandling);
            EXPECT_EQ(entry.ClassId, LOG_WARNING);
            ++n;
        }
    }
    return n;
}

/* A buffer of 8-aligned storage so that offsets give known misalignments. */
struct alignas(16) Scratch {
    RTS_UI8 bytes[32];
};

TEST(SysCpuTestAndSet, SetsOnceThenReportsAlreadySet) {
    RTS_UI32 word = 0x1;
    EXPECT_EQ(SysCpuTestAndSet(&word, 31), RES_OK);
    EXPECT_EQ(word, 0x80000001u);
    EXPECT_EQ(SysCpuTestAndSet(&word, 31), RES_FAILED);
    EXPECT_EQ(word, 0x80000001u);
    EXPECT_EQ(SysCpuTestAndReset(&word, 0), RES_OK);
    EXPECT_EQ(word, 0x80000000u);
    EXPECT_EQ(SysCpuTestAndReset(&word, 0), RES_FAILED);
    EXPECT_EQ(word, 0x80000000u);
}

TEST(SysCpuTestAndSet, RejectsNullAndBitsOutOfRange) {
    RTS_UI32 word = 0;
    for (RTS_I32 bit : {-1, 32, 1000}) {
        EXPECT_EQ(SysCpuTestAndSet(&word, bit), RES_PARAMETER) << bit;
        EXPECT_EQ(SysCpuTestAndReset(&word, bit), RES_PARAMETER) << bit;
    }
    EXPECT_EQ(word, 0u);
    EXPECT_EQ(SysCpuTestAndSet(nullptr, 0), RES_PARAMETER);
    EXPECT_EQ(SysCpuTestAndReset(nullptr, 0), RES_PARAMETER);
}

TEST(SysCpuTestAndSetBit, ChangesTheBitCountedFromTheAlignedWord) {
    struct Case {
        int offset; /* byte offset of the address from a 4-byte boundary */
        RTS_UI32 len;
        RTS_I32 bit;
        int word;      /* which aligned 32-bit word must change */
        RTS_UI32 mask; /* and which bit of it */
    };
    const Case cases[] = {
        {0, 4, 4, 0, 1u << 4},   {1, 1, 0, 0, 1u << 8},  {1, 4, 24, 1, 1u << 0}, {3, 2, 15, 1, 1u << 7},
        {2, 8, 63, 2, 1u << 15}, {0, 8, 40, 1, 1u << 8}, {3, 1, 7, 0, 1u << 31},
    };
    for (const Case& c : cases) {
        Scratch s{};
        RTS_UI8* address = s.bytes + c.offset;
        EXPECT_EQ(SysCpuTestAndSetBit(address, c.len, c.bit, 1), RES_OK) << c.offset << "/" << c.bit;
        RTS_UI32 words[8];
        std::memcpy(words, s.bytes, sizeof words);
        for (int w = 0; w < 8; ++w)
            EXPECT_EQ(words[w], w == c.word ? c.mask : 0u) << c.offset << "/" << c.bit;
        EXPECT_EQ(SysCpuTestAndSetBit2(address, c.len, c.bit, 1), RES_FAILED);
        EXPECT_EQ(SysCpuTestAndSetBit(address, c.len, c.bit, 0), RES_OK);
        EXPECT_EQ(SysCpuTestAndSetBit2(address, c.len, c.bit, 0), RES_FAILED);
        std::memcpy(words, s.bytes, sizeof words);
        for (RTS_UI32 w : words) EXPECT_EQ(w, 0u);
    }
}

TEST(SysCpuTestAndSetBit, RejectsBadWidthsBitsAndNull) {
    Scratch s{};
    struct Case {
        RTS_UI32 len;
        RTS_I32 bit;
    };
    for (const Case& c : {Case{0, 0}, Case{3, 0}, Case{16, 0}, Case{1, 8}, Case{2, 16}, Case{4, 32},
                          Case{8, 64}, Case{4, -1}}) {
        EXPECT_EQ(SysCpuTestAndSetBit(s.bytes, c.len, c.bit, 1), RES_PARAMETER) << c.len << "/" << c.bit;
    }
    EXPECT_EQ(SysCpuTestAndSetBit(nullptr, 4, 0, 1), RES_PARAMETER);
    for (RTS_UI8 b : s.bytes) EXPECT_EQ(b, 0);
}

TEST(SysCpuAtomicAdd, ReturnsNewValueAndWraps) {
    struct Case {
        RTS_I32 start, sum, expected;
    };
    for (const Case& c : {Case{1, 2, 3}, Case{0, -5, -5},
                          Case{0x7FFFFFFF, 1, static_cast<RTS_I32>(0x80000000u)}, Case{-1, 1, 0}}) {
        RTS_I32 v = c.start;
        RTS_RESULT r = RES_FAILED;
        EXPECT_EQ(SysCpuAtomicAdd(&v, c.sum, &r), c.expected);
        EXPECT_EQ(v, c.expected);
        EXPECT_EQ(r, RES_OK);
    }
    RTS_RESULT r = RES_OK;
    EXPECT_EQ(SysCpuAtomicAdd(nullptr, 1, &r), 0);
    EXPECT_EQ(r, RES_PARAMETER);
    RTS_I32 v = 4;
    EXPECT_EQ(SysCpuAtomicAdd(&v, 1, nullptr), 5);
}

TEST(SysCpuAtomicAdd64, ReturnsNewValueAndWraps) {
    struct Case {
        RTS_I64 start, sum, expected;
    };
    for (const Case& c : {Case{2, 4, 6}, Case{0x100000000LL, -1, 0xFFFFFFFFLL},
                          Case{0x7FFFFFFFFFFFFFFFLL, 1, static_cast<RTS_I64>(0x8000000000000000ULL)}}) {
        RTS_I64 v = c.start;
        RTS_RESULT r = RES_FAILED;
        EXPECT_EQ(SysCpuAtomicAdd64(&v, c.sum, &r), c.expected);
        EXPECT_EQ(v, c.expected);
        EXPECT_EQ(r, RES_OK);
    }
    RTS_RESULT r = RES_OK;
    EXPECT_EQ(SysCpuAtomicAdd64(nullptr, 1, &r), 0);
    EXPECT_EQ(r, RES_PARAMETER);
}

TEST(SysCpuAtomicCompareAndSwap, StoresOnlyWhenExpectedValueIsThere) {
    RTS_UI32 v32 = 7;
    const RTS_UI32 new32 = 9, wrong32 = 8, right32 = 7;
    EXPECT_EQ(SysCpuAtomicCompareAndSwap(&v32, &new32, &wrong32, 4), RES_FAILED);
    EXPECT_EQ(v32, 7u);
    EXPECT_EQ(SysCpuAtomicCompareAndSwap(&v32, &new32, &right32, 4), RES_OK);
    EXPECT_EQ(v32, 9u);

    RTS_UI64 v64 = 0x123456789ULL;
    const RTS_UI64 new64 = 1, wrong64 = 0x23456789ULL, right64 = 0x123456789ULL;
    EXPECT_EQ(SysCpuAtomicCompareAndSwap(&v64, &new64, &wrong64, 8), RES_FAILED);
    EXPECT_EQ(v64, 0x123456789ULL);
    EXPECT_EQ(SysCpuAtomicCompareAndSwap(&v64, &new64, &right64, 8), RES_OK);
    EXPECT_EQ(v64, 1u);
}

TEST(SysCpuAtomicCompareAndSwap, RejectsOtherSizesAndNullPointers) {
    RTS_UI64 v = 1;
    const RTS_UI64 n = 2, c = 1;
    for (RTS_SIZE size : {0, 1, 2, 3, 16})
        EXPECT_EQ(SysCpuAtomicCompareAndSwap(&v, &n, &c, size), RES_PARAMETER);
    EXPECT_EQ(SysCpuAtomicCompareAndSwap(nullptr, &n, &c, 8), RES_PARAMETER);
    EXPECT_EQ(SysCpuAtomicCompareAndSwap(&v, nullptr, &c, 8), RES_PARAMETER);
    EXPECT_EQ(SysCpuAtomicCompareAndSwap(&v, &n, nullptr, 8), RES_PARAMETER);
    EXPECT_EQ(v, 1u);
}

TEST(SysCpuMisalignment, EachKindWarnsOncePerRunAndStillWorks) {
    deliver_hook(CH_INIT);
    LogEarlyBufferClear();
    Scratch s{};
    void* odd = s.bytes + 1; /* a multiple of neither 4 nor 8, and inside one cache line */

    for (int round = 0; round < 2; ++round) {
        RTS_RESULT r = RES_FAILED;
        EXPECT_EQ(SysCpuAtomicAdd(static_cast<RTS_I32*>(odd), 5, &r), 5);
        EXPECT_EQ(r, RES_OK);
        const RTS_UI32 expected32 = 5, new32 = 0;
        EXPECT_EQ(SysCpuAtomicCompareAndSwap(odd, &new32, &expected32, 4), RES_OK);
        EXPECT_EQ(SysCpuAtomicAdd64(static_cast<RTS_I64*>(odd), 0x100000000LL, &r), 0x100000000LL);
        const RTS_UI64 expected64 = 0x100000000ULL, new64 = 0;
        EXPECT_EQ(SysCpuAtomicCompareAndSwap(odd, &new64, &expected64, 8), RES_OK);
        EXPECT_EQ(SysCpuAtomicCompareAndSwap(odd, &new64, &expected64, 8), RES_FAILED);
        for (RTS_UI8 b : s.bytes) EXPECT_EQ(b, 0) << "round " << round;
    }
    EXPECT_EQ(count_log_lines_starting("SysCpuAtomicAdd called with misaligned address 0x"), 1);
    EXPECT_EQ(count_log_lines_starting("SysCpuAtomicAdd64 called with misaligned address 0x"), 1);
    EXPECT_EQ(count_log_lines_starting("SysCpuAtomicCompareAndSwap(32) called with misaligned address 0x"),
              1);
    EXPECT_EQ(count_log_lines_starting("SysCpuAtomicCompareAndSwap(64) called with misaligned address 0x"),
              1);
    EXPECT_EQ(LogEarlyBufferCount(), 4);

    /* A 4-aligned address is misaligned only for the 64-bit operations. */
    deliver_hook(CH_INIT);
    LogEarlyBufferClear();
    RTS_RESULT r = RES_FAILED;
    SysCpuAtomicAdd(reinterpret_cast<RTS_I32*>(s.bytes + 4), 1, &r);
    SysCpuAtomicAdd64(reinterpret_cast<RTS_I64*>(s.bytes + 4), 1, &r);
    EXPECT_EQ(count_log_lines_starting("SysCpuAtomicAdd called"), 0);
    EXPECT_EQ(count_log_lines_starting("SysCpuAtomicAdd64 called"), 1);
    EXPECT_EQ(count_log_lines_starting("SysCpuAtomicCompareAndSwap(64) called"), 1);
    LogEarlyBufferClear();
}

TEST(SysCpuSingleAccess, CopiesEachSupportedWidthAtAnyAlignment) {
    for (RTS_SIZE size : {1, 2, 4, 8}) {
        for (int offset : {0, 1, 3, 4}) {
            Scratch shared{};
            Scratch local{};
            for (RTS_SIZE i = 0; i < size; ++i) local.bytes[i] = static_cast<RTS_UI8>(0xA0 + i);
            EXPECT_EQ(SysCpuWriteValueAtomic(shared.bytes + offset, local.bytes, size), RES_OK);
            EXPECT_EQ(std::memcmp(shared.bytes + offset, local.bytes, size), 0);
            EXPECT_EQ(shared.bytes[offset + size], 0) << "wrote past the value";
            Scratch back{};
            EXPECT_EQ(SysCpuReadValueAtomic(shared.bytes + offset, back.bytes, size), RES_OK);
            EXPECT_EQ(std::memcmp(back.bytes, local.bytes, size), 0);
            EXPECT_EQ(back.bytes[size], 0) << "wrote past the value";
        }
    }
}

TEST(SysCpuSingleAccess, RejectsOtherSizesAndNull) {
    RTS_UI64 a = 1, b = 2;
    for (RTS_SIZE size : {0, 3, 5, 16}) {
        EXPECT_EQ(SysCpuReadValueAtomic(&a, &b, size), RES_PARAMETER);
        EXPECT_EQ(SysCpuWriteValueAtomic(&a, &b, size), RES_PARAMETER);
    }
    EXPECT_EQ(SysCpuReadValueAtomic(nullptr, &b, 8), RES_PARAMETER);
    EXPECT_EQ(SysCpuWriteValueAtomic(&a, nullptr, 8), RES_PARAMETER);
    EXPECT_EQ(a, 1u);
    EXPECT_EQ(b, 2u);
}

TEST(SysCpuSingleAccess, Int64AndReal64ReadAndWrite) {
    RTS_I64 i = 0;
    RTS_REAL64 d = 0.0;
    RTS_RESULT r = RES_FAILED;
    EXPECT_EQ(SysCpuWriteInt64(&i, -0x123456789LL), RES_OK);
    EXPECT_EQ(SysCpuReadInt64(&i, &r), -0x123456789LL);
    EXPECT_EQ(r, RES_OK);
    EXPECT_EQ(SysCpuWriteReal64(&d, -2.5), RES_OK);
    EXPECT_EQ(SysCpuReadReal64(&d, &r), -2.5);
    EXPECT_EQ(SysCpuWriteInt64(nullptr, 1), RES_PARAMETER);
    EXPECT_EQ(SysCpuWriteReal64(nullptr, 1.0), RES_PARAMETER);
    EXPECT_EQ(SysCpuReadInt64(nullptr, &r), 0);
    EXPECT_EQ(r, RES_PARAMETER);
    r = RES_OK;
    EXPECT_EQ(SysCpuReadReal64(nullptr, &r), 0.0);
    EXPECT_EQ(r, RES_PARAMETER);

    RTS_UI64 regs[4] = {};
    EXPECT_EQ(SysCpuSetRegisterValue(regs, 2, 0xABCDEF), RES_OK);
    EXPECT_EQ(regs[2], 0xABCDEFu);
    EXPECT_EQ(regs[1] | regs[3], 0u);
    EXPECT_EQ(SysCpuSetRegisterValue(regs, -1, 1), RES_PARAMETER);
    EXPECT_EQ(SysCpuSetRegisterValue(nullptr, 0, 1), RES_PARAMETER);
}

TEST(SysCpuWrappers, StoreTheResultsOfTheirFunctions) {
    RTS_I32 v32 = 10;
    RTS_RESULT r = RES_FAILED;
    syscpuatomicadd_struct add{&v32, 5, &r, 0};
    syscpuatomicadd(&add);
    EXPECT_EQ(add.SysCpuAtomicAdd, 15);
    EXPECT_EQ(r, RES_OK);

    RTS_I64 v64 = 10;
    syscpuatomicadd64_struct add64{&v64, -20, &r, 0};
    syscpuatomicadd64(&add64);
    EXPECT_EQ(add64.SysCpuAtomicAdd64, -10);

    const RTS_I64 desired = 3, expected = -10;
    syscpuatomiccompareandswap_struct cas{&v64, &desired, &expected, 2, RES_OK};
    syscpuatomiccompareandswap(&cas);
    EXPECT_EQ(cas.SysCpuAtomicCompareAndSwap, RES_PARAMETER);
    cas.nLen = 8;
    syscpuatomiccompareandswap(&cas);
    EXPECT_EQ(cas.SysCpuAtomicCompareAndSwap, RES_OK);
    EXPECT_EQ(v64, 3);

    RTS_UI32 word = 0;
    syscputestandset_struct set{&word, 3, RES_FAILED};
    syscputestandset(&set);
    EXPECT_EQ(set.SysCpuTestAndSet, RES_OK);
    syscputestandset(&set);
    EXPECT_EQ(set.SysCpuTestAndSet, RES_FAILED);
    syscputestandreset_struct reset{&word, 3, RES_FAILED};
    syscputestandreset(&reset);
    EXPECT_EQ(reset.SysCpuTestAndReset, RES_OK);
    syscputestandsetbit_struct bit{&word, 4, 40, 1, RES_OK};
    syscputestandsetbit(&bit);
    EXPECT_EQ(bit.SysCpuTestAndSetBit, RES_PARAMETER);
    EXPECT_EQ(word, 0u);
    syscpudebughandler(nullptr);
}

TEST(SysCpuConcurrency, TwoThreadsGiveExactTotals) {
    constexpr int kRounds = 100000;
    constexpr int kWords = 64;
    alignas(8) RTS_I32 counter32 = 0;
    alignas(8) RTS_I64 counter64 = 0;
    RTS_UI32 claim_words[kWords] = {};
    int claimed[2] = {0, 0};
    auto worker = [&](int id) {
        for (int i = 0; i < kRounds; ++i) {
            SysCpuAtomicAdd(&counter32, 1, nullptr);
            SysCpuAtomicAdd64(&counter64, 0x100000001LL, nullptr);
        }
        /* Both threads try every bit; each bit must be won exactly once. */
        for (int w = 0; w < kWords; ++w) {
            for (int b = 0; b < 32; ++b) {
                if (SysCpuTestAndSet(&claim_words[w], b) == RES_OK) ++claimed[id];
            }
        }
    };
    std::thread a(worker, 0);
    std::thread b(worker, 1);
    a.join();
    b.join();
    EXPECT_EQ(counter32, 2 * kRounds);
    EXPECT_EQ(counter64, 2LL * kRounds * 0x100000001LL);
    EXPECT_EQ(claimed[0] + claimed[1], kWords * 32);
    for (RTS_UI32 w : claim_words) EXPECT_EQ(w, 0xFFFFFFFFu);
}

} // namespace
