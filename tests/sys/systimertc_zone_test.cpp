// The real-time clock against the platform: the zone record built from the platform's record
// (with the C library's localtime_r as oracle for local time in zones chosen through TZ, and
// the system's own record under Windows), setting a zone back, the current zone, a clock that
// may not be set, and every failing platform call.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "log_reader.h"
#include "os_seam.h"
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

// Seconds since 1970 of a UTC date, through the component's own (oracle-checked) conversion.
RTS_UI32 utc_of(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    RTS_SYSTIMEDATE date = make_date(y, mo, d, h, mi, s);
    RTS_UI32 value = 0;
    EXPECT_EQ(SysTimeRtcConvertDateToUtc(&date, &value), RES_OK);
    return value;
}

int current_year() {
    RTS_SYSTIMEDATE date{};
    SysTimeRtcConvertUtcToDate(SysTimeRtcGet(nullptr), &date);
    return date.wYear;
}

TEST(SysTimeRtcClock, SecondsAndMillisecondsAgreeAndZoneOffsetsMatchConversions) {
    RTS_RESULT r = RES_FAILED;
    RTS_UI64 before = 0;
    ASSERT_EQ(SysTimeRtcHighResGet(&before), RES_OK);
    const RTS_UI32 now = SysTimeRtcGet(&r);
    RTS_UI64 after = 0;
    ASSERT_EQ(SysTimeRtcHighResGet(&after), RES_OK);
    EXPECT_EQ(r, RES_OK);
    EXPECT_GE(now, before / 1000);
    EXPECT_LE(now, after / 1000);
    EXPECT_GT(now, utc_of(2024, 1, 1)) << "the clock reads a plausible present";

    SYS_TIME_ZONE_INFORMATION2 tz{};
    ASSERT_EQ(SysTimeRtcGetTimezone2(&tz), RES_OK);
    RTS_UI32 local = 0;
    ASSERT_EQ(SysTimeRtcConvertUtcToLocal(now, &local), RES_OK);
    EXPECT_EQ(static_cast<RTS_I64>(local) - now, tz.iOffsetSeconds);
    RTS_UI32 back = 0;
    ASSERT_EQ(SysTimeRtcConvertLocalToUtc(local, &back), RES_OK);
    EXPECT_EQ(back, now);
    SYS_TIME_ZONE_INFORMATION zone{};
    EXPECT_EQ(SysTimeRtcGetTimezone(&zone), RES_OK);
    EXPECT_EQ(-60 * (zone.iBias + (tz.bDaylightSaving ? zone.iDaylightBias : zone.iStandardBias)),
              tz.iOffsetSeconds);
    LogEarlyBufferClear();
}

// A platform whose calls answer from the test: `failing` names the call that fails (or
// "privilege" for a clock the process may not set); the clock and the zone are the row's.
constexpr rts::OsError kFakeError = 5;
struct FakeRtc {
    std::string failing;
    RTS_I64 clockMs;
    systimertc_os::ZoneInfo zone;
};
FakeRtc g_rtc;

rts::OsError answer(const char* call) {
    return g_rtc.failing == call ? kFakeError : rts::kOsOk;
}

systimertc_os::Calls fake_calls() {
    using systimertc_os::CivilTime;
    systimertc_os::Calls c = systimertc_os::platform_calls();
    c.read_clock.fn = [](RTS_I64* ms) { return *ms = g_rtc.clockMs, answer("read_clock"); };
    c.set_clock.fn = [](RTS_UI64) {
        const rts::OsError privilege = systimertc_os::platform_calls().missing_privilege;
        return g_rtc.failing == "privilege" ? privilege : answer("set_clock");
    };
    c.to_local.fn = [](RTS_I64, CivilTime*) { return answer("to_local"); };
    c.to_utc.fn = [](const CivilTime*, CivilTime*) { return answer("to_utc"); };
    c.get_zone.fn = [](int, systimertc_os::ZoneInfo* z) { return *z = g_rtc.zone, answer("get_zone"); };
    c.set_zone.fn = [](const systimertc_os::ZoneInfo*) { return answer("set_zone"); };
    c.get_zone_now.fn = [](systimertc_os::ZoneNow*) { return answer("get_zone_now"); };
    c.load_zone_names.fn = [] { return answer("load_zone_names"); };
    return c;
}

using FakeUse = testseam::Use<systimertc_os::Calls, systimertc_os::set_calls>;

TEST(SysTimeRtcSeam, EachFailingCallGivesTheDocumentedResultAndOneLogLine) {
    const systimertc_os::Calls fake = fake_calls();
    const systimertc_os::Calls& os = systimertc_os::platform_calls();
    const auto failed = [](const char* call, rts::OsError code = kFakeError) {
        return std::string(call) + " failed: OS error " + std::to_string(code);
    };
    RTS_UI32 value = 7;
    SYS_TIME_ZONE_INFORMATION zone{};
    SYS_TIME_ZONE_INFORMATION2 zone2{};
    const struct {
        const char* failing;
        std::function<RTS_RESULT()> call;
        RTS_RESULT result;
        std::vector<std::string> log;
    } cases[] = {
        {"read_clock",
         [&] {
             RTS_RESULT r = RES_OK;
             return value = SysTimeRtcGet(&r), r;
         },
         RES_FAILED,
         {failed(os.read_clock.name)}},
        {"set_clock", [] { return SysTimeRtcSet(1); }, RES_FAILED, {failed(os.set_clock.name)}},
        {"privilege",
         [] { return SysTimeRtcSet(1); },
         RES_NO_ACCESS,
         {failed(os.set_clock.name, os.missing_privilege)}},
        {"to_local",
         [&] { return SysTimeRtcConvertUtcToLocal(1000, &value); },
         RES_FAILED,
         {failed(os.to_local.name)}},
        {"to_utc",
         [&] { return SysTimeRtcConvertLocalToUtc(1000, &value); },
         RES_FAILED,
         {failed(os.to_utc.name)}},
        {"get_zone",
         [&] { return SysTimeRtcGetTimezone(&zone); },
         RES_FAILED,
         {failed(os.get_zone.name), "Windows cannot determine DST. GTZI failed (5)."}},
        {"set_zone", [&] { return SysTimeRtcSetTimezone(&zone); }, RES_FAILED, {failed(os.set_zone.name)}},
        {"get_zone_now",
         [&] { return SysTimeRtcGetTimezone2(&zone2); },
         RES_FAILED,
         {failed(os.get_zone_now.name), "Win32 GetTimeZoneInformation() failed; last-error code: 5"}},
        {"load_zone_names",
         [] {
             ComponentInitRecord r{};
             return SysTimeRtc__Entry(&r);
         },
         RES_OK,
         {failed(os.load_zone_names.name), "ICU lib couldn't be loaded"}},
    };
    for (const auto& c : cases) {
        g_rtc = FakeRtc{c.failing, 1780272000000, {}};
        value = 7;
        LogEarlyBufferClear();
        FakeUse use(fake);
        EXPECT_EQ(c.call(), c.result) << c.failing;
        EXPECT_EQ(value, std::string(c.failing) == "read_clock" ? 0u : 7u) << c.failing;
        EXPECT_EQ(testlog::texts(), c.log) << c.failing;
    }
    LogEarlyBufferClear();
}

// The zone's changes as the platform records them, converted as plain dates of the clock's
// year: a change that recurs gives its week number as the day, a fixed date its own day.
TEST(SysTimeRtcSeam, ZoneChangesAreThePlatformRecordsReadAsDatesOfThisYear) {
    using systimertc_os::ZoneDate;
    const ZoneDate lastSundayOfOctober{0, 10, 0, 5, 3, 0, 0}, lastSundayOfMarch{0, 3, 0, 5, 2, 0, 0};
    const struct {
        const char* what;
        RTS_I64 clockMs;
        ZoneDate standard, daylight;
        RTS_RESULT result;
        RTS_UI32 standardValue, daylightValue;
        std::vector<std::string> log;
    } cases[] = {
        {"recurring",
         1780272000000,
         lastSundayOfOctober,
         lastSundayOfMarch,
         RES_OK,
         utc_of(2026, 10, 5, 3),
         utc_of(2026, 3, 5, 2),
         {}},
        {"fixed dates of another year",
         1780272000000,
         {2024, 11, 1, 3, 1, 30, 15},
         {2024, 4, 4, 11, 2, 0, 0},
         RES_OK,
         utc_of(2026, 11, 3, 1, 30, 15),
         utc_of(2026, 4, 11, 2),
         {}},
        {"no changes", 1780272000000, {}, {}, RES_OK, 0, 0, {}},
        {"in 1969",
         -18489600000,
         lastSundayOfOctober,
         lastSundayOfMarch,
         RES_UNDERFLOW,
         0,
         0,
         {"ERROR: Casting negative time_t values to UI32 not supported: Got 0xFFFFFFFFFF8C2630",
          "ERROR: Casting negative time_t values to UI32 not supported: Got 0xFFFFFFFFFE71F720"}},
        {"in 2106",
         4292956800000,
         lastSundayOfOctober,
         {0, 1, 0, 1, 0, 0, 0},
         RES_OVERFLOW,
         0,
         4291747200u,
         {"ERROR: Overflow while casting 64 Bit time_t to UI32.",
          "ERROR: Max value: 0xFFFFFFFF, got: 0x1013C3730"}},
        {"first error kept",
         4292956800000,
         {0, 1, 0, 1, 0, 0, 0},
         lastSundayOfMarch,
         RES_OVERFLOW,
         4291747200u,
         0,
         {"ERROR: Overflow while casting 64 Bit time_t to UI32.",
          "ERROR: Max value: 0xFFFFFFFF, got: 0x100220820"}},
    };
    const systimertc_os::Calls fake = fake_calls();
    for (const auto& c : cases) {
        g_rtc = FakeRtc{"", c.clockMs, {-60, 0, -60, "CET", "CEST", c.standard, c.daylight}};
        LogEarlyBufferClear();
        FakeUse use(fake);
        SYS_TIME_ZONE_INFORMATION tz{};
        EXPECT_EQ(SysTimeRtcGetTimezone(&tz), c.result) << c.what;
        EXPECT_EQ(tz.ulStandardDate, c.standardValue) << c.what;
        EXPECT_EQ(tz.ulDaylightDate, c.daylightValue) << c.what;
        EXPECT_EQ(tz.iBias * 1000 + tz.iStandardBias * 100 + tz.iDaylightBias, -60060) << c.what;
        EXPECT_STREQ(tz.szStandardName, "CET");
        EXPECT_STREQ(tz.szDaylightName, "CEST");
        EXPECT_EQ(testlog::texts(), c.log) << c.what;
    }
    LogEarlyBufferClear();
}

#ifdef _WIN32

// The system's own record is the oracle: its dates with this year, read as plain dates.
TEST(SysTimeRtcWindows, ZoneRecordIsTheSystemsRecordOfThisYear) {
    TIME_ZONE_INFORMATION tzi{};
    ASSERT_NE(GetTimeZoneInformation(&tzi), TIME_ZONE_ID_INVALID);
    const int year = current_year();
    const auto plain = [year](const SYSTEMTIME& st) {
        return st.wMonth == 0 ? 0u : utc_of(year, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
    };
    SYS_TIME_ZONE_INFORMATION tz{};
    ASSERT_EQ(SysTimeRtcGetTimezone(&tz), RES_OK);
    EXPECT_EQ(tz.ulStandardDate, plain(tzi.StandardDate));
    EXPECT_EQ(tz.ulDaylightDate, plain(tzi.DaylightDate));
    EXPECT_EQ(tz.iBias, tzi.Bias);
    EXPECT_EQ(tz.iDaylightBias, tzi.DaylightBias);
    for (int i = 0; i < 32 && tzi.StandardName[i] != 0; ++i)
        EXPECT_EQ(tz.szStandardName[i], static_cast<char>(tzi.StandardName[i] & 0xFF));

    // Setting a zone needs a privilege a process is not given by default; the zone stays.
    LogEarlyBufferClear();
    EXPECT_EQ(SysTimeRtcSetTimezone(&tz), RES_FAILED);
    EXPECT_EQ(testlog::texts(), std::vector<std::string>{"SetTimeZoneInformation failed: OS error 1314"});
    LogEarlyBufferClear();
}

#else

// Sets TZ for one test and puts the old value back.
class SysTimeRtcZone : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        hadTz_ = tz != nullptr;
        if (hadTz_) oldTz_ = tz;
        LogEarlyBufferClear();
    }
    void TearDown() override {
        if (hadTz_)
            setenv("TZ", oldTz_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        LogEarlyBufferClear();
    }
    static void use_zone(const char* tz) {
        setenv("TZ", tz, 1);
        tzset();
    }

private:
    bool hadTz_ = false;
    std::string oldTz_;
};

constexpr const char* kCet = "CET-1CEST,M3.5.0,M10.5.0/3";

// The oracle: the C library's offset of the zone at that instant.
RTS_I64 oracle_offset(RTS_UI32 utc) {
    const time_t t = utc;
    tm local{};
    localtime_r(&t, &local);
    return local.tm_gmtoff;
}

TEST_F(SysTimeRtcZone, UtcAndLocalDifferByTheOraclesOffset) {
    const struct {
        const char* zone;
        RTS_UI32 utc;
    } cases[] = {
        {"IST-5:30", utc_of(2026, 7, 15, 23, 59, 59)},
        {"EST5", utc_of(2026, 1, 1, 2)}, // the local day is the day before
        {kCet, utc_of(2026, 1, 15, 12)},
        {kCet, utc_of(2026, 3, 29, 0, 59, 59)}, // just before the change
        {kCet, utc_of(2026, 3, 29, 1)},         // at the change
        // Around the change back, outside the local hour that happens twice.
        {kCet, utc_of(2026, 10, 24, 23, 59, 59)},
        {kCet, utc_of(2026, 10, 25, 2)},
        {kCet, utc_of(2026, 12, 31, 23, 30)}, // into the next year
        {"AEST-10AEDT,M10.1.0,M4.1.0/3", utc_of(2026, 1, 15, 12)},
        {"AEST-10AEDT,M10.1.0,M4.1.0/3", utc_of(2026, 7, 15, 12)},
    };
    for (const auto& c : cases) {
        use_zone(c.zone);
        RTS_UI32 local = 0;
        ASSERT_EQ(SysTimeRtcConvertUtcToLocal(c.utc, &local), RES_OK) << c.zone;
        EXPECT_EQ(static_cast<RTS_I64>(local) - c.utc, oracle_offset(c.utc)) << c.zone << " at " << c.utc;
        RTS_UI32 back = 0;
        ASSERT_EQ(SysTimeRtcConvertLocalToUtc(local, &back), RES_OK) << c.zone;
        EXPECT_EQ(back, c.utc) << c.zone << " at " << c.utc;

        const RTS_UI64 ms = static_cast<RTS_UI64>(c.utc) * 1000u + 321u;
        RTS_SYSTIMEDATE localDate{};
        RTS_SYSTIMEDATE expected{};
        ASSERT_EQ(SysTimeRtcConvertHighResToLocal(&ms, &localDate), RES_OK);
        ASSERT_EQ(SysTimeRtcConvertUtcToDate(local, &expected), RES_OK);
        expected.wMilliseconds = 321;
        EXPECT_EQ(std::memcmp(&localDate, &expected, sizeof expected), 0) << c.zone << " at " << c.utc;
        RTS_UI64 msBack = 0;
        ASSERT_EQ(SysTimeRtcConvertLocalToHighRes(&localDate, &msBack), RES_OK);
        EXPECT_EQ(msBack, ms) << c.zone;
    }
    RTS_UI32 value = 7;
    EXPECT_EQ(SysTimeRtcConvertUtcToLocal(0, &value), RES_OK);
    EXPECT_EQ(value, 0u);
    value = 7;
    EXPECT_EQ(SysTimeRtcConvertLocalToUtc(0, &value), RES_OK);
    EXPECT_EQ(value, 0u);
    // East of UTC the latest RTC value has no local value of 32 bits; west, the earliest.
    EXPECT_EQ(SysTimeRtcConvertUtcToLocal(0xFFFFFFFFu, &value), RES_OVERFLOW);
    use_zone("EST5");
    EXPECT_EQ(SysTimeRtcConvertUtcToLocal(60, &value), RES_UNDERFLOW);
}

// The record Windows keeps of a zone: each change as the week of its month, read as a plain
// date of this year (the last week is 5), at the wall time just before the change.
TEST_F(SysTimeRtcZone, ZoneRecordGivesTheChangesAsWindowsRecordsThem) {
    const int year = current_year();
    const struct {
        const char* zone;
        RTS_I16 bias, daylightBias;
        const char *standardName, *daylightName;
        RTS_UI32 standardDate, daylightDate;
    } cases[] = {
        {"IST-5:30", -330, 0, "IST", "IST", 0, 0},
        {kCet, -60, -60, "CET", "CEST", utc_of(year, 10, 5, 3), utc_of(year, 3, 5, 2)},
        {"EST5EDT,M3.2.0,M11.1.0", 300, -60, "EST", "EDT", utc_of(year, 11, 1, 2), utc_of(year, 3, 2, 2)},
        {"AEST-10AEDT,M10.1.0,M4.1.0/3", -600, -60, "AEST", "AEDT", utc_of(year, 4, 1, 3),
         utc_of(year, 10, 1, 2)},
        {"<XST>3<XDT>2,M5.3.0/23:30,M9.3.6/1:15:30", 180, -60, "XST", "XDT", utc_of(year, 9, 3, 1, 15, 30),
         utc_of(year, 5, 3, 23, 30)},
    };
    for (const auto& c : cases) {
        use_zone(c.zone);
        SYS_TIME_ZONE_INFORMATION tz{};
        ASSERT_EQ(SysTimeRtcGetTimezone(&tz), RES_OK) << c.zone;
        EXPECT_EQ(tz.iBias, c.bias) << c.zone;
        EXPECT_EQ(tz.iStandardBias, 0) << c.zone;
        EXPECT_EQ(tz.iDaylightBias, c.daylightBias) << c.zone;
        EXPECT_STREQ(tz.szStandardName, c.standardName) << c.zone;
        EXPECT_STREQ(tz.szDaylightName, c.daylightName) << c.zone;
        EXPECT_EQ(tz.ulStandardDate, c.standardDate) << c.zone;
        EXPECT_EQ(tz.ulDaylightDate, c.daylightDate) << c.zone;
    }
}

// A record set as the zone is kept as fixed dates, as Windows keeps it; reading it back gives
// the same record.
TEST_F(SysTimeRtcZone, ZoneRecordSetBackGivesTheSameRecordAndOffsets) {
    const int year = current_year();
    use_zone(kCet);
    SYS_TIME_ZONE_INFORMATION original{};
    ASSERT_EQ(SysTimeRtcGetTimezone(&original), RES_OK);
    use_zone("UTC0");
    ASSERT_EQ(SysTimeRtcSetTimezone(&original), RES_OK);
    SYS_TIME_ZONE_INFORMATION again{};
    ASSERT_EQ(SysTimeRtcGetTimezone(&again), RES_OK);
    EXPECT_EQ(std::memcmp(&again, &original, sizeof again), 0);
    RTS_UI32 local = 0;
    ASSERT_EQ(SysTimeRtcConvertUtcToLocal(utc_of(year, 7, 1), &local), RES_OK);
    EXPECT_EQ(local - utc_of(year, 7, 1), 7200u);
    ASSERT_EQ(SysTimeRtcConvertUtcToLocal(utc_of(year, 3, 4), &local), RES_OK);
    EXPECT_EQ(local - utc_of(year, 3, 4), 3600u);

    // A zone without daylight saving, with names a zone abbreviation cannot hold.
    SYS_TIME_ZONE_INFORMATION plain{};
    plain.iBias = -330;
    std::snprintf(plain.szStandardName, sizeof plain.szStandardName, "India Standard Time");
    ASSERT_EQ(SysTimeRtcSetTimezone(&plain), RES_OK);
    ASSERT_EQ(SysTimeRtcConvertUtcToLocal(utc_of(year, 1, 1), &local), RES_OK);
    EXPECT_EQ(local - utc_of(year, 1, 1), 19800u);
}

TEST_F(SysTimeRtcZone, CurrentZoneGivesOffsetFlagAndName) {
    const struct {
        const char* zone;
        const char* name;
        std::vector<std::string> log;
    } cases[] = {
        {"IST-5:30", "IST-5:30", {"Couldn't map Windows time zone \"IST-5:30\" to IANA time zone"}},
        {"Europe/Berlin", "Europe/Berlin", {}},
        {":Europe/Berlin", "Europe/Berlin", {}},
        {"/usr/share/zoneinfo/Europe/Berlin", "Europe/Berlin", {}},
    };
    for (const auto& c : cases) {
        use_zone(c.zone);
        LogEarlyBufferClear();
        SYS_TIME_ZONE_INFORMATION2 tz{};
        ASSERT_EQ(SysTimeRtcGetTimezone2(&tz), RES_OK);
        EXPECT_EQ(tz.iOffsetSeconds, oracle_offset(SysTimeRtcGet(nullptr))) << c.zone;
        EXPECT_EQ(tz.bDaylightSaving, tz.iOffsetSeconds == 7200 ? 1 : 0) << c.zone;
        EXPECT_STREQ(tz.szName, c.name);
        EXPECT_EQ(testlog::texts(), c.log) << c.zone;
    }
}

// The value set is the present, so that a child that kept the privilege by mistake does no harm.
TEST(SysTimeRtcClock, SettingWithoutThePrivilegeGivesNoAccess) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(200);
        RTS_UI64 ms = 0;
        SysTimeRtcHighResGet(&ms);
        _exit(SysTimeRtcSet(SysTimeRtcGet(nullptr)) == RES_NO_ACCESS &&
                      SysTimeRtcHighResSet(&ms) == RES_NO_ACCESS
                  ? 0
                  : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

#endif

} // namespace
