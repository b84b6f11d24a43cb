// The monotonic clocks: the tick wrap guard, counter scaling, the back-jump report and its
// hook, the choice of the millisecond source and every failing platform call, and readings
// that never go backwards on any thread.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "scratch_settings.h"
#include "cmpsettings.h"
#include "log_reader.h"
#include "seam_fault.h"
#include "sys/systime_internal.h"
#include "sys/systime_os.h"
#include "systime.h"

extern "C" RTS_RESULT SysTime__Entry(ComponentInitRecord* pInit);

namespace {

RTS_UI64 reading(RTS_RESULT (*read)(RTS_UI64*)) {
    RTS_UI64 value = 0;
    EXPECT_EQ(read(&value), RES_OK);
    return value;
}

TEST(SysTimeTickGuard, AcceptsForwardStepsAndWrapsOnly) {
    // Last value, new reading, value given: a step back is a wrap only from 0xFFFF0001 or above
    // to below 4096; any other step back gives the last value again.
    const std::tuple<RTS_UI32, RTS_UI32, RTS_UI32> cases[] = {
        {100, 101, 101},           {100, 99, 100},
        {5000, 4000, 5000},        {0xFFFF0000u, 10, 0xFFFF0000u},
        {0xFFFF0001u, 10, 10},     {0xFFFFFFFFu, 0, 0},
        {0xFFFFFFF0u, 4095, 4095}, {0xFFFFFFF0u, 4096, 0xFFFFFFF0u}};
    for (const auto& [last, now, expected] : cases)
        EXPECT_EQ(systime_internal::guard_tick(now, last), expected) << last << " -> " << now;
}

TEST(SysTimeCounterScale, ConvertsExactlyForCommonFrequencies) {
    // Counter, its frequency, units per second, and the reading in those units.
    const std::tuple<RTS_UI64, RTS_UI64, RTS_UI64, RTS_UI64> cases[] = {
        {12345678901234, 1000000000, 1000000, 12345678901},
        {98765432109, 10000000, 1000000000, 9876543210900},
        {98765432109, 10000000, 1000000, 9876543210},
        {3579545, 3579545, 1000000, 1000000},
        {123456, 0, 1000000, 0}};
    for (const auto& [counter, frequency, perSecond, expected] : cases)
        EXPECT_EQ(systime_internal::scale_counter(counter, frequency, perSecond), expected) << counter;
}

TEST(SysTimeBackJumps, ReportsEachSourceThatWentBackAndKeepsTheNewReadings) {
    using systime_internal::Readings;
    const struct {
        Readings last, now;
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
        testlog::clear();
        Readings last = c.last;
        systime_internal::report_back_jumps(c.now, last);
        EXPECT_EQ(testlog::texts(), c.lines);
        EXPECT_EQ(std::tie(last.ms, last.us, last.ns), std::tie(c.now.ms, c.now.us, c.now.ns));
    }
    testlog::clear();
}

// The platform on paper: the timer gives 1111 ms, the tick count 2222 ms and the 1 MHz counter
// 3333 ms unless the row says otherwise; the timer's period and the clock's increment are the
// row's. It counts how often the period was asked for and the counter read.
struct Paper {
    RTS_UI32 period, increment;
    RTS_UI64 counter = 3333000;
    int asked = 0, reads = 0;
} g_paper;

using C = systime_os::Calls;
const C kPaper = {
    [](RTS_UI32* ms, const char**) { return *ms = g_paper.period, ++g_paper.asked, rts::kOsOk; },
    [](RTS_UI32, const char**) { return rts::kOsOk; },
    [](RTS_UI32* units, const char**) { return *units = g_paper.increment, rts::kOsOk; },
    [](RTS_UI64* ticks, const char**) { return *ticks = g_paper.counter, ++g_paper.reads, rts::kOsOk; },
    [](RTS_UI64* hz, const char**) { return *hz = 1000000, rts::kOsOk; },
    [] { return RTS_UI32{1111}; },
    [] { return RTS_UI32{2222}; },
};
enum { kPeriod, kBegin, kIncrement, kCounter, kFrequency, kNone = -1 };
using Inject = seamfault::Injector<C, &C::timer_period, &C::timer_begin, &C::clock_increment, &C::counter,
                                   &C::counter_frequency>;

// The source chosen from the timer's period and the clock's increment, and each call failing in
// turn (after it filled its result with a value that would mislead a core that used it): the
// readings, one line per failed call, and the source chosen once.
TEST(SysTimeSeam, ChoosesTheMillisecondSourceAndSurvivesEachFailingCall) {
    // the timer's period, the clock's increment, the call that fails, the readings and the lines
    const std::tuple<RTS_UI32, RTS_UI32, int, RTS_UI32, RTS_UI64, size_t> rows[] = {
        {1, 156250, kNone, 1111, 3333000, 0},
        {2, 156250, kNone, 3333, 3333000, 0},
        {0, 15001, kNone, 3333, 3333000, 0},
        {0, 15000, kNone, 2222, 3333000, 0}, // the finest coarse clock
        {1, 156250, kPeriod, 3333, 3333000, 1},
        {1, 156250, kBegin, 3333, 3333000, 1},
        {0, 156250, kIncrement, 2222, 3333000, 1},
        {0, 156250, kCounter, 0, 0, 2},
        {0, 156250, kFrequency, 0, 0, 1},
    };
    for (const auto& [period, increment, failing, ms, us, lines] : rows) {
        g_paper = Paper{period, increment};
        Inject injector(kPaper, systime_os::set_calls);
        if (failing != kNone) injector.fail(failing, {5, seamfault::kEveryCall, true});
        testlog::clear();
        EXPECT_EQ(std::make_pair(SysTimeGetMs(), reading(SysTimeGetUs)), std::make_pair(ms, us)) << failing;
        EXPECT_EQ(seamfault::injected_lines(CMPID_SysTime),
                  std::vector<std::string>(lines, seamfault::line(5)))
            << failing;
        SysTimeGetMs();
        EXPECT_EQ(g_paper.asked, 1) << "the source is chosen once";
    }
    testlog::clear();
}

// Each cycle reads every source as often as configured; a steady clock past 2^31 ms is no jump
// back from the first readings.
TEST(SysTimeBackJumps, CommCycleCheckReadsTheConfiguredIterationsWithoutFalseReports) {
    g_paper = Paper{0, 156250, 0x90000000ull * 1000};
    testfw::ScratchSettings settings;
    Inject injector(kPaper, systime_os::set_calls);
    ComponentInitRecord record{};
    ASSERT_EQ(SysTime__Entry(&record), RES_OK);
    SettgSetIntValue("SysTime", "CheckBackJumpsIterations", 7, 10);
    EXPECT_EQ(record.hookFunction(CH_INIT_FINISHED, 0, 0), RES_OK);
    testlog::clear();
    for (int cycle = 0; cycle < 5; ++cycle) EXPECT_EQ(record.hookFunction(CH_COMM_CYCLE, 0, 0), RES_OK);
    EXPECT_EQ(g_paper.reads, 5 * 7 * 3); // milliseconds, microseconds and nanoseconds
    EXPECT_TRUE(testlog::texts().empty());
    SettgRemoveKey("SysTime", "CheckBackJumpsIterations");
    EXPECT_EQ(record.hookFunction(CH_INIT_FINISHED, 0, 0), RES_OK);
}

TEST(SysTimeReadings, NeverGoBackwardsOnAnyThread) {
    std::vector<int> backwards(4, 0);
    const auto reader = [&backwards](int id) {
        RTS_UI32 lastMs = SysTimeGetMs();
        RTS_UI64 lastUs = reading(SysTimeGetUs);
        RTS_UI64 lastNs = reading(SysTimeGetNs);
        for (int i = 0; i < 20000; ++i) {
            const RTS_UI32 ms = SysTimeGetMs();
            const RTS_UI64 us = reading(SysTimeGetUs);
            const RTS_UI64 ns = reading(SysTimeGetNs);
            if (static_cast<RTS_I32>(ms - lastMs) < 0 || us < lastUs || ns < lastNs) ++backwards[id];
            lastMs = ms;
            lastUs = us;
            lastNs = ns;
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(reader, t);
    for (auto& t : threads) t.join();
    EXPECT_EQ(backwards, std::vector<int>(4, 0));
}

} // namespace
