// The calendar clock. Conversions against the C library as an independent oracle (gmtime for
// every day of the RTC range and random millisecond values, localtime_r in zones chosen through
// TZ); ISO 8601 text and the calendar helpers at their edges; the zone record built from the
// platform's record (POSIX derives it as Windows keeps it; under Windows the system's own record
// is the oracle); every refusal of bad input and every failing platform call.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "framework_fixture.h"
#include "log_reader.h"
#include "seam_fault.h"
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

RTS_SYSTIMEDATE make_date(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    const auto u = [](int v) { return static_cast<RTS_UI16>(v); };
    return RTS_SYSTIMEDATE{u(y), u(mo), u(d), u(h), u(mi), u(s), u(ms), 0, 0};
}

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

TEST(SysTimeRtcCalendar, IsoTextAndTheHelpersAtTheirEdges) {
    const RTS_SYSTIMEDATE dec4 = make_date(2026, 12, 4, 10, 5, 3);
    // date, zone offset in minutes, buffer size, text
    const std::tuple<RTS_SYSTIMEDATE, RTS_I32, RTS_SIZE, const char*> iso[] = {
        {dec4, 0, 64, "2026-12-04T10:05:03Z"},
        {make_date(2026, 12, 4, 10, 5, 3, 7), 90, 64, "2026-12-04T10:05:03.007+01:30"},
        {dec4, -720, 64, "2026-12-04T10:05:03-12:00"},
        {dec4, 0x7FFFFFFF, 64, "2026-12-04T10:05:03"},
        {dec4, INT32_MIN, 64, "2026-12-04T10:05:03-35791394:08"}, // no overflow taking the sign
        {dec4, 0, 11, "2026-12-04"},                              // cut: RES_BUFFERSIZE
        {make_date(0, 12, 31, 23, 59, 59, 999), 0, 64, "0000-12-31T23:59:59.999Z"},
    };
    for (const auto& [date, offset, size, expected] : iso) {
        char out[64];
        EXPECT_EQ(SysTimeRtcConvertDateToISO8601(&date, out, size, offset),
                  size == 11 ? RES_BUFFERSIZE : RES_OK);
        EXPECT_STREQ(out, expected);
    }
    // month, day, year; day of week and of year. Month and day 0 pass the helpers' checks.
    const std::tuple<int, int, int, RTS_UI32, RTS_UI32> helpers[] = {
        {12, 31, 0, 7, 366}, {3, 1, 1900, 4, 60}, {0, 5, 2024, 4, 5},  {13, 1, 2024, 0, 0},
        {1, 32, 2024, 0, 0}, {-1, 1, 2024, 0, 0}, {1, -1, 2024, 0, 0}, {1, 1, -1, 0, 0},
    };
    for (const auto& [m, d, y, dayOfWeek, dayOfYear] : helpers)
        EXPECT_EQ(std::make_pair(SysTimeRtcGetDayOfWeek(m, d, y), SysTimeRtcGetYDay(m, d, y)),
                  std::make_pair(dayOfWeek, dayOfYear))
            << y << "-" << m << "-" << d;
}

// Each refusal of the calendar clock, one row per guard; the outputs stay as they were, but for
// the overflow, which is logged and gives 0. Dates that are no calendar dates from 1970 on are
// refused by every conversion; the wrapper checks its range (1970 to 2106, day up to 31) first
// and writes 0xFFFFFFFF, and a day its check lets through the function refuses without writing.
TEST(SysTimeRtcBadInput, EveryGuardRefusesWithItsResult) {
    RTS_UI64 ms = 7;
    RTS_UI32 rtc = 7, overflowed = 7, control = 0;
    const RTS_SYSTIMEDATE leapDay = make_date(2024, 2, 29, 23, 59, 59, 999);
    const RTS_SYSTIMEDATE pastRtc = make_date(2106, 2, 7, 6, 28, 16);
    RTS_SYSTIMEDATE date = leapDay;
    RTS_UI64 pastCalendar = 910670515200000ull; // 30828-01-01, the first instant past the calendar
    char iso[8];
    testlog::clear();
    const std::pair<RTS_RESULT, std::function<RTS_RESULT()>> rows[] = {
        {RES_PARAMETER, [] { return SysTimeRtcHighResGet(nullptr); }},
        {RES_PARAMETER, [] { return SysTimeRtcHighResSet(nullptr); }},
        {RES_PARAMETER, [&] { return SysTimeRtcHighResSet(&pastCalendar); }},
        {RES_PARAMETER, [&] { return SysTimeRtcControl(2, &rtc); }},
        {RES_OK, [&] { return SysTimeRtcControl(1, &control) + SysTimeRtcControl(0, &control); }},
        {RES_OVERFLOW, [&] { return SysTimeRtcConvertDateToUtc(&pastRtc, &overflowed); }},
        {RES_PARAMETER, [&] { return SysTimeRtcConvertHighResToDate(nullptr, &date); }},
        {RES_OVERFLOW, [&] { return SysTimeRtcConvertHighResToDate(&pastCalendar, &date); }},
        {RES_PARAMETER, [] { return SysTimeRtcConvertUtcToDate(0, nullptr); }},
        {RES_PARAMETER, [] { return SysTimeRtcConvertUtcToLocal(1, nullptr); }},
        {RES_PARAMETER, [&] { return SysTimeRtcConvertHighResToLocal(&ms, nullptr); }},
        {RES_OVERFLOW, [&] { return SysTimeRtcConvertHighResToLocal(&pastCalendar, &date); }},
        {RES_PARAMETER, [&] { return SysTimeRtcConvertDateToISO8601(&date, iso, 0, 0); }},
        {RES_PARAMETER, [] { return SysTimeRtcGetTimezone(nullptr); }},
        {RES_PARAMETER, [] { return SysTimeRtcSetTimezone(nullptr); }},
        {RES_PARAMETER, [] { return SysTimeRtcGetTimezone2(nullptr); }},
    };
    for (size_t i = 0; i < std::size(rows); ++i) EXPECT_EQ(rows[i].second(), rows[i].first) << "row " << i;
    EXPECT_EQ(std::make_tuple(ms, rtc, overflowed, control, text(date)),
              std::make_tuple(7u, 7u, 0u, 1u, text(leapDay)));
    EXPECT_EQ(testlog::texts(), std::vector<std::string>{
                                    "ERROR: Casting UI64 to UI32. Max value: 0xFFFFFFFF, got: 0x100000000"});
    for (RTS_SYSTIMEDATE bad : // the last is a date, past the RTC range only
         {make_date(2024, 13, 1), make_date(2024, 0, 1), make_date(2024, 1, 32), make_date(2024, 1, 0),
          make_date(2024, 1, 1, 24), make_date(2024, 1, 1, 0, 60), make_date(2024, 1, 1, 0, 0, 60),
          make_date(2024, 1, 1, 0, 0, 0, 1000), make_date(1969, 12, 31), make_date(30828, 1, 1),
          make_date(2024, 2, 30), make_date(2023, 2, 29), make_date(2024, 4, 31), make_date(2107, 1, 1)}) {
        const bool pastRtc = bad.wYear == 2107, noSuchDay = bad.wMonth == 2 || bad.wMonth == 4;
        const RTS_RESULT refused = pastRtc ? RES_OK : RES_PARAMETER;
        EXPECT_EQ(std::make_tuple(SysTimeRtcConvertDateToHighRes(&bad, &ms),
                                  SysTimeRtcConvertLocalToHighRes(&bad, &ms),
                                  SysTimeRtcConvertDateToUtc(&bad, &rtc)),
                  std::make_tuple(refused, refused, pastRtc ? RES_OVERFLOW : RES_PARAMETER))
            << text(bad);
        systimertcconvertdatetoutc_struct p{&bad, &(rtc = 7), 99};
        systimertcconvertdatetoutc(&p);
        EXPECT_EQ(std::make_pair(p.SysTimeRtcConvertDateToUtc, rtc),
                  std::make_pair(RES_PARAMETER, noSuchDay ? 7u : 0xFFFFFFFFu))
            << text(bad);
    }
    RTS_SYSTIMEDATE epoch = make_date(1970, 1, 1);
    systimertcconvertdatetoutc_struct p{&epoch, &(rtc = 7), 99};
    systimertcconvertdatetoutc(&p);
    EXPECT_EQ(std::make_pair(p.SysTimeRtcConvertDateToUtc, rtc), std::make_pair(RES_OK, 0u));
    testlog::clear();
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

// Each platform call failing in turn: the documented result, the line with the OS error and the
// component's own line where it writes one; no output is written.
TEST(SysTimeRtcSeam, EachFailingCallIsLoggedAndReported) {
    const C paper = paper_rtc();
    const rts::OsError privilege = systimertc_os::platform_calls().missing_privilege;
    RTS_RESULT r = RES_OK;
    RTS_UI32 value = 7;
    RTS_UI64 ms = 1000;
    SYS_TIME_ZONE_INFORMATION zone{};
    SYS_TIME_ZONE_INFORMATION2 zone2{};
    ComponentInitRecord record{};
    const auto line = [](rts::OsError error, const char* own = nullptr) {
        return own == nullptr ? std::vector{seamfault::line(error)}
                              : std::vector<std::string>{seamfault::line(error), own};
    };
    const auto getZone = [&] { return SysTimeRtcGetTimezone(&zone); };
    const auto getZoneNow = [&] { return SysTimeRtcGetTimezone2(&zone2); };
    const auto load = [&] { return SysTimeRtc__Entry(&record); };
    const char* noZone = "Win32 GetTimeZoneInformation() failed; last-error code: 5";
    const seamfault::Row<std::function<RTS_RESULT()>> rows[] = {
        {kRead, {5}, [&] { return SysTimeRtcGet(&r) == 0 ? r : RES_OK; }, RES_FAILED, line(5)},
        {kSet, {5}, [] { return SysTimeRtcSet(1); }, RES_FAILED, line(5)},
        {kSet, {privilege}, [&] { return SysTimeRtcHighResSet(&ms); }, RES_NO_ACCESS, line(privilege)},
        {kToLocal, {5}, [&] { return SysTimeRtcConvertUtcToLocal(9, &value); }, RES_FAILED, line(5)},
        {kToUtc, {5}, [&] { return SysTimeRtcConvertLocalToUtc(9, &value); }, RES_FAILED, line(5)},
        {kGetZone, {5}, getZone, RES_FAILED, line(5, "Windows cannot determine DST. GTZI failed (5).")},
        {kSetZone, {5}, [&] { return SysTimeRtcSetTimezone(&zone); }, RES_FAILED, line(5)},
        {kZoneNow, {5}, getZoneNow, RES_FAILED, line(5, noZone)},
        {kLoad, {5}, load, RES_OK, line(5, "ICU lib couldn't be loaded")},
    };
    for (const auto& row : rows) {
        g_rtc = Paper{kJune2026, {}};
        Inject injector(paper, systimertc_os::set_calls);
        injector.fail(row);
        testlog::clear();
        EXPECT_EQ(row.act(), row.result) << row.entry;
        EXPECT_EQ(testlog::texts(), row.lines) << row.entry;
    }
    EXPECT_EQ(value, 7u);
    testlog::clear();
}

// The zone's changes as the platform records them, converted as plain dates of the clock's year
// (a recurring change gives its week number as the day); a value outside the RTC range is
// logged, and the first error found is the result. Set as the zone, a record goes to the
// platform with its changes as fixed dates and its names cut to 31 characters.
using SysTimeRtcLogged = testfw::Framework; // the time-zone messages go through the component's filter

TEST_F(SysTimeRtcLogged, ZoneChangesAreThePlatformRecordsReadAsDatesOfThisYear) {
    using systimertc_os::ZoneDate;
    const ZoneDate october{0, 10, 0, 5, 3, 0, 0}, march{0, 3, 0, 5, 2, 0, 0}, january{0, 1, 0, 1, 0, 0, 0};
    const std::string negative = "ERROR: Casting negative time_t values to UI32 not supported: Got 0x";
    const std::vector<std::string> before1970 = {negative + "FFFFFFFFFF8C2630",
                                                 negative + "FFFFFFFFFE71F720"},
                                   past2106 = {"ERROR: Overflow while casting 64 Bit time_t to UI32.",
                                               "ERROR: Max value: 0xFFFFFFFF, got: 0x100220820"};
    // the clock (in 2026, 1969 and 2106), the change to standard time, the result, the two values
    // and the lines; the change to daylight time is in March
    const std::tuple<RTS_I64, ZoneDate, RTS_RESULT, RTS_UI32, RTS_UI32, std::vector<std::string>> rows[] = {
        {kJune2026, october, RES_OK, utc_of(2026, 10, 5, 3), utc_of(2026, 3, 5, 2), {}},
        {-18489600000, october, RES_UNDERFLOW, 0, 0, before1970},
        {4292956800000, january, RES_OVERFLOW, 4291747200u, 0, past2106},
    };
    const C paper = paper_rtc();
    Inject injector(paper, systimertc_os::set_calls);
    for (const auto& [clockMs, standard, result, standardValue, daylightValue, lines] : rows) {
        g_rtc = Paper{clockMs, {-60, 0, -60, "CET", "CEST", standard, march}};
        testlog::clear();
        SYS_TIME_ZONE_INFORMATION tz;
        std::memset(&tz, 0xA5, sizeof tz); // what the call does not write stays visible
        EXPECT_EQ(SysTimeRtcGetTimezone(&tz), result) << clockMs;
        EXPECT_EQ(std::make_tuple(tz.ulStandardDate, tz.ulDaylightDate, testlog::texts()),
                  std::make_tuple(standardValue, daylightValue, lines));
    }
    SYS_TIME_ZONE_INFORMATION tz{utc_of(2026, 10, 25, 3), 0, "", "CEST", -60, 7, -50};
    std::snprintf(tz.szStandardName, sizeof tz.szStandardName, "%s", std::string(32, 'x').c_str());
    ASSERT_EQ(SysTimeRtcSetTimezone(&tz), RES_OK);
    const systimertc_os::ZoneInfo& z = g_rtc.zone;
    const ZoneDate& d = z.standardDate;
    EXPECT_EQ(std::make_tuple(z.bias, z.standardBias, z.daylightBias, std::string(z.standardName),
                              std::string(z.daylightName), d.year, d.month, d.weekday, d.day, d.hour,
                              z.daylightDate.month),
              std::make_tuple(-60, 7, -50, std::string(31, 'x'), std::string("CEST"), 2026, 10, 0, 25, 3, 0));
    testlog::clear(); // a Sunday; no daylight change
}

#ifdef _WIN32

// The system's own record is the oracle: its dates with this year, read as plain dates; the
// offset of now agrees with the conversions and the record's biases. Setting a zone needs a
// privilege a process is not given by default; the zone stays.
TEST(SysTimeRtcWindows, ZoneRecordIsTheSystemsRecordOfThisYear) {
    TIME_ZONE_INFORMATION tzi{};
    ASSERT_NE(GetTimeZoneInformation(&tzi), TIME_ZONE_ID_INVALID);
    RTS_SYSTIMEDATE now{};
    SysTimeRtcConvertUtcToDate(SysTimeRtcGet(nullptr), &now);
    const auto plain = [&now](const SYSTEMTIME& st) {
        return st.wMonth == 0 ? 0u : utc_of(now.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
    };
    SYS_TIME_ZONE_INFORMATION tz{};
    SYS_TIME_ZONE_INFORMATION2 now2{};
    ASSERT_EQ(SysTimeRtcGetTimezone(&tz) + SysTimeRtcGetTimezone2(&now2), RES_OK);
    EXPECT_EQ(std::make_tuple(tz.ulStandardDate, tz.ulDaylightDate, tz.iBias, tz.iDaylightBias),
              std::make_tuple(plain(tzi.StandardDate), plain(tzi.DaylightDate), tzi.Bias, tzi.DaylightBias));
    EXPECT_EQ(tz.szStandardName[0], static_cast<char>(tzi.StandardName[0] & 0xFF));
    const RTS_UI32 utc = SysTimeRtcGet(nullptr);
    RTS_UI32 local = 0, back = 0;
    ASSERT_EQ(SysTimeRtcConvertUtcToLocal(utc, &local) + SysTimeRtcConvertLocalToUtc(local, &back), RES_OK);
    EXPECT_EQ(std::make_tuple(RTS_I64{local} - utc, back),
              std::make_tuple(RTS_I64{now2.iOffsetSeconds}, utc));
    EXPECT_EQ(now2.iOffsetSeconds,
              -60 * (tz.iBias + (now2.bDaylightSaving ? tz.iDaylightBias : tz.iStandardBias)));
    testlog::clear();
    EXPECT_EQ(SysTimeRtcSetTimezone(&tz), RES_FAILED);
    EXPECT_EQ(testlog::texts(), std::vector<std::string>{"SetTimeZoneInformation failed: OS error 1314"});
    testlog::clear();
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
    TzScope scope("UTC0");
    RTS_SYSTIMEDATE now{};
    SysTimeRtcConvertUtcToDate(SysTimeRtcGet(nullptr), &now);
    const int year = now.wYear;
    const RTS_UI32 lastOctober = utc_of(year, 10, 5, 3), lastMarch = utc_of(year, 3, 5, 2);
    // TZ, the biases, the names, the IANA name (null: none), the changes to standard and daylight time
    const std::tuple<const char*, RTS_I16, RTS_I16, const char*, const char*, RTS_UI32, RTS_UI32> rows[] = {
        {"IST-5:30", -330, 0, "IST/IST", nullptr, 0, 0},
        {"CET-1CEST,M3.5.0,M10.5.0/3", -60, -60, "CET/CEST", nullptr, lastOctober, lastMarch},
        {":Europe/Berlin", -60, -60, "CET/CEST", "Europe/Berlin", lastOctober, lastMarch},
        {"/usr/share/zoneinfo/Europe/Berlin", -60, -60, "CET/CEST", "Europe/Berlin", lastOctober, lastMarch},
        {"AEST-10AEDT,M10.1.0,M4.1.0/3", -600, -60, "AEST/AEDT", nullptr, utc_of(year, 4, 1, 3),
         utc_of(year, 10, 1, 2)},
        {"<XST>3<XDT>2,M5.3.0/23:30,M9.3.6/1:15:30", 180, -60, "XST/XDT", nullptr,
         utc_of(year, 9, 3, 1, 15, 30), utc_of(year, 5, 3, 23, 30)},
    };
    for (const auto& [zone, bias, daylightBias, names, iana, standardDate, daylightDate] : rows) {
        TzScope::use(zone);
        SYS_TIME_ZONE_INFORMATION tz{}, again{};
        ASSERT_EQ(SysTimeRtcGetTimezone(&tz), RES_OK) << zone;
        EXPECT_EQ(
            std::make_tuple(tz.iBias, tz.iStandardBias, tz.iDaylightBias, tz.ulStandardDate,
                            tz.ulDaylightDate, std::string(tz.szStandardName) + "/" + tz.szDaylightName),
            std::make_tuple(bias, RTS_I16{0}, daylightBias, standardDate, daylightDate, std::string(names)))
            << zone;
        testlog::clear();
        SYS_TIME_ZONE_INFORMATION2 now2{};
        ASSERT_EQ(SysTimeRtcGetTimezone2(&now2), RES_OK);
        EXPECT_EQ(
            std::make_tuple(RTS_I64{now2.iOffsetSeconds}, now2.bDaylightSaving, std::string(now2.szName)),
            std::make_tuple(oracle_offset(SysTimeRtcGet(nullptr)),
                            now2.iOffsetSeconds == -60 * (bias + daylightBias) && daylightBias != 0,
                            std::string(iana != nullptr ? iana : zone)))
            << zone;
        EXPECT_EQ(testlog::texts(),
                  std::vector<std::string>(iana != nullptr ? 0 : 1,
                                           std::string("Couldn't map Windows time zone \"") + zone +
                                               "\" to IANA time zone"));
        // Early in the year (the day before, west of UTC), mid-year and into the next year.
        for (const RTS_UI32 utc :
             {utc_of(year, 1, 1, 2), utc_of(year, 7, 15, 23, 59, 59), utc_of(year, 12, 31, 23, 30)}) {
            RTS_UI32 local = 0, back = 0;
            const RTS_UI64 ms = utc * 1000ull + 321;
            RTS_UI64 msBack = 0;
            RTS_SYSTIMEDATE localDate{}, expected{};
            ASSERT_EQ(SysTimeRtcConvertUtcToLocal(utc, &local) + SysTimeRtcConvertLocalToUtc(local, &back) +
                          SysTimeRtcConvertHighResToLocal(&ms, &localDate) +
                          SysTimeRtcConvertLocalToHighRes(&localDate, &msBack),
                      RES_OK)
                << zone;
            SysTimeRtcConvertUtcToDate(local, &expected);
            expected.wMilliseconds = 321;
            EXPECT_EQ(std::make_tuple(RTS_I64{local} - utc, back, text(localDate), msBack),
                      std::make_tuple(oracle_offset(utc), utc, text(expected), ms))
                << zone;
        }
        TzScope::use("UTC0");
        ASSERT_EQ(SysTimeRtcSetTimezone(&tz) + SysTimeRtcGetTimezone(&again), RES_OK) << zone;
        EXPECT_EQ(std::memcmp(&again, &tz, sizeof tz), 0) << zone;
    }
    RTS_UI32 zero = 7, local = 7;
    EXPECT_EQ(SysTimeRtcConvertUtcToLocal(0, &zero) + SysTimeRtcConvertLocalToUtc(0, &local), RES_OK);
    EXPECT_EQ(zero + local, 0u); // 0 stays 0
    // East of UTC the latest RTC value has no local value of 32 bits; west, the earliest.
    TzScope::use("CET-1");
    EXPECT_EQ(SysTimeRtcConvertUtcToLocal(0xFFFFFFFFu, &local), RES_OVERFLOW);
    TzScope::use("EST5");
    EXPECT_EQ(SysTimeRtcConvertUtcToLocal(60, &local), RES_UNDERFLOW);
    testlog::clear();
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
