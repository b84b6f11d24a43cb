/* Calendar conversions of the real-time clock against the C library's own UTC conversion as an
 * independent oracle (every day of the RTC range and random millisecond values), the day of
 * week and day of year helpers, ISO 8601 text, and bad input. */
#include <gtest/gtest.h>

#include <ctime>
#include <random>
#include <string>

#include "systimertc.h"
#include "systimertc_test_dates.h"
#include "test_components.h"

namespace {

constexpr RTS_UI32 kLastDay = 49710; // 2106-02-07, the last day an RTC value reaches

/* The oracle: the C library's broken-down UTC time of a second count. */
std::tm oracle_utc(long long seconds) {
    std::tm out{};
#ifdef _WIN32
    const __time64_t t = seconds;
    _gmtime64_s(&out, &t);
#else
    const time_t t = static_cast<time_t>(seconds);
    gmtime_r(&t, &out);
#endif
    return out;
}

RTS_SYSTIMEDATE date_of(const std::tm& t, RTS_UI16 ms) {
    RTS_SYSTIMEDATE d{};
    d.wYear = static_cast<RTS_UI16>(t.tm_year + 1900);
    d.wMonth = static_cast<RTS_UI16>(t.tm_mon + 1);
    d.wDay = static_cast<RTS_UI16>(t.tm_mday);
    d.wHour = static_cast<RTS_UI16>(t.tm_hour);
    d.wMinute = static_cast<RTS_UI16>(t.tm_min);
    d.wSecond = static_cast<RTS_UI16>(t.tm_sec);
    d.wMilliseconds = ms;
    d.wDayOfWeek = static_cast<RTS_UI16>(t.tm_wday == 0 ? 7 : t.tm_wday);
    d.wYday = static_cast<RTS_UI16>(t.tm_yday + 1);
    return d;
}

::testing::AssertionResult same_date(const RTS_SYSTIMEDATE& got, const RTS_SYSTIMEDATE& want) {
    if (got.wYear == want.wYear && got.wMonth == want.wMonth && got.wDay == want.wDay &&
        got.wHour == want.wHour && got.wMinute == want.wMinute && got.wSecond == want.wSecond &&
        got.wMilliseconds == want.wMilliseconds && got.wDayOfWeek == want.wDayOfWeek &&
        got.wYday == want.wYday)
        return ::testing::AssertionSuccess();
    char text[160];
    std::snprintf(text, sizeof text,
                  "got %u-%u-%u %u:%u:%u.%u dow %u yday %u, want %u-%u-%u %u:%u:%u.%u dow %u yday %u",
                  got.wYear, got.wMonth, got.wDay, got.wHour, got.wMinute, got.wSecond, got.wMilliseconds,
                  got.wDayOfWeek, got.wYday, want.wYear, want.wMonth, want.wDay, want.wHour, want.wMinute,
                  want.wSecond, want.wMilliseconds, want.wDayOfWeek, want.wYday);
    return ::testing::AssertionFailure() << text;
}

TEST(SysTimeRtcConvert, EveryDayOfTheRtcRangeMatchesTheOracleBothWays) {
    for (RTS_UI32 day = 0; day <= kLastDay; ++day) {
        // A different time of day on each day, but never past 2106-02-07 06:28:15.
        const RTS_UI32 secondOfDay = day == kLastDay ? 23295u : (day * 7919u) % 86400u;
        const RTS_UI32 rtc = day * 86400u + secondOfDay;
        const std::tm oracle = oracle_utc(rtc);
        const RTS_UI16 ms = static_cast<RTS_UI16>(day % 1000);
        const RTS_SYSTIMEDATE want = date_of(oracle, ms);

        RTS_SYSTIMEDATE got{};
        ASSERT_EQ(SysTimeRtcConvertUtcToDate(rtc, &got), RES_OK);
        ASSERT_TRUE(same_date(got, date_of(oracle, 0))) << "rtc " << rtc;

        const RTS_UI64 highRes = static_cast<RTS_UI64>(rtc) * 1000u + ms;
        ASSERT_EQ(SysTimeRtcConvertHighResToDate(&highRes, &got), RES_OK);
        ASSERT_TRUE(same_date(got, want)) << "ms " << highRes;

        RTS_UI32 backRtc = 0;
        RTS_UI64 backHighRes = 0;
        ASSERT_EQ(SysTimeRtcConvertDateToUtc(&want, &backRtc), RES_OK);
        ASSERT_EQ(SysTimeRtcConvertDateToHighRes(&want, &backHighRes), RES_OK);
        ASSERT_EQ(backRtc, rtc);
        ASSERT_EQ(backHighRes, highRes);

        ASSERT_EQ(SysTimeRtcGetDayOfWeek(want.wMonth, want.wDay, want.wYear), want.wDayOfWeek)
            << "rtc " << rtc;
        ASSERT_EQ(SysTimeRtcGetYDay(want.wMonth, want.wDay, want.wYear), want.wYday) << "rtc " << rtc;
    }
}

TEST(SysTimeRtcConvert, RandomMillisecondValuesMatchTheOracle) {
    std::mt19937_64 random(20261204);
    // Up to the end of year 3000, the oracle's range on both platforms.
    std::uniform_int_distribution<RTS_UI64> pick(0, 32535215999999ull);
    for (int i = 0; i < 100000; ++i) {
        const RTS_UI64 value = pick(random);
        const RTS_SYSTIMEDATE want =
            date_of(oracle_utc(static_cast<long long>(value / 1000)), static_cast<RTS_UI16>(value % 1000));
        RTS_SYSTIMEDATE got{};
        ASSERT_EQ(SysTimeRtcConvertHighResToDate(&value, &got), RES_OK);
        ASSERT_TRUE(same_date(got, want)) << "ms " << value;
        RTS_UI64 back = 0;
        ASSERT_EQ(SysTimeRtcConvertDateToHighRes(&got, &back), RES_OK);
        ASSERT_EQ(back, value);
        RTS_UI32 rtc = 0;
        const RTS_RESULT r = SysTimeRtcConvertDateToUtc(&got, &rtc);
        if (value / 1000 <= 0xFFFFFFFFull) {
            ASSERT_EQ(r, RES_OK);
            ASSERT_EQ(rtc, value / 1000);
        } else {
            ASSERT_EQ(r, RES_OVERFLOW) << "ms " << value;
        }
    }
}

TEST(SysTimeRtcCalendar, DayOfWeekAndDayOfYearOfKnownDates) {
    const struct {
        int month, day, year;
        RTS_UI32 dayOfWeek, dayOfYear;
    } cases[] = {
        {12, 4, 2026, 5, 338},  {1, 1, 2024, 1, 1},  {3, 1, 2026, 7, 60}, {3, 1, 2023, 3, 60},
        {3, 1, 2024, 5, 61},    {3, 1, 1900, 4, 60}, {3, 1, 2000, 3, 61}, {2, 29, 2000, 2, 60},
        {12, 31, 2024, 2, 366}, {1, 1, 1970, 4, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SysTimeRtcGetDayOfWeek(c.month, c.day, c.year), c.dayOfWeek)
            << c.year << "-" << c.month << "-" << c.day;
        EXPECT_EQ(SysTimeRtcGetYDay(c.month, c.day, c.year), c.dayOfYear)
            << c.year << "-" << c.month << "-" << c.day;
    }
    const struct {
        int month, day, year;
    } invalid[] = {{13, 1, 2024}, {-1, 1, 2024}, {1, 32, 2024}, {1, -1, 2024}, {1, 1, -1}};
    for (const auto& c : invalid) {
        EXPECT_EQ(SysTimeRtcGetDayOfWeek(c.month, c.day, c.year), 0u)
            << c.month << "/" << c.day << "/" << c.year;
        EXPECT_EQ(SysTimeRtcGetYDay(c.month, c.day, c.year), 0u) << c.month << "/" << c.day << "/" << c.year;
    }
}

TEST(SysTimeRtcConvert, InvalidDatesAreRefused) {
    const struct {
        const char* what;
        RTS_SYSTIMEDATE date;
    } cases[] = {
        {"month 13", make_date(2024, 13, 1)},
        {"month 0", make_date(2024, 0, 1)},
        {"day 32", make_date(2024, 1, 32)},
        {"day 0", make_date(2024, 1, 0)},
        {"30 February", make_date(2024, 2, 30)},
        {"29 February 2023", make_date(2023, 2, 29)},
        {"31 April", make_date(2024, 4, 31)},
        {"hour 24", make_date(2024, 1, 1, 24)},
        {"minute 60", make_date(2024, 1, 1, 0, 60)},
        {"second 60", make_date(2024, 1, 1, 0, 0, 60)},
        {"millisecond 1000", make_date(2024, 1, 1, 0, 0, 0, 1000)},
        {"year 1969", make_date(1969, 12, 31)},
    };
    for (const auto& c : cases) {
        RTS_UI64 highRes = 7;
        RTS_UI32 rtc = 7;
        EXPECT_EQ(SysTimeRtcConvertDateToHighRes(&c.date, &highRes), RES_PARAMETER) << c.what;
        EXPECT_EQ(SysTimeRtcConvertDateToUtc(&c.date, &rtc), RES_PARAMETER) << c.what;
        EXPECT_EQ(SysTimeRtcConvertLocalToHighRes(&c.date, &highRes), RES_PARAMETER) << c.what;
        EXPECT_EQ(highRes, 7u) << c.what;
        EXPECT_EQ(rtc, 7u) << c.what;
    }
    const RTS_SYSTIMEDATE good = make_date(2024, 2, 29, 23, 59, 59, 999);
    RTS_UI64 highRes = 0;
    RTS_UI32 rtc = 0;
    RTS_SYSTIMEDATE date{};
    EXPECT_EQ(SysTimeRtcConvertDateToHighRes(nullptr, &highRes), RES_PARAMETER);
    EXPECT_EQ(SysTimeRtcConvertDateToHighRes(&good, nullptr), RES_PARAMETER);
    EXPECT_EQ(SysTimeRtcConvertDateToUtc(nullptr, &rtc), RES_PARAMETER);
    EXPECT_EQ(SysTimeRtcConvertDateToUtc(&good, nullptr), RES_PARAMETER);
    EXPECT_EQ(SysTimeRtcConvertHighResToDate(nullptr, &date), RES_PARAMETER);
    EXPECT_EQ(SysTimeRtcConvertHighResToDate(&highRes, nullptr), RES_PARAMETER);
    EXPECT_EQ(SysTimeRtcConvertUtcToDate(0, nullptr), RES_PARAMETER);
    const RTS_UI64 huge = ~0ull;
    EXPECT_EQ(SysTimeRtcConvertHighResToDate(&huge, &date), RES_OVERFLOW);
}

TEST(SysTimeRtcConvert, DatePastTheRtcRangeOverflowsAndIsLogged) {
    LogEarlyBufferClear();
    RTS_UI32 rtc = 7;
    const RTS_SYSTIMEDATE lastSecond = make_date(2106, 2, 7, 6, 28, 15);
    ASSERT_EQ(SysTimeRtcConvertDateToUtc(&lastSecond, &rtc), RES_OK);
    EXPECT_EQ(rtc, 0xFFFFFFFFu);
    EXPECT_TRUE(testlog::entries().empty());
    const RTS_SYSTIMEDATE pastIt = make_date(2106, 2, 7, 6, 28, 16);
    EXPECT_EQ(SysTimeRtcConvertDateToUtc(&pastIt, &rtc), RES_OVERFLOW);
    const auto entries = testlog::entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_STREQ(entries[0].InfoText, "ERROR: Casting UI64 to UI32. Max value: 0xFFFFFFFF, got: 0x100000000");
    EXPECT_EQ(entries[0].CmpId, CMPID_SysTimeRtc);
    LogEarlyBufferClear();
}

TEST(SysTimeRtcWrappers, DateToUtcChecksTheDateFirst) {
    const struct {
        const char* what;
        RTS_SYSTIMEDATE date;
        RTS_RESULT result;
        RTS_UI32 value;
    } cases[] = {
        {"year 2107", make_date(2107, 1, 1), RES_PARAMETER, 0xFFFFFFFFu},
        {"year 1969", make_date(1969, 1, 1), RES_PARAMETER, 0xFFFFFFFFu},
        {"month 13", make_date(2024, 13, 1), RES_PARAMETER, 0xFFFFFFFFu},
        {"day 32", make_date(2024, 1, 32), RES_PARAMETER, 0xFFFFFFFFu},
        {"hour 24", make_date(2024, 1, 1, 24), RES_PARAMETER, 0xFFFFFFFFu},
        {"millisecond 1000", make_date(2024, 1, 1, 0, 0, 0, 1000), RES_PARAMETER, 0xFFFFFFFFu},
        {"epoch", make_date(1970, 1, 1), RES_OK, 0u},
        {"a known date", make_date(2026, 12, 4, 10, 5, 3, 250), RES_OK, 1796378703u},
        {"past the range in 2106", make_date(2106, 12, 31), RES_OVERFLOW, 0u},
    };
    for (const auto& c : cases) {
        RTS_SYSTIMEDATE date = c.date;
        RTS_UI32 value = 7;
        systimertcconvertdatetoutc_struct p{&date, &value, 99};
        systimertcconvertdatetoutc(&p);
        EXPECT_EQ(p.SysTimeRtcConvertDateToUtc, c.result) << c.what;
        EXPECT_EQ(value, c.value) << c.what;
    }
    systimertcconvertdatetoutc_struct none{nullptr, nullptr, 99};
    systimertcconvertdatetoutc(&none);
    EXPECT_EQ(none.SysTimeRtcConvertDateToUtc, RES_PARAMETER);
    systimertcconvertdatetoutc(nullptr);
    LogEarlyBufferClear();
}

TEST(SysTimeRtcIso8601, FormatsDateMillisecondsAndZoneSuffix) {
    const struct {
        RTS_SYSTIMEDATE date;
        RTS_I32 offset;
        const char* text;
    } cases[] = {
        {make_date(2026, 12, 4, 10, 5, 3), 0, "2026-12-04T10:05:03Z"},
        {make_date(2026, 12, 4, 10, 5, 3, 7), 90, "2026-12-04T10:05:03.007+01:30"},
        {make_date(2026, 12, 4, 10, 5, 3), -90, "2026-12-04T10:05:03-01:30"},
        {make_date(2026, 12, 4, 10, 5, 3), 0x7FFFFFFF, "2026-12-04T10:05:03"},
        {make_date(1970, 1, 1, 0, 0, 0, 999), 330, "1970-01-01T00:00:00.999+05:30"},
        {make_date(2000, 2, 29, 23, 59, 59), -720, "2000-02-29T23:59:59-12:00"},
    };
    for (const auto& c : cases) {
        char text[64];
        EXPECT_EQ(SysTimeRtcConvertDateToISO8601(&c.date, text, sizeof text, c.offset), RES_OK) << c.text;
        EXPECT_STREQ(text, c.text);
    }
    const RTS_SYSTIMEDATE date = make_date(2026, 12, 4, 10, 5, 3);
    char small[11];
    EXPECT_EQ(SysTimeRtcConvertDateToISO8601(&date, small, sizeof small, 0), RES_BUFFERSIZE);
    EXPECT_STREQ(small, "2026-12-04");
    char text[64];
    EXPECT_EQ(SysTimeRtcConvertDateToISO8601(&date, nullptr, sizeof text, 0), RES_PARAMETER);
    EXPECT_EQ(SysTimeRtcConvertDateToISO8601(&date, text, 0, 0), RES_PARAMETER);
    EXPECT_EQ(SysTimeRtcConvertDateToISO8601(nullptr, text, sizeof text, 0), RES_PARAMETER);
    // The most negative offset must not overflow while its sign is taken off.
    EXPECT_EQ(SysTimeRtcConvertDateToISO8601(&date, text, sizeof text, INT32_MIN), RES_OK);
    EXPECT_STREQ(text, "2026-12-04T10:05:03-35791394:08");
}

TEST(SysTimeRtcControl, AnswersCodesZeroAndOneOnly) {
    for (RTS_UI32 code : {0u, 1u}) {
        RTS_UI32 value = 0;
        EXPECT_EQ(SysTimeRtcControl(code, &value), RES_OK);
        EXPECT_EQ(value, 1u);
    }
    RTS_UI32 value = 0;
    EXPECT_EQ(SysTimeRtcControl(2, &value), RES_PARAMETER);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(SysTimeRtcControl(0, nullptr), RES_PARAMETER);
}

} // namespace
