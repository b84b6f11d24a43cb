/* The monotonic clocks: the tick wrap guard, counter scaling, the back-jump report and the
 * self-check hook, readings that never go backwards, and the wrappers' bad input. */
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "cmpsettings.h"
#include "sys/systime_internal.h"
#include "systime.h"
#include "framework_fixture.h"
#include "test_components.h"

extern "C" RTS_RESULT SysTime__Entry(ComponentInitRecord* pInit);

namespace {

RTS_UI64 read_us() {
    RTS_UI64 value = 0;
    EXPECT_EQ(SysTimeGetUs(&value), RES_OK);
    return value;
}

RTS_UI64 read_ns() {
    RTS_UI64 value = 0;
    EXPECT_EQ(SysTimeGetNs(&value), RES_OK);
    return value;
}

std::vector<std::string> systime_log() {
    std::vector<std::string> out;
    for (const LogEntry& e : testlog::entries())
        if (e.CmpId == CMPID_SysTime) out.emplace_back(e.InfoText);
    return out;
}

TEST(SysTimeTickGuard, AcceptsForwardStepsAndWrapsOnly) {
    const struct {
        RTS_UI32 last;
        RTS_UI32 now;
        RTS_UI32 expected;
    } cases[] = {
        {100, 100, 100},                  // no change
        {100, 101, 101},                  // forward
        {100, 99, 100},                   // a small step back keeps the last value
        {5000, 4000, 5000},               // step back below 4096 but far from the wrap
        {0xFFFF0000u, 10, 0xFFFF0000u},   // one below the wrap window: not a wrap
        {0xFFFF0001u, 10, 10},            // lowest last value that allows a wrap
        {0xFFFFFFFFu, 0, 0},              // the plain wrap
        {0xFFFFFFF0u, 4095, 4095},        // highest new value of a wrap
        {0xFFFFFFF0u, 4096, 0xFFFFFFF0u}, // too far past zero: treated as a step back
        {0xFFFFFFF0u, 0xFFFFFFFFu, 0xFFFFFFFFu},
    };
    for (const auto& c : cases)
        EXPECT_EQ(systime_internal::guard_tick(c.now, c.last), c.expected) << c.last << " -> " << c.now;
}

TEST(SysTimeTickGuard, SequenceNeverGoesBackwardsBetweenWraps) {
    const RTS_UI32 raw[] = {10, 12, 11, 11, 15, 3, 20, 0xFFFFFFFEu, 1, 2, 0};
    const RTS_UI32 expected[] = {10, 12, 12, 12, 15, 15, 20, 0xFFFFFFFEu, 1, 2, 2};
    RTS_UI32 last = 0;
    for (size_t i = 0; i < std::size(raw); ++i) {
        last = systime_internal::guard_tick(raw[i], last);
        EXPECT_EQ(last, expected[i]) << "step " << i;
    }
}

TEST(SysTimeCounterScale, ConvertsExactlyForCommonFrequencies) {
    const struct {
        RTS_UI64 counter;
        RTS_UI64 frequency;
        RTS_UI64 perSecond;
        RTS_UI64 expected;
    } cases[] = {
        {12345678901234ull, 1000000000ull, 1000000000ull, 12345678901234ull}, // ns clock -> ns
        {12345678901234ull, 1000000000ull, 1000000ull, 12345678901ull},       // ns clock -> us
        {98765432109ull, 10000000ull, 1000000000ull, 9876543210900ull},       // 10 MHz -> ns
        {98765432109ull, 10000000ull, 1000000ull, 9876543210ull},             // 10 MHz -> us
        {3000000ull, 3000000ull, 1000000ull, 1000000ull},                     // 3 MHz -> us
        {3579545ull, 3579545ull, 1000000ull, 1000000ull},                     // odd rate, one second
        {7159090ull, 3579545ull, 1000000000ull, 2000000000ull},               // odd rate, two seconds
        {123456ull, 0ull, 1000000ull, 0ull},                                  // no counter
    };
    for (const auto& c : cases)
        EXPECT_EQ(systime_internal::scale_counter(c.counter, c.frequency, c.perSecond), c.expected)
            << c.counter << " at " << c.frequency;
}

TEST(SysTimeBackJumps, ReportsEachSourceThatWentBackAndKeepsTheNewReadings) {
    using systime_internal::Readings;
    const struct {
        Readings last;
        Readings now;
        std::vector<std::string> lines;
    } cases[] = {
        {{10, 10, 10}, {11, 11, 11}, {}},
        {{10, 10, 10}, {10, 10, 10}, {}},
        {{0xFFFFFFF0u, 5, 5}, {3, 6, 6}, {}}, // a wrap of the millisecond tick is no jump
        {{20, 30, 40}, {19, 30, 40}, {"SysTimeGetMs jumps back, this may never happen. Now <19>, last <20>"}},
        {{20, 30, 40},
         {20, 29, 39},
         {"SysTimeGetUs jumps back, this may never happen. Now <29>, last <30>",
          "SysTimeGetNs jumps back, this may never happen. Now <39>, last <40>"}},
        {{5, 0x8000000000000000ull, 1},
         {5, 0x7FFFFFFFFFFFFFFFull, 2},
         {"SysTimeGetUs jumps back, this may never happen. Now <9223372036854775807>, last "
          "<9223372036854775808>"}},
    };
    for (const auto& c : cases) {
        LogEarlyBufferClear();
        Readings last = c.last;
        systime_internal::report_back_jumps(c.now, last);
        EXPECT_EQ(systime_log(), c.lines);
        EXPECT_EQ(last.ms, c.now.ms);
        EXPECT_EQ(last.us, c.now.us);
        EXPECT_EQ(last.ns, c.now.ns);
    }
    LogEarlyBufferClear();
}

TEST(SysTimeBackJumps, CommCycleCheckReadsTheConfiguredIterationsWithoutFalseReports) {
    ComponentInitRecord record{};
    ASSERT_EQ(SysTime__Entry(&record), RES_OK);
    ASSERT_NE(record.hookFunction, nullptr);
    SettgSetIntValue("SysTime", "CheckBackJumpsIterations", 2000, 10);
    EXPECT_EQ(record.hookFunction(CH_INIT_FINISHED, 0, 0), RES_OK);
    LogEarlyBufferClear();
    for (int cycle = 0; cycle < 5; ++cycle) EXPECT_EQ(record.hookFunction(CH_COMM_CYCLE, 0, 0), RES_OK);
    EXPECT_TRUE(systime_log().empty());
    SettgRemoveKey("SysTime", "CheckBackJumpsIterations");
    EXPECT_EQ(record.hookFunction(CH_INIT_FINISHED, 0, 0), RES_OK);
}

TEST(SysTimeReadings, NeverGoBackwardsOnAnyThreadAndAgreeWithEachOther) {
    std::atomic<int> backwards{0};
    auto reader = [&backwards] {
        RTS_UI32 lastMs = SysTimeGetMs();
        RTS_UI64 lastUs = read_us();
        RTS_UI64 lastNs = read_ns();
        for (int i = 0; i < 20000; ++i) {
            const RTS_UI32 ms = SysTimeGetMs();
            const RTS_UI64 us = read_us();
            const RTS_UI64 ns = read_ns();
            if (static_cast<RTS_I32>(ms - lastMs) < 0 || us < lastUs || ns < lastNs) ++backwards;
            lastMs = ms;
            lastUs = us;
            lastNs = ns;
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(reader);
    for (auto& t : threads) t.join();
    EXPECT_EQ(backwards.load(), 0);

    // Microseconds read between two nanosecond readings lie between them.
    const RTS_UI64 before = read_ns();
    const RTS_UI64 us = read_us();
    const RTS_UI64 after = read_ns();
    EXPECT_GE(us, before / 1000);
    EXPECT_LE(us, after / 1000 + 1);
    EXPECT_GT(after, 0u) << "a counter is present on both platforms";
}

TEST(SysTimeWrappers, StoreTheReadingOrRefuseANullTarget) {
    systimegetms_struct ms{};
    systimegetms(&ms);
    RTS_UI64 value = 0;
    systimegetus_struct us{&value, RES_FAILED};
    systimegetus(&us);
    EXPECT_EQ(us.SysTimeGetUs, RES_OK);
    EXPECT_GE(read_us(), value);
    EXPECT_GE(static_cast<RTS_I32>(SysTimeGetMs() - ms.SysTimeGetMs), 0);

    systimegetus_struct noUs{nullptr, RES_OK};
    systimegetus(&noUs);
    EXPECT_EQ(noUs.SysTimeGetUs, RES_PARAMETER);
    systimegetns_struct noNs{nullptr, RES_OK};
    systimegetns(&noNs);
    EXPECT_EQ(noNs.SysTimeGetNs, RES_PARAMETER);
    systimegetns_struct ns{&value, RES_FAILED};
    systimegetns(&ns);
    EXPECT_EQ(ns.SysTimeGetNs, RES_OK);
    systimegetms(nullptr);
    systimegetus(nullptr);
    systimegetns(nullptr);
}

} // namespace

namespace {

class SysTimeImport : public testfw::Framework {};

/* A component that imports the readings by name calls them with the out-parameter. */
TEST_F(SysTimeImport, MicroAndNanosecondsByNameTakeTheOutParameter) {
    using Reading = RTS_RESULT (*)(RTS_UI64*);
    for (const char* name : {"SysTimeGetUs", "SysTimeGetNs"}) {
        RTS_VOID_FCTPTR function = nullptr;
        ASSERT_EQ(CMGetAPI2(name, &function, 0, 0, 0), RES_OK) << name;
        const auto read = reinterpret_cast<Reading>(function);
        EXPECT_EQ(read(nullptr), RES_PARAMETER) << name;
        RTS_UI64 value = 0;
        EXPECT_EQ(read(&value), RES_OK) << name;
        EXPECT_GT(value, 0u) << name;
    }
}

} // namespace
