// Calendar conversions of the real-time clock against the C library's own UTC conversion as an
// independent oracle (every day of the RTC range and random millisecond values), the calendar
// helpers and ISO 8601 text of known dates, and every refusal of bad input.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "log_reader.h"
#include "rtc_dates.h"
#include "systimertc.h"

namespace {

// The oracle: the C library's broken-down UTC time of a second count, as a date.
RTS_SYSTIMEDATE oracle_date(long long seconds, int ms) {
    std::tm t{};
#ifdef _WIN32
    const __time64_t when = seconds;
    _gmtime64_s(&t, &when);
#else
    const time_t when = static_cast<time_t>(seconds);
    gmtime_r(&when, &t);
#endif
    RTS_SYSTIMEDATE d =
        make_date(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, ms);
    d.wDayOfWeek = static_cast<RTS_UI16>(t.tm_wday == 0 ? 7 : t.tm_wday);
    d.wYday = static_cast<RTS_UI16>(t.tm_yday + 1);
    return d;
}

std::string text(const RTS_SYSTIMEDATE& d) {
    char out[96];
    std::snprintf(out, sizeof out, "%u-%u-%u %u:%u:%u.%u dow %u yday %u", d.wYear, d.wMonth, d.wDay, d.wHour,
                  d.wMinute, d.wSecond, d.wMilliseconds, d.wDayOfWeek, d.wYday);
    return out;
}

// A date and its millisecond value convert into each other as the oracle says.
void expect_round_trip(RTS_UI64 ms) {
    const RTS_SYSTIMEDATE want = oracle_date(static_cast<long long>(ms / 1000), static_cast<int>(ms % 1000));
    RTS_SYSTIMEDATE got{};
    ASSERT_EQ(SysTimeRtcConvertHighResToDate(&ms, &got), RES_OK) << ms;
    ASSERT_EQ(text(got), text(want)) << ms;
    RTS_UI64 back = 0;
    ASSERT_EQ(SysTimeRtcConvertDateToHighRes(&want, &back), RES_OK) << ms;
    ASSERT_EQ(back, ms);
    RTS_UI32 rtc = 0;
    const bool fits = ms / 1000 <= 0xFFFFFFFFull;
    ASSERT_EQ(SysTimeRtcConvertDateToUtc(&want, &rtc), fits ? RES_OK : RES_OVERFLOW) << ms;
    if (!fits) return;
    ASSERT_EQ(rtc, ms / 1000);
    ASSERT_EQ(SysTimeRtcConvertUtcToDate(rtc, &got), RES_OK);
    ASSERT_EQ(text(got), text(oracle_date(rtc, 0))) << rtc;
    ASSERT_EQ(SysTimeRtcGetDayOfWeek(want.wMonth, want.wDay, want.wYear), want.wDayOfWeek) << rtc;
    ASSERT_EQ(SysTimeRtcGetYDay(want.wMonth, want.wDay, want.wYear), want.wYday) << rtc;
}

TEST(SysTimeRtcConvert, EveryDayOfTheRtcRangeMatchesTheOracleBothWays) {
    constexpr RTS_UI32 kLastDay = 49710; // 2106-02-07, the last day an RTC value reaches
    for (RTS_UI32 day = 0; day <= kLastDay; ++day) {
        // A different time of day on each day, but never past 2106-02-07 06:28:15.
        const RTS_UI32 second = day == kLastDay ? 23295u : (day * 7919u) % 86400u;
        expect_round_trip((static_cast<RTS_UI64>(day) * 86400u + second) * 1000u + day % 1000);
    }
}

TEST(SysTimeRtcConvert, RandomMillisecondValuesMatchTheOracle) {
    std::mt19937_64 random(20261204);
    // Up to the end of year 3000, the oracle's range on both platforms.
    std::uniform_int_distribution<RTS_UI64> pick(0, 32535215999999ull);
    for (int i = 0; i < 100000; ++i) expect_round_trip(pick(random));
}

TEST(SysTimeRtcCalendar, KnownDatesGiveWeekdayDayOfYearAndIsoText) {
    const struct {
        RTS_SYSTIMEDATE date;
        RTS_UI32 dayOfWeek, dayOfYear;
        RTS_I32 offset;
        RTS_SIZE size;
        RTS_RESULT result;
        const char* iso;
    } cases[] = {
        {make_date(2026, 12, 4, 10, 5, 3), 5, 338, 0, 64, RES_OK, "2026-12-04T10:05:03Z"},
        {make_date(2026, 12, 4, 10, 5, 3, 7), 5, 338, 90, 64, RES_OK, "2026-12-04T10:05:03.007+01:30"},
        {make_date(2026, 12, 4, 10, 5, 3), 5, 338, -90, 64, RES_OK, "2026-12-04T10:05:03-01:30"},
        {make_date(2026, 12, 4, 10, 5, 3), 5, 338, 0x7FFFFFFF, 64, RES_OK, "2026-12-04T10:05:03"},
        // The most negative offset must not overflow while its sign is taken off.
        {make_date(2026, 12, 4, 10, 5, 3), 5, 338, INT32_MIN, 64, RES_OK, "2026-12-04T10:05:03-35791394:08"},
        {make_date(2026, 12, 4, 10, 5, 3), 5, 338, 0, 11, RES_BUFFERSIZE, "2026-12-04"},
        {make_date(2024, 1, 1), 1, 1, 330, 64, RES_OK, "2024-01-01T00:00:00+05:30"},
        {make_date(2026, 3, 1), 7, 60, -720, 64, RES_OK, "2026-03-01T00:00:00-12:00"},
        {make_date(2023, 3, 1), 3, 60, 0, 64, RES_OK, "2023-03-01T00:00:00Z"},
        {make_date(2024, 3, 1), 5, 61, 0, 64, RES_OK, "2024-03-01T00:00:00Z"},
        {make_date(1900, 3, 1), 4, 60, 0, 64, RES_OK, "1900-03-01T00:00:00Z"},
        {make_date(2000, 3, 1), 3, 61, 0, 64, RES_OK, "2000-03-01T00:00:00Z"},
        {make_date(2000, 2, 29, 23, 59, 59, 999), 2, 60, 0, 64, RES_OK, "2000-02-29T23:59:59.999Z"},
        {make_date(2024, 12, 31), 2, 366, 0, 64, RES_OK, "2024-12-31T00:00:00Z"},
        {make_date(1970, 1, 1), 4, 1, 0, 64, RES_OK, "1970-01-01T00:00:00Z"},
    };
    for (const auto& c : cases) {
        const RTS_SYSTIMEDATE& d = c.date;
        EXPECT_EQ(SysTimeRtcGetDayOfWeek(d.wMonth, d.wDay, d.wYear), c.dayOfWeek) << c.iso;
        EXPECT_EQ(SysTimeRtcGetYDay(d.wMonth, d.wDay, d.wYear), c.dayOfYear) << c.iso;
        char iso[64];
        EXPECT_EQ(SysTimeRtcConvertDateToISO8601(&d, iso, c.size, c.offset), c.result) << c.iso;
        EXPECT_STREQ(iso, c.iso);
    }
    const struct {
        RTS_I32 month, day, year;
        RTS_UI32 dayOfWeek, dayOfYear;
    } edges[] = {{0, 0, 2024, 6, 0},  {12, 31, 0, 7, 366}, {13, 1, 2024, 0, 0}, {-1, 1, 2024, 0, 0},
                 {1, 32, 2024, 0, 0}, {1, -1, 2024, 0, 0}, {1, 1, -1, 0, 0}};
    for (const auto& e : edges) {
        EXPECT_EQ(SysTimeRtcGetDayOfWeek(e.month, e.day, e.year), e.dayOfWeek) << e.month << "/" << e.day;
        EXPECT_EQ(SysTimeRtcGetYDay(e.month, e.day, e.year), e.dayOfYear) << e.month << "/" << e.day;
    }
}

// Each refusal of the calendar clock, one row per guard; the outputs stay untouched.
TEST(SysTimeRtcBadInput, EveryGuardRefusesWithItsResult) {
    RTS_UI64 ms = 7;
    RTS_UI32 rtc = 7;
    RTS_SYSTIMEDATE date = make_date(2024, 2, 29, 23, 59, 59, 999);
    char iso[8];
    RTS_UI64 pastCalendar = 910670515200000ull; // 30828-01-01, the first instant past the calendar
    const struct {
        const char* what;
        std::function<RTS_RESULT()> call;
        RTS_RESULT result;
    } cases[] = {
        {"high-res get null", [] { return SysTimeRtcHighResGet(nullptr); }, RES_PARAMETER},
        {"high-res set null", [] { return SysTimeRtcHighResSet(nullptr); }, RES_PARAMETER},
        {"high-res set past calendar", [&] { return SysTimeRtcHighResSet(&pastCalendar); }, RES_PARAMETER},
        {"control code 2", [&] { return SysTimeRtcControl(2, &rtc); }, RES_PARAMETER},
        {"control null", [] { return SysTimeRtcControl(0, nullptr); }, RES_PARAMETER},
        {"date to high-res null date", [&] { return SysTimeRtcConvertDateToHighRes(nullptr, &ms); },
         RES_PARAMETER},
        {"date to high-res null out", [&] { return SysTimeRtcConvertDateToHighRes(&date, nullptr); },
         RES_PARAMETER},
        {"date to utc null date", [&] { return SysTimeRtcConvertDateToUtc(nullptr, &rtc); }, RES_PARAMETER},
        {"date to utc null out", [&] { return SysTimeRtcConvertDateToUtc(&date, nullptr); }, RES_PARAMETER},
        {"high-res to date null", [&] { return SysTimeRtcConvertHighResToDate(nullptr, &date); },
         RES_PARAMETER},
        {"high-res to date null out", [&] { return SysTimeRtcConvertHighResToDate(&ms, nullptr); },
         RES_PARAMETER},
        {"high-res to date past calendar",
         [&] { return SysTimeRtcConvertHighResToDate(&pastCalendar, &date); }, RES_OVERFLOW},
        {"utc to date null", [] { return SysTimeRtcConvertUtcToDate(0, nullptr); }, RES_PARAMETER},
        {"utc to local null", [] { return SysTimeRtcConvertUtcToLocal(1, nullptr); }, RES_PARAMETER},
        {"local to utc null", [] { return SysTimeRtcConvertLocalToUtc(1, nullptr); }, RES_PARAMETER},
        {"high-res to local null", [&] { return SysTimeRtcConvertHighResToLocal(nullptr, &date); },
         RES_PARAMETER},
        {"high-res to local null out", [&] { return SysTimeRtcConvertHighResToLocal(&ms, nullptr); },
         RES_PARAMETER},
        {"high-res to local past calendar",
         [&] { return SysTimeRtcConvertHighResToLocal(&pastCalendar, &date); }, RES_OVERFLOW},
        {"local to high-res null out", [&] { return SysTimeRtcConvertLocalToHighRes(&date, nullptr); },
         RES_PARAMETER},
        {"iso null date", [&] { return SysTimeRtcConvertDateToISO8601(nullptr, iso, sizeof iso, 0); },
         RES_PARAMETER},
        {"iso null text", [&] { return SysTimeRtcConvertDateToISO8601(&date, nullptr, 8, 0); },
         RES_PARAMETER},
        {"iso size 0", [&] { return SysTimeRtcConvertDateToISO8601(&date, iso, 0, 0); }, RES_PARAMETER},
        {"get zone null", [] { return SysTimeRtcGetTimezone(nullptr); }, RES_PARAMETER},
        {"set zone null", [] { return SysTimeRtcSetTimezone(nullptr); }, RES_PARAMETER},
        {"get zone 2 null", [] { return SysTimeRtcGetTimezone2(nullptr); }, RES_PARAMETER},
    };
    for (const auto& c : cases) EXPECT_EQ(c.call(), c.result) << c.what;
    EXPECT_EQ(ms, 7u);
    EXPECT_EQ(rtc, 7u);
    for (RTS_UI32 code : {0u, 1u}) {
        EXPECT_EQ(SysTimeRtcControl(code, &rtc), RES_OK);
        EXPECT_EQ(rtc, 1u);
    }
}

// Dates that are no calendar dates from 1970 on; the wrapper's own check (year up to 2106,
// day up to 31) lets some of them through to the function, which refuses without writing.
TEST(SysTimeRtcBadInput, InvalidDatesAreRefusedByEveryConversion) {
    const struct {
        RTS_SYSTIMEDATE date;
        RTS_RESULT wrapperResult;
        RTS_UI32 wrapperValue;
    } cases[] = {
        {make_date(2024, 13, 1), RES_PARAMETER, 0xFFFFFFFFu},
        {make_date(2024, 0, 1), RES_PARAMETER, 0xFFFFFFFFu},
        {make_date(2024, 1, 32), RES_PARAMETER, 0xFFFFFFFFu},
        {make_date(2024, 1, 0), RES_PARAMETER, 0xFFFFFFFFu},
        {make_date(2024, 2, 30), RES_PARAMETER, 7},
        {make_date(2023, 2, 29), RES_PARAMETER, 7},
        {make_date(2024, 4, 31), RES_PARAMETER, 7},
        {make_date(2024, 1, 1, 24), RES_PARAMETER, 0xFFFFFFFFu},
        {make_date(2024, 1, 1, 0, 60), RES_PARAMETER, 0xFFFFFFFFu},
        {make_date(2024, 1, 1, 0, 0, 60), RES_PARAMETER, 0xFFFFFFFFu},
        {make_date(2024, 1, 1, 0, 0, 0, 1000), RES_PARAMETER, 0xFFFFFFFFu},
        {make_date(1969, 12, 31), RES_PARAMETER, 0xFFFFFFFFu},
        {make_date(30828, 1, 1), RES_PARAMETER, 0xFFFFFFFFu},
    };
    for (const auto& c : cases) {
        RTS_UI64 ms = 7;
        RTS_UI32 rtc = 7;
        const std::string what = text(c.date);
        EXPECT_EQ(SysTimeRtcConvertDateToHighRes(&c.date, &ms), RES_PARAMETER) << what;
        EXPECT_EQ(SysTimeRtcConvertDateToUtc(&c.date, &rtc), RES_PARAMETER) << what;
        EXPECT_EQ(SysTimeRtcConvertLocalToHighRes(&c.date, &ms), RES_PARAMETER) << what;
        EXPECT_EQ(ms, 7u) << what;
        EXPECT_EQ(rtc, 7u) << what;
        RTS_SYSTIMEDATE date = c.date;
        systimertcconvertdatetoutc_struct p{&date, &rtc, 99};
        systimertcconvertdatetoutc(&p);
        EXPECT_EQ(p.SysTimeRtcConvertDateToUtc, c.wrapperResult) << what;
        EXPECT_EQ(rtc, c.wrapperValue) << what;
    }
}

// The end of the RTC range: the last second converts; past it the function overflows (logged)
// and the wrapper refuses a year past 2106 before converting.
TEST(SysTimeRtcBadInput, DatesPastTheRtcRangeOverflowOrAreRefused) {
    const struct {
        RTS_SYSTIMEDATE date;
        RTS_RESULT result;
        RTS_UI32 value;
        RTS_RESULT wrapperResult;
        RTS_UI32 wrapperValue;
        std::vector<std::string> log;
    } cases[] = {
        {make_date(2106, 2, 7, 6, 28, 15), RES_OK, 0xFFFFFFFFu, RES_OK, 0xFFFFFFFFu, {}},
        {make_date(2106, 2, 7, 6, 28, 16),
         RES_OVERFLOW,
         0,
         RES_OVERFLOW,
         0,
         {"ERROR: Casting UI64 to UI32. Max value: 0xFFFFFFFF, got: 0x100000000"}},
        {make_date(2107, 1, 1),
         RES_OVERFLOW,
         0,
         RES_PARAMETER,
         0xFFFFFFFFu,
         {"ERROR: Casting UI64 to UI32. Max value: 0xFFFFFFFF, got: 0x101B01100"}},
        {make_date(2026, 12, 4, 10, 5, 3, 250), RES_OK, 1796378703u, RES_OK, 1796378703u, {}},
    };
    for (const auto& c : cases) {
        LogEarlyBufferClear();
        RTS_UI32 value = 7;
        EXPECT_EQ(SysTimeRtcConvertDateToUtc(&c.date, &value), c.result) << text(c.date);
        EXPECT_EQ(value, c.value) << text(c.date);
        EXPECT_EQ(testlog::texts(), c.log);
        RTS_SYSTIMEDATE date = c.date;
        systimertcconvertdatetoutc_struct p{&date, &value, 99};
        systimertcconvertdatetoutc(&p);
        EXPECT_EQ(p.SysTimeRtcConvertDateToUtc, c.wrapperResult) << text(c.date);
        EXPECT_EQ(value, c.wrapperValue) << text(c.date);
    }
    LogEarlyBufferClear();
}

} // namespace
