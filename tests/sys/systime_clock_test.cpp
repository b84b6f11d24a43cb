/* The monotonic clocks: the tick wrap guard, counter scaling, the back-jump report and its
 * hook, the choice of the millisecond source and every failing platform call, readings that
 * never go backwards on any thread, and the readings imported by name. */
#include <gtest/gtest.h>

#include <string>
#include <thread>
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

/* A platform whose calls answer from the row under test; a failing call still fills its
 * out-parameter with the value that would mislead a core that used it. */
enum class Fail { None, TimerPeriod, TimerBegin, ClockIncrement, Counter, CounterFrequency };
constexpr rts::OsError kFakeError = 5;
constexpr RTS_UI32 kTimerMs = 1111;
constexpr RTS_UI32 kTickMs = 2222;
constexpr RTS_UI64 kCounterUs = 3333000; /* the fake counter runs at 1 MHz */
constexpr RTS_UI32 kCounterMs = 3333;
struct FakeClock {
    Fail fail;
    RTS_UI32 period;
    RTS_UI32 increment;
};
FakeClock g_clock;

rts::OsError fake_answer(Fail call) {
    return g_clock.fail == call ? kFakeError : rts::kOsOk;
}
rts::OsError fake_period(RTS_UI32* ms) {
    *ms = g_clock.fail == Fail::TimerPeriod ? 1 : g_clock.period;
    return fake_answer(Fail::TimerPeriod);
}
rts::OsError fake_begin(RTS_UI32) {
    return fake_answer(Fail::TimerBegin);
}
rts::OsError fake_increment(RTS_UI32* units) {
    *units = g_clock.fail == Fail::ClockIncrement ? 156250 : g_clock.increment;
    return fake_answer(Fail::ClockIncrement);
}
rts::OsError fake_counter(RTS_UI64* ticks) {
    *ticks = kCounterUs;
    return fake_answer(Fail::Counter);
}
rts::OsError fake_frequency(RTS_UI64* perSecond) {
    *perSecond = 1000000;
    return fake_answer(Fail::CounterFrequency);
}

TEST(SysTimeSeam, ChoosesTheMillisecondSourceAndSurvivesEachFailingCall) {
    const systime_os::Calls& platform = systime_os::platform_calls();
    systime_os::Calls fake = platform;
    fake.timer_period.fn = fake_period;
    fake.timer_begin.fn = fake_begin;
    fake.clock_increment.fn = fake_increment;
    fake.counter.fn = fake_counter;
    fake.counter_frequency.fn = fake_frequency;
    fake.timer_time = [] { return kTimerMs; };
    fake.tick_count = [] { return kTickMs; };
    const auto failed = [](const char* call) { return std::string(call) + " failed: OS error 5"; };
    const struct {
        const char* what;
        FakeClock clock;
        RTS_UI32 ms;
        RTS_UI64 us;
        std::vector<std::string> log;
    } cases[] = {
        {"1 ms timer", {Fail::None, 1, 156250}, kTimerMs, kCounterUs, {}},
        {"2 ms timer, coarse clock", {Fail::None, 2, 156250}, kCounterMs, kCounterUs, {}},
        {"finest coarse clock", {Fail::None, 0, 15001}, kCounterMs, kCounterUs, {}},
        {"fine clock", {Fail::None, 0, 15000}, kTickMs, kCounterUs, {}},
        {"timer period",
         {Fail::TimerPeriod, 1, 156250},
         kCounterMs,
         kCounterUs,
         {failed(platform.timer_period.name)}},
        {"timer request",
         {Fail::TimerBegin, 1, 156250},
         kCounterMs,
         kCounterUs,
         {failed(platform.timer_begin.name)}},
        {"clock adjustment",
         {Fail::ClockIncrement, 0, 0},
         kTickMs,
         kCounterUs,
         {failed(platform.clock_increment.name)}},
        {"counter",
         {Fail::Counter, 0, 156250},
         0,
         0,
         {failed(platform.counter.name), failed(platform.counter.name)}},
        {"frequency", {Fail::CounterFrequency, 0, 156250}, 0, 0, {failed(platform.counter_frequency.name)}},
    };
    for (const auto& c : cases) {
        g_clock = c.clock;
        LogEarlyBufferClear();
        testseam::Use<systime_os::Calls, systime_os::set_calls> use(fake);
        EXPECT_EQ(SysTimeGetMs(), c.ms) << c.what;
        RTS_UI64 us = 7;
        EXPECT_EQ(SysTimeGetUs(&us), RES_OK) << c.what;
        EXPECT_EQ(us, c.us) << c.what;
        EXPECT_EQ(systime_log(), c.log) << c.what;
    }
    LogEarlyBufferClear();
}

TEST(SysTimeBackJumps, CommCycleCheckReadsTheConfiguredIterationsWithoutFalseReports) {
    ComponentInitRecord record{};
    ASSERT_EQ(SysTime__Entry(&record), RES_OK);
    SettgSetIntValue("SysTime", "CheckBackJumpsIterations", 2000, 10);
    EXPECT_EQ(record.hookFunction(CH_INIT_FINISHED, 0, 0), RES_OK);
    LogEarlyBufferClear();
    for (int cycle = 0; cycle < 5; ++cycle) EXPECT_EQ(record.hookFunction(CH_COMM_CYCLE, 0, 0), RES_OK);
    EXPECT_TRUE(systime_log().empty());
    SettgRemoveKey("SysTime", "CheckBackJumpsIterations");
    EXPECT_EQ(record.hookFunction(CH_INIT_FINISHED, 0, 0), RES_OK);
}

TEST(SysTimeReadings, NeverGoBackwardsOnAnyThreadAndAgreeWithEachOther) {
    std::vector<int> backwards(4, 0);
    auto reader = [&backwards](int id) {
        RTS_UI32 lastMs = SysTimeGetMs();
        RTS_UI64 lastUs = read_us();
        RTS_UI64 lastNs = read_ns();
        for (int i = 0; i < 20000; ++i) {
            const RTS_UI32 ms = SysTimeGetMs();
            const RTS_UI64 us = read_us();
            const RTS_UI64 ns = read_ns();
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

    // Microseconds read between two nanosecond readings lie between them.
    const RTS_UI64 before = read_ns();
    const RTS_UI64 us = read_us();
    const RTS_UI64 after = read_ns();
    EXPECT_GE(us, before / 1000);
    EXPECT_LE(us, after / 1000 + 1);
    EXPECT_GT(after, 0u) << "a counter is present on both platforms";
}

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
