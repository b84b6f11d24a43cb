// The monotonic clocks: the tick wrap guard, counter scaling, the back-jump report and its
// hook, the choice of the millisecond source and every failing platform call, readings that
// never go backwards on any thread, and the readings imported by name.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "cmpsettings.h"
#include "framework_fixture.h"
#include "log_reader.h"
#include "os_seam.h"
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

std::vector<std::string> systime_log() {
    std::vector<std::string> out;
    for (const LogEntry& e : testlog::entries())
        if (e.CmpId == CMPID_SysTime) out.emplace_back(e.InfoText);
    return out;
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
        {7159090, 3579545, 1000000000, 2000000000},
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
        LogEarlyBufferClear();
        Readings last = c.last;
        systime_internal::report_back_jumps(c.now, last);
        EXPECT_EQ(systime_log(), c.lines);
        EXPECT_EQ(std::tie(last.ms, last.us, last.ns), std::tie(c.now.ms, c.now.us, c.now.ns));
    }
    LogEarlyBufferClear();
}

// A platform whose calls answer from the row under test; a failing call still fills its
// out-parameter, with a value that would mislead a core that used it. The timer gives 1111 ms,
// the tick count 2222 ms and the 1 MHz counter 3333 ms.
enum class Fail { None, TimerPeriod, TimerBegin, ClockIncrement, Counter, CounterFrequency };
struct FakeClock {
    Fail fail;
    RTS_UI32 period, increment;
    int asked = 0; // how often the timer's period was asked for
    RTS_UI64 counter = 3333000;
    int reads = 0; // how often the counter was read
} g_clock;

rts::OsError answer(Fail call) {
    return g_clock.fail == call ? 5 : rts::kOsOk;
}

systime_os::Calls fake_calls() {
    systime_os::Calls c = systime_os::platform_calls();
    c.timer_period.fn = [](RTS_UI32* ms) {
        return *ms = g_clock.period, ++g_clock.asked, answer(Fail::TimerPeriod);
    };
    c.timer_begin.fn = [](RTS_UI32) { return answer(Fail::TimerBegin); };
    c.clock_increment.fn = [](RTS_UI32* u) { return *u = g_clock.increment, answer(Fail::ClockIncrement); };
    c.counter.fn = [](RTS_UI64* ticks) {
        return *ticks = g_clock.counter, ++g_clock.reads, answer(Fail::Counter);
    };
    c.counter_frequency.fn = [](RTS_UI64* hz) { return *hz = 1000000, answer(Fail::CounterFrequency); };
    c.timer_time = [] { return RTS_UI32{1111}; };
    c.tick_count = [] { return RTS_UI32{2222}; };
    return c;
}

TEST(SysTimeSeam, ChoosesTheMillisecondSourceAndSurvivesEachFailingCall) {
    const systime_os::Calls fake = fake_calls();
    const systime_os::Calls& os = systime_os::platform_calls();
    const auto failed = [](const char* call) { return std::string(call) + " failed: OS error 5"; };
    const struct {
        FakeClock clock;
        RTS_UI32 ms;
        RTS_UI64 us;
        std::vector<std::string> log;
    } cases[] = {
        {{Fail::None, 1, 156250}, 1111, 3333000, {}},
        {{Fail::None, 2, 156250}, 3333, 3333000, {}},
        {{Fail::None, 0, 15001}, 3333, 3333000, {}}, // the finest coarse clock
        {{Fail::None, 0, 15000}, 2222, 3333000, {}},
        {{Fail::TimerPeriod, 1, 156250}, 3333, 3333000, {failed(os.timer_period.name)}},
        {{Fail::TimerBegin, 1, 156250}, 3333, 3333000, {failed(os.timer_begin.name)}},
        {{Fail::ClockIncrement, 0, 156250}, 2222, 3333000, {failed(os.clock_increment.name)}},
        {{Fail::Counter, 0, 156250}, 0, 0, {failed(os.counter.name), failed(os.counter.name)}},
        {{Fail::CounterFrequency, 0, 156250}, 0, 0, {failed(os.counter_frequency.name)}},
    };
    for (const auto& c : cases) {
        g_clock = c.clock;
        LogEarlyBufferClear();
        testseam::Use<systime_os::Calls, systime_os::set_calls> use(fake);
        EXPECT_EQ(SysTimeGetMs(), c.ms) << static_cast<int>(c.clock.fail) << " " << c.clock.period;
        EXPECT_EQ(reading(SysTimeGetUs), c.us) << static_cast<int>(c.clock.fail);
        EXPECT_EQ(systime_log(), c.log) << static_cast<int>(c.clock.fail);
        SysTimeGetMs();
        EXPECT_EQ(g_clock.asked, 1) << "the source is chosen once";
    }
    LogEarlyBufferClear();
}

// Each cycle reads every source as often as configured; a steady clock past 2^31 ms is no jump
// back from the first readings.
TEST(SysTimeBackJumps, CommCycleCheckReadsTheConfiguredIterationsWithoutFalseReports) {
    g_clock = FakeClock{Fail::None, 0, 156250};
    g_clock.counter = 0x90000000ull * 1000;
    const systime_os::Calls fake = fake_calls();
    testseam::Use<systime_os::Calls, systime_os::set_calls> use(fake);
    ComponentInitRecord record{};
    ASSERT_EQ(SysTime__Entry(&record), RES_OK);
    SettgSetIntValue("SysTime", "CheckBackJumpsIterations", 7, 10);
    EXPECT_EQ(record.hookFunction(CH_INIT_FINISHED, 0, 0), RES_OK);
    LogEarlyBufferClear();
    for (int cycle = 0; cycle < 5; ++cycle) EXPECT_EQ(record.hookFunction(CH_COMM_CYCLE, 0, 0), RES_OK);
    EXPECT_EQ(g_clock.reads, 5 * 7 * 3); // milliseconds, microseconds and nanoseconds
    EXPECT_TRUE(systime_log().empty());
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

class SysTimeImport : public testfw::Framework {};

// A component that imports the readings by name calls them with the out-parameter.
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
