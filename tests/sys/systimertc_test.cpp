// The calendar clock. Conversions against the C library as an independent oracle (gmtime for
// every day of the RTC range and random millisecond values, localtime_r in zones chosen through
// TZ); known dates with weekday, day of year and ISO 8601 text; the zone record built from the
// platform's record (POSIX derives it as Windows keeps it; under Windows the system's own record
// is the oracle); every refusal of bad input and every failing platform call.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <random>
#include <cstring>
#include <tuple>
#include <string>
#include <utility>
#include <vector>

#include "log_reader.h"
#include "seam_fault.h"
#include "rtc_dates.h"
#include "sys/systimertc_os.h"
#include "systimertc.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

extern "C" RTS_RESULT SysTimeRtc__Entry(ComponentInitRecord* pInit);

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

// Seconds since 1970 of a UTC date, through the component's own (oracle-checked) conversion.
RTS_UI32 utc_of(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    const RTS_SYSTIMEDATE date = make_date(y, mo, d, h, mi, s);
    RTS_UI32 value = 0;
    EXPECT_EQ(SysTimeRtcConvertDateToUtc(&date, &value), RES_OK);
    return value;
}

// A millisecond value and its date convert into each other as the oracle says.
void expect_round_trip(RTS_UI64 ms) {
    const RTS_SYSTIMEDATE want = oracle_date(static_cast<long long>(ms / 1000), static_cast<int>(ms % 1000));
    RTS_SYSTIMEDATE got{};
    RTS_UI64 back = 0;
    RTS_UI32 rtc = 0;
    ASSERT_EQ(SysTimeRtcConvertHighResToDate(&ms, &got), RES_OK) << ms;
    ASSERT_EQ(text(got), text(want)) << ms;
    ASSERT_EQ(SysTimeRtcConvertDateToHighRes(&want, &back), RES_OK) << ms;
    ASSERT_EQ(back, ms);
    const bool fits = ms / 1000 <= 0xFFFFFFFFull;
    ASSERT_EQ(SysTimeRtcConvertDateToUtc(&want, &rtc), fits ? RES_OK : RES_OVERFLOW) << ms;
    if (!fits) return;
    ASSERT_EQ(rtc, ms / 1000);
    ASSERT_EQ(SysTimeRtcConvertUtcToDate(rtc, &got), RES_OK);
    ASSERT_EQ(text(got), text(oracle_date(rtc, 0))) << rtc;
    ASSERT_EQ(SysTimeRtcGetDayOfWeek(want.wMonth, want.wDay, want.wYear), want.wDayOfWeek) << rtc;
    ASSERT_EQ(SysTimeRtcGetYDay(want.wMonth, want.wDay, want.wYear), want.wYday) << rtc;
}

TEST(SysTimeRtcConvert, EveryDayOfTheRtcRangeAndRandomValuesMatchTheOracle) {
    constexpr RTS_UI32 kLastDay = 49710; // 2106-02-07, the last day an RTC value reaches
    for (RTS_UI32 day = 0; day <= kLastDay; ++day) {
        // A different time of day on each day, ending at 2106-02-07 06:28:15, the last RTC value.
        const RTS_UI32 second = day == kLastDay ? 23295u : (day * 7919u) % 86400u;
        expect_round_trip((static_cast<RTS_UI64>(day) * 86400u + second) * 1000u + day % 1000);
    }
    std::mt19937_64 random(20261204);
    // Up to the end of year 3000, the oracle's range on both platforms.
    std::uniform_int_distribution<RTS_UI64> pick(0, 32535215999999ull);
    for (int i = 0; i < 100000; ++i) expect_round_trip(pick(random));
}

TEST(SysTimeRtcCalendar, KnownDatesGiveWeekdayDayOfYearAndIsoText) {
    const RTS_SYSTIMEDATE dec4 = make_date(2026, 12, 4, 10, 5, 3);
    const struct {
        RTS_SYSTIMEDATE date;
        RTS_UI32 dayOfWeek, dayOfYear;
        RTS_I32 offset;
        RTS_SIZE size;
        const char* iso;
    } cases[] = {
        {dec4, 5, 338, 0, 64, "2026-12-04T10:05:03Z"},
        {make_date(2026, 12, 4, 10, 5, 3, 7), 5, 338, 90, 64, "2026-12-04T10:05:03.007+01:30"},
        {dec4, 5, 338, -90, 64, "2026-12-04T10:05:03-01:30"},
        {dec4, 5, 338, 0x7FFFFFFF, 64, "2026-12-04T10:05:03"},
        {dec4, 5, 338, INT32_MIN, 64, "2026-12-04T10:05:03-35791394:08"}, // no overflow taking the sign
        {dec4, 5, 338, 0, 11, "2026-12-04"},                              // cut: RES_BUFFERSIZE
        {make_date(2024, 1, 1), 1, 1, 330, 64, "2024-01-01T00:00:00+05:30"},
        {make_date(2026, 3, 1), 7, 60, -720, 64, "2026-03-01T00:00:00-12:00"},
        {make_date(2023, 3, 1), 3, 60, 0, 64, "2023-03-01T00:00:00Z"},
        {make_date(2024, 3, 1), 5, 61, 0, 64, "2024-03-01T00:00:00Z"},
        {make_date(1900, 3, 1), 4, 60, 0, 64, "1900-03-01T00:00:00Z"},
        {make_date(2000, 3, 1), 3, 61, 0, 64, "2000-03-01T00:00:00Z"},
        {make_date(0, 12, 31, 23, 59, 59, 999), 7, 366, 0, 64, "0000-12-31T23:59:59.999Z"},
        // Month and day 0 pass the helpers' checks; month 13 and day 32 do not.
        {make_date(2024, 0, 5), 4, 5, 0, 64, "2024-00-05T00:00:00Z"},
        {make_date(2024, 13, 1), 0, 0, 0, 64, "2024-13-01T00:00:00Z"},
        {make_date(2024, 1, 32), 0, 0, 0, 64, "2024-01-32T00:00:00Z"},
    };
    for (const auto& c : cases) {
        const RTS_SYSTIMEDATE& d = c.date;
        EXPECT_EQ(SysTimeRtcGetDayOfWeek(d.wMonth, d.wDay, d.wYear), c.dayOfWeek) << c.iso;
        EXPECT_EQ(SysTimeRtcGetYDay(d.wMonth, d.wDay, d.wYear), c.dayOfYear) << c.iso;
        char iso[64];
        EXPECT_EQ(SysTimeRtcConvertDateToISO8601(&d, iso, c.size, c.offset),
                  c.size == 11 ? RES_BUFFERSIZE : RES_OK);
        EXPECT_STREQ(iso, c.iso);
    }
    for (const auto& [m, d, y] : {std::array{-1, 1, 2024}, std::array{1, -1, 2024}, std::array{1, 1, -1}})
        EXPECT_EQ(std::make_pair(SysTimeRtcGetDayOfWeek(m, d, y), SysTimeRtcGetYDay(m, d, y)),
                  std::make_pair(0u, 0u));
}

// Each refusal of the calendar clock, one row per guard; the outputs stay as they were, but for
// the overflow, which is logged and gives 0.
TEST(SysTimeRtcBadInput, EveryGuardRefusesWithItsResult) {
    RTS_UI64 ms = 7;
    RTS_UI32 rtc = 7, overflowed = 7, control = 0;
    const RTS_SYSTIMEDATE leapDay = make_date(2024, 2, 29, 23, 59, 59, 999);
    const RTS_SYSTIMEDATE pastRtc = make_date(2106, 2, 7, 6, 28, 16);
    RTS_SYSTIMEDATE date = leapDay;
    RTS_UI64 pastCalendar = 910670515200000ull; // 30828-01-01, the first instant past the calendar
    char iso[8];
    LogEarlyBufferClear();
    const struct {
        RTS_RESULT result;
        std::function<RTS_RESULT()> call;
    } cases[] = {
        {RES_PARAMETER, [] { return SysTimeRtcHighResGet(nullptr); }},
        {RES_PARAMETER, [] { return SysTimeRtcHighResSet(nullptr); }},
        {RES_PARAMETER, [&] { return SysTimeRtcHighResSet(&pastCalendar); }},
        {RES_PARAMETER, [&] { return SysTimeRtcControl(2, &rtc); }},
        {RES_OK, [&] { return SysTimeRtcControl(1, &control) + SysTimeRtcControl(0, &control); }},
        {RES_PARAMETER, [&] { return SysTimeRtcConvertDateToHighRes(nullptr, &ms); }},
        {RES_PARAMETER, [&] { return SysTimeRtcConvertDateToUtc(&date, nullptr); }},
        {RES_OVERFLOW, [&] { return SysTimeRtcConvertDateToUtc(&pastRtc, &overflowed); }},
        {RES_PARAMETER, [&] { return SysTimeRtcConvertHighResToDate(nullptr, &date); }},
        {RES_OVERFLOW, [&] { return SysTimeRtcConvertHighResToDate(&pastCalendar, &date); }},
        {RES_PARAMETER, [] { return SysTimeRtcConvertUtcToDate(0, nullptr); }},
        {RES_PARAMETER, [] { return SysTimeRtcConvertUtcToLocal(1, nullptr); }},
        {RES_PARAMETER, [&] { return SysTimeRtcConvertHighResToLocal(&ms, nullptr); }},
        {RES_OVERFLOW, [&] { return SysTimeRtcConvertHighResToLocal(&pastCalendar, &date); }},
        {RES_PARAMETER, [&] { return SysTimeRtcConvertLocalToHighRes(&date, nullptr); }},
        {RES_PARAMETER, [&] { return SysTimeRtcConvertDateToISO8601(&date, iso, 0, 0); }},
        {RES_PARAMETER, [] { return SysTimeRtcGetTimezone(nullptr); }},
        {RES_PARAMETER, [] { return SysTimeRtcSetTimezone(nullptr); }},
        {RES_PARAMETER, [] { return SysTimeRtcGetTimezone2(nullptr); }},
    };
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].call(), cases[i].result) << "row " << i;
    EXPECT_EQ(std::make_tuple(ms, rtc, overflowed, control, text(date)),
              std::make_tuple(7u, 7u, 0u, 1u, text(leapDay)));
    EXPECT_EQ(testlog::texts(), std::vector<std::string>{
                                    "ERROR: Casting UI64 to UI32. Max value: 0xFFFFFFFF, got: 0x100000000"});
    LogEarlyBufferClear();
}

// Dates that are no calendar dates from 1970 on. The wrapper checks its range (1970 to 2106, day
// up to 31) first and writes 0xFFFFFFFF; a day its check lets through the function refuses
// without writing.
TEST(SysTimeRtcBadInput, InvalidDatesAreRefusedByEveryConversionAndTheWrapper) {
    for (RTS_SYSTIMEDATE date :
         {make_date(2024, 13, 1), make_date(2024, 0, 1), make_date(2024, 1, 32), make_date(2024, 1, 0),
          make_date(2024, 1, 1, 24), make_date(2024, 1, 1, 0, 60), make_date(2024, 1, 1, 0, 0, 60),
          make_date(2024, 1, 1, 0, 0, 0, 1000), make_date(1969, 12, 31), make_date(2107, 1, 1),
          make_date(30828, 1, 1), make_date(2024, 2, 30), make_date(2023, 2, 29), make_date(2024, 4, 31)}) {
        RTS_UI64 ms = 7;
        RTS_UI32 rtc = 7;
        const bool pastRtc = date.wYear == 2107, noSuchDay = date.wMonth == 2 || date.wMonth == 4;
        EXPECT_EQ(SysTimeRtcConvertDateToHighRes(&date, &ms), pastRtc ? RES_OK : RES_PARAMETER) << text(date);
        EXPECT_EQ(SysTimeRtcConvertLocalToHighRes(&date, &ms) == RES_PARAMETER, !pastRtc) << text(date);
        EXPECT_EQ(SysTimeRtcConvertDateToUtc(&date, &rtc), pastRtc ? RES_OVERFLOW : RES_PARAMETER)
            << text(date);
        systimertcconvertdatetoutc_struct p{&date, &(rtc = 7), 99};
        systimertcconvertdatetoutc(&p);
        EXPECT_EQ(p.SysTimeRtcConvertDateToUtc, RES_PARAMETER) << text(date);
        EXPECT_EQ(rtc, noSuchDay ? 7u : 0xFFFFFFFFu) << text(date);
    }
    RTS_SYSTIMEDATE epoch = make_date(1970, 1, 1);
    RTS_UI32 rtc = 7;
    systimertcconvertdatetoutc_struct p{&epoch, &rtc, 99};
    systimertcconvertdatetoutc(&p);
    EXPECT_EQ(std::make_tuple(p.SysTimeRtcConvertDateToUtc, rtc), std::make_tuple(RES_OK, 0u));
    LogEarlyBufferClear();
}

// The platform on paper: the clock and the zone record are the test's, and a zone set is kept;
// the other calls are the platform's.
struct Paper {
    RTS_I64 clockMs;
    systimertc_os::ZoneInfo zone;
} g_rtc;

using C = systimertc_os::Calls;
C paper_rtc() {
    C c = systimertc_os::platform_calls();
    c.read_clock = [](RTS_I64* ms, const char**) { return *ms = g_rtc.clockMs, rts::kOsOk; };
    c.get_zone = [](int, systimertc_os::ZoneInfo* z, const char**) { return *z = g_rtc.zone, rts::kOsOk; };
    c.set_zone = [](const systimertc_os::ZoneInfo* z, const char**) { return g_rtc.zone = *z, rts::kOsOk; };
    return c;
}
enum { kRead, kSet, kToLocal, kToUtc, kGetZone, kSetZone, kZoneNow, kLoad };
using Inject = seamfault::Injector<C, &C::read_clock, &C::set_clock, &C::to_local, &C::to_utc, &C::get_zone,
                                   &C::set_zone, &C::get_zone_now, &C::load_zone_names>;
constexpr RTS_I64 kJune2026 = 1780272000000; // ms

// Each platform call failing in turn: the documented result, the line with the OS error and
// the component's own line where it writes one; no output is written.
TEST(SysTimeRtcSeam, EachFailingCallIsLoggedAndReported) {
    const C paper = paper_rtc();
    const rts::OsError privilege = systimertc_os::platform_calls().missing_privilege;
    RTS_RESULT r = RES_OK;
    RTS_UI32 value = 7;
    RTS_UI64 ms = 1000;
    SYS_TIME_ZONE_INFORMATION zone{};
    SYS_TIME_ZONE_INFORMATION2 zone2{};
    ComponentInitRecord record{};
    const struct {
        int call;
        rts::OsError error;
        std::function<RTS_RESULT()> act;
        RTS_RESULT result;
        const char* line = nullptr; // the component's own line after the OS error's
    } rows[] = {
        {kRead, 5, [&] { return SysTimeRtcGet(&r) == 0 ? r : RES_OK; }, RES_FAILED},
        {kSet, 5, [] { return SysTimeRtcSet(1); }, RES_FAILED},
        {kSet, privilege, [&] { return SysTimeRtcHighResSet(&ms); }, RES_NO_ACCESS},
        {kToLocal, 5, [&] { return SysTimeRtcConvertUtcToLocal(9, &value); }, RES_FAILED},
        {kToUtc, 5, [&] { return SysTimeRtcConvertLocalToUtc(9, &value); }, RES_FAILED},
        {kGetZone, 5, [&] { return SysTimeRtcGetTimezone(&zone); }, RES_FAILED,
         "Windows cannot determine DST. GTZI failed (5)."},
        {kSetZone, 5, [&] { return SysTimeRtcSetTimezone(&zone); }, RES_FAILED},
        {kZoneNow, 5, [&] { return SysTimeRtcGetTimezone2(&zone2); }, RES_FAILED,
         "Win32 GetTimeZoneInformation() failed; last-error code: 5"},
        {kLoad, 5, [&] { return SysTimeRtc__Entry(&record); }, RES_OK, "ICU lib couldn't be loaded"},
    };
    for (const auto& row : rows) {
        g_rtc = Paper{kJune2026, {}};
        Inject injector(paper, systimertc_os::set_calls);
        injector.fail(row.call, {row.error});
        LogEarlyBufferClear();
        EXPECT_EQ(row.act(), row.result) << row.call;
        std::vector<std::string> log{seamfault::line(row.error)};
        if (row.line != nullptr) log.emplace_back(row.line);
        EXPECT_EQ(testlog::texts(), log) << row.call;
    }
    EXPECT_EQ(value, 7u);
    LogEarlyBufferClear();
}

// The zone's changes as the platform records them, converted as plain dates of the clock's
// year (a recurring change gives its week number as the day); a value outside the RTC range is
// logged, and the first error found is the result.
TEST(SysTimeRtcSeam, ZoneChangesAreThePlatformRecordsReadAsDatesOfThisYear) {
    using systimertc_os::ZoneDate;
    const ZoneDate october{0, 10, 0, 5, 3, 0, 0}, march{0, 3, 0, 5, 2, 0, 0}, january{0, 1, 0, 1, 0, 0, 0};
    const std::string negative = "ERROR: Casting negative time_t values to UI32 not supported: Got 0x";
    const std::string overflow = "ERROR: Overflow while casting 64 Bit time_t to UI32.";
    const struct {
        RTS_I64 clockMs;
        ZoneDate standard, daylight;
        RTS_RESULT result;
        RTS_UI32 standardValue, daylightValue;
        std::vector<std::string> log;
    } cases[] = {
        {kJune2026, october, march, RES_OK, utc_of(2026, 10, 5, 3), utc_of(2026, 3, 5, 2), {}},
        {-18489600000,
         october,
         march,
         RES_UNDERFLOW,
         0,
         0, // in 1969
         {negative + "FFFFFFFFFF8C2630", negative + "FFFFFFFFFE71F720"}},
        {4292956800000,
         january,
         march,
         RES_OVERFLOW,
         4291747200u,
         0, // in 2106
         {overflow, "ERROR: Max value: 0xFFFFFFFF, got: 0x100220820"}},
    };
    const C paper = paper_rtc();
    for (const auto& c : cases) {
        g_rtc = Paper{c.clockMs, {-60, 0, -60, "CET", "CEST", c.standard, c.daylight}};
        LogEarlyBufferClear();
        Inject injector(paper, systimertc_os::set_calls);
        SYS_TIME_ZONE_INFORMATION tz;
        std::memset(&tz, 0xA5, sizeof tz); // what the call does not write stays visible
        EXPECT_EQ(SysTimeRtcGetTimezone(&tz), c.result) << c.clockMs;
        EXPECT_EQ(std::make_tuple(tz.ulStandardDate, tz.ulDaylightDate, testlog::texts()),
                  std::make_tuple(c.standardValue, c.daylightValue, c.log));
    }
    // Set as the zone, a record goes to the platform with its changes as fixed dates and its
    // names cut to 31 characters.
    SYS_TIME_ZONE_INFORMATION tz{utc_of(2026, 10, 25, 3), 0, "", "CEST", -60, 7, -50};
    std::snprintf(tz.szStandardName, sizeof tz.szStandardName, "%s", std::string(32, 'x').c_str());
    Inject injector(paper, systimertc_os::set_calls);
    ASSERT_EQ(SysTimeRtcSetTimezone(&tz), RES_OK);
    const systimertc_os::ZoneInfo& z = g_rtc.zone;
    EXPECT_EQ(std::make_tuple(z.bias, z.standardBias, z.daylightBias, std::string(z.standardName),
                              std::string(z.daylightName)),
              std::make_tuple(-60, 7, -50, std::string(31, 'x'), std::string("CEST")));
    const ZoneDate& d = z.standardDate;
    EXPECT_EQ(std::make_tuple(d.year, d.month, d.weekday, d.day, d.hour, z.daylightDate.month),
              std::make_tuple(2026, 10, 0, 25, 3, 0)); // a Sunday; no daylight change
    LogEarlyBufferClear();
}

#ifdef _WIN32

// The system's own record is the oracle: its dates with this year, read as plain dates; the
// offset of now agrees with the conversions and the record's biases.
TEST(SysTimeRtcWindows, ZoneRecordIsTheSystemsRecordOfThisYear) {
    TIME_ZONE_INFORMATION tzi{};
    ASSERT_NE(GetTimeZoneInformation(&tzi), TIME_ZONE_ID_INVALID);
    RTS_SYSTIMEDATE now{};
    SysTimeRtcConvertUtcToDate(SysTimeRtcGet(nullptr), &now);
    const auto plain = [&now](const SYSTEMTIME& st) {
        return st.wMonth == 0 ? 0u : utc_of(now.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
    };
    SYS_TIME_ZONE_INFORMATION tz{};
    ASSERT_EQ(SysTimeRtcGetTimezone(&tz), RES_OK);
    EXPECT_EQ(std::make_pair(tz.ulStandardDate, tz.ulDaylightDate),
              std::make_pair(plain(tzi.StandardDate), plain(tzi.DaylightDate)));
    EXPECT_EQ(std::make_tuple(tz.iBias, tz.iDaylightBias), std::make_tuple(tzi.Bias, tzi.DaylightBias));
    EXPECT_EQ(tz.szStandardName[0], static_cast<char>(tzi.StandardName[0] & 0xFF));
    SYS_TIME_ZONE_INFORMATION2 now2{};
    ASSERT_EQ(SysTimeRtcGetTimezone2(&now2), RES_OK);
    const RTS_UI32 utc = SysTimeRtcGet(nullptr);
    RTS_UI32 local = 0, back = 0;
    ASSERT_EQ(SysTimeRtcConvertUtcToLocal(utc, &local), RES_OK);
    ASSERT_EQ(SysTimeRtcConvertLocalToUtc(local, &back), RES_OK);
    EXPECT_EQ(std::make_tuple(RTS_I64{local} - utc, back),
              std::make_tuple(RTS_I64{now2.iOffsetSeconds}, utc));
    EXPECT_EQ(now2.iOffsetSeconds,
              -60 * (tz.iBias + (now2.bDaylightSaving ? tz.iDaylightBias : tz.iStandardBias)));

    // Setting a zone needs a privilege a process is not given by default; the zone stays.
    LogEarlyBufferClear();
    EXPECT_EQ(SysTimeRtcSetTimezone(&tz), RES_FAILED);
    EXPECT_EQ(testlog::texts(), std::vector<std::string>{"SetTimeZoneInformation failed: OS error 1314"});
    LogEarlyBufferClear();
}

#else

// Sets TZ for the scope and puts the old value (or none) back.
struct TzScope {
    explicit TzScope(const char* tz) : old(std::getenv("TZ") ? std::getenv("TZ") : "") { use(tz); }
    ~TzScope() {
        old.empty() ? unsetenv("TZ") : setenv("TZ", old.c_str(), 1);
        tzset();
    }
    static void use(const char* tz) {
        setenv("TZ", tz, 1);
        tzset();
    }
    std::string old;
};

constexpr const char* kCet = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr const char* kAest = "AEST-10AEDT,M10.1.0,M4.1.0/3";

// The oracle: the C library's offset of the zone at that instant.
RTS_I64 oracle_offset(RTS_UI32 utc) {
    const time_t t = utc;
    tm local{};
    localtime_r(&t, &local);
    return local.tm_gmtoff;
}

// The record Windows keeps of a zone: each change as the week of its month (the last is 5),
// read as a plain date of this year, at the wall time just before the change. Set back as the
// zone, the record is kept as fixed dates and reads back the same. The zone's name is its IANA
// name where TZ or the zone file gives one. Local time differs from UTC by the oracle's offset.
TEST(SysTimeRtcZone, ZoneRecordGivesTheChangesAsWindowsRecordsThemAndSetsBack) {
    TzScope scope(kCet);
    RTS_SYSTIMEDATE now{};
    SysTimeRtcConvertUtcToDate(SysTimeRtcGet(nullptr), &now);
    const int year = now.wYear;
    const char* const berlin[] = {"Europe/Berlin", ":Europe/Berlin", "/usr/share/zoneinfo/Europe/Berlin"};
    const struct {
        const char* zone;
        RTS_I16 bias, daylightBias;
        const char *names, *iana;
        RTS_UI32 standardDate, daylightDate;
    } cases[] = {
        {"IST-5:30", -330, 0, "IST/IST", nullptr, 0, 0},
        {kCet, -60, -60, "CET/CEST", nullptr, utc_of(year, 10, 5, 3), utc_of(year, 3, 5, 2)},
        {berlin[0], -60, -60, "CET/CEST", "Europe/Berlin", utc_of(year, 10, 5, 3), utc_of(year, 3, 5, 2)},
        {berlin[1], -60, -60, "CET/CEST", "Europe/Berlin", utc_of(year, 10, 5, 3), utc_of(year, 3, 5, 2)},
        {berlin[2], -60, -60, "CET/CEST", "Europe/Berlin", utc_of(year, 10, 5, 3), utc_of(year, 3, 5, 2)},
        {"EST5EDT,M3.2.0,M11.1.0", 300, -60, "EST/EDT", nullptr, utc_of(year, 11, 1, 2),
         utc_of(year, 3, 2, 2)},
        {kAest, -600, -60, "AEST/AEDT", nullptr, utc_of(year, 4, 1, 3), utc_of(year, 10, 1, 2)},
        {"<XST>3<XDT>2,M5.3.0/23:30,M9.3.6/1:15:30", 180, -60, "XST/XDT", nullptr,
         utc_of(year, 9, 3, 1, 15, 30), utc_of(year, 5, 3, 23, 30)},
    };
    for (const auto& c : cases) {
        TzScope::use(c.zone);
        SYS_TIME_ZONE_INFORMATION tz{}, again{};
        ASSERT_EQ(SysTimeRtcGetTimezone(&tz), RES_OK) << c.zone;
        EXPECT_EQ(std::make_tuple(tz.iBias, tz.iStandardBias, tz.iDaylightBias),
                  std::make_tuple(c.bias, RTS_I16{0}, c.daylightBias))
            << c.zone;
        EXPECT_EQ(std::string(tz.szStandardName) + "/" + tz.szDaylightName, c.names) << c.zone;
        EXPECT_EQ(std::make_pair(tz.ulStandardDate, tz.ulDaylightDate),
                  std::make_pair(c.standardDate, c.daylightDate))
            << c.zone;

        LogEarlyBufferClear();
        SYS_TIME_ZONE_INFORMATION2 now2{};
        ASSERT_EQ(SysTimeRtcGetTimezone2(&now2), RES_OK);
        EXPECT_EQ(now2.iOffsetSeconds, oracle_offset(SysTimeRtcGet(nullptr))) << c.zone;
        EXPECT_EQ(now2.bDaylightSaving,
                  now2.iOffsetSeconds == -60 * (c.bias + c.daylightBias) && c.daylightBias != 0);
        EXPECT_STREQ(now2.szName, c.iana != nullptr ? c.iana : c.zone);
        const std::string unmapped =
            std::string("Couldn't map Windows time zone \"") + c.zone + "\" to IANA time zone";
        EXPECT_EQ(testlog::texts(),
                  c.iana != nullptr ? std::vector<std::string>{} : std::vector<std::string>{unmapped});

        // Early in the year (the day before, west of UTC), mid-year and into the next year.
        for (const RTS_UI32 utc :
             {utc_of(year, 1, 1, 2), utc_of(year, 7, 15, 23, 59, 59), utc_of(year, 12, 31, 23, 30)}) {
            RTS_UI32 local = 0, back = 0;
            const RTS_UI64 ms = utc * 1000ull + 321;
            RTS_UI64 msBack = 0;
            RTS_SYSTIMEDATE localDate{}, expected{};
            ASSERT_EQ(SysTimeRtcConvertUtcToLocal(utc, &local), RES_OK) << c.zone;
            ASSERT_EQ(SysTimeRtcConvertLocalToUtc(local, &back), RES_OK) << c.zone;
            EXPECT_EQ(std::make_tuple(RTS_I64{local} - utc, back), std::make_tuple(oracle_offset(utc), utc))
                << c.zone;
            ASSERT_EQ(SysTimeRtcConvertHighResToLocal(&ms, &localDate), RES_OK) << c.zone;
            ASSERT_EQ(SysTimeRtcConvertLocalToHighRes(&localDate, &msBack), RES_OK) << c.zone;
            SysTimeRtcConvertUtcToDate(local, &expected);
            expected.wMilliseconds = 321;
            EXPECT_EQ(std::make_tuple(text(localDate), msBack), std::make_tuple(text(expected), ms))
                << c.zone;
        }
        TzScope::use("UTC0");
        ASSERT_EQ(SysTimeRtcSetTimezone(&tz), RES_OK) << c.zone;
        ASSERT_EQ(SysTimeRtcGetTimezone(&again), RES_OK) << c.zone;
        EXPECT_EQ(std::memcmp(&again, &tz, sizeof tz), 0) << c.zone;
    }
    RTS_UI32 zero = 7, local = 7;
    EXPECT_EQ(SysTimeRtcConvertUtcToLocal(0, &zero) + SysTimeRtcConvertLocalToUtc(0, &local), RES_OK);
    EXPECT_EQ(zero + local, 0u); // 0 stays 0
    // East of UTC the latest RTC value has no local value of 32 bits; west, the earliest.
    TzScope::use(kCet);
    EXPECT_EQ(SysTimeRtcConvertUtcToLocal(0xFFFFFFFFu, &local), RES_OVERFLOW);
    TzScope::use("EST5");
    EXPECT_EQ(SysTimeRtcConvertUtcToLocal(60, &local), RES_UNDERFLOW);
    LogEarlyBufferClear();
}

// The real clock refuses a process without the right to set it; the value set is the present,
// so that a child that kept the privilege by mistake does no harm.
TEST(SysTimeRtcClock, SettingWithoutThePrivilegeGivesNoAccess) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        _exit(SysTimeRtcSet(SysTimeRtcGet(nullptr)) == RES_NO_ACCESS ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

#endif

} // namespace
