/* The real-time clock against the platform: reading and setting the clock, local time in
 * fixed zones chosen through TZ (with and without daylight saving, north and south), the
 * time-zone records and the zone name, and bad input. */
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "systimertc.h"
#include "systimertc_test_dates.h"
#include "test_components.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

/* Seconds since 1970 of a UTC date, through the component's own (oracle-checked) conversion. */
RTS_UI32 utc_of(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    RTS_SYSTIMEDATE date = make_date(y, mo, d, h, mi, s);
    RTS_UI32 value = 0;
    EXPECT_EQ(SysTimeRtcConvertDateToUtc(&date, &value), RES_OK);
    return value;
}

TEST(SysTimeRtcClock, SecondsAndMillisecondsAgree) {
    RTS_RESULT r = RES_FAILED;
    RTS_UI64 before = 0;
    ASSERT_EQ(SysTimeRtcHighResGet(&before), RES_OK);
    const RTS_UI32 seconds = SysTimeRtcGet(&r);
    RTS_UI64 after = 0;
    ASSERT_EQ(SysTimeRtcHighResGet(&after), RES_OK);
    EXPECT_EQ(r, RES_OK);
    EXPECT_GE(seconds, before / 1000);
    EXPECT_LE(seconds, after / 1000);
    EXPECT_GT(seconds, utc_of(2024, 1, 1)) << "the clock reads a plausible present";
    EXPECT_NE(SysTimeRtcGet(nullptr), 0u);
    EXPECT_EQ(SysTimeRtcHighResGet(nullptr), RES_PARAMETER);

    systimertcget_struct p{&r, 0};
    r = RES_FAILED;
    systimertcget(&p);
    EXPECT_EQ(r, RES_OK);
    EXPECT_GE(p.SysTimeRtcGet, seconds);
}

TEST(SysTimeRtcClock, SettingRefusesBadInputWithoutTouchingTheClock) {
    EXPECT_EQ(SysTimeRtcHighResSet(nullptr), RES_PARAMETER);
    RTS_UI64 beyondCalendar = ~0ull;
    EXPECT_EQ(SysTimeRtcHighResSet(&beyondCalendar), RES_PARAMETER);
    systimertchighresset_struct p{nullptr, RES_OK};
    systimertchighresset(&p);
    EXPECT_EQ(p.SysTimeRtcHighResSet, RES_PARAMETER);
}

#ifndef _WIN32

int current_year() {
    RTS_RESULT r = RES_FAILED;
    const RTS_UI32 now = SysTimeRtcGet(&r);
    RTS_SYSTIMEDATE date{};
    SysTimeRtcConvertUtcToDate(now, &date);
    return date.wYear;
}

/* Day of month of the last Sunday of a month. */
int last_sunday(int year, int month) {
    const int days = month == 3 || month == 10 ? 31 : 30;
    for (int day = days;; --day)
        if (SysTimeRtcGetDayOfWeek(month, day, year) == 7) return day;
}

/* Runs fn in a child process that gave up every privilege; its result code, or -1. */
template <typename Fn> int unprivileged(Fn fn) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(200);
        _exit(static_cast<int>(fn()));
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

/* The value set is the present, so that a child that kept the privilege by mistake does no harm. */
TEST(SysTimeRtcClock, SettingWithoutThePrivilegeGivesNoAccess) {
    EXPECT_EQ(unprivileged([] { return SysTimeRtcSet(SysTimeRtcGet(nullptr)); }),
              static_cast<int>(RES_NO_ACCESS));
    EXPECT_EQ(unprivileged([] {
                  RTS_UI64 ms = 0;
                  SysTimeRtcHighResGet(&ms);
                  return SysTimeRtcHighResSet(&ms);
              }),
              static_cast<int>(RES_NO_ACCESS));
}

/* Sets TZ for one test and puts the old value back. */
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

struct LocalCase {
    const char* zone;
    RTS_UI32 utc;
    RTS_I32 offsetSeconds;
};

TEST_F(SysTimeRtcZone, UtcAndLocalDifferByTheZonesOffsetAtThatInstant) {
    const LocalCase cases[] = {
        {"IST-5:30", utc_of(2026, 1, 15, 12), 19800},
        {"IST-5:30", utc_of(2026, 7, 15, 23, 59, 59), 19800},
        {"EST5", utc_of(2026, 1, 1, 2), -18000}, // the local day is the day before
        {"CET-1CEST,M3.5.0,M10.5.0/3", utc_of(2026, 1, 15, 12), 3600},
        {"CET-1CEST,M3.5.0,M10.5.0/3", utc_of(2026, 7, 15, 12), 7200},
        {"CET-1CEST,M3.5.0,M10.5.0/3", utc_of(2026, 3, 29, 0, 59, 59), 3600}, // just before the change
        {"CET-1CEST,M3.5.0,M10.5.0/3", utc_of(2026, 3, 29, 1), 7200},         // at the change
        // Around the change back, outside the local hour that happens twice.
        {"CET-1CEST,M3.5.0,M10.5.0/3", utc_of(2026, 10, 24, 23, 59, 59), 7200},
        {"CET-1CEST,M3.5.0,M10.5.0/3", utc_of(2026, 10, 25, 2), 3600},
        {"CET-1CEST,M3.5.0,M10.5.0/3", utc_of(2026, 12, 31, 23, 30), 3600}, // into the next year
        {"AEST-10AEDT,M10.1.0,M4.1.0/3", utc_of(2026, 1, 15, 12), 39600},
        {"AEST-10AEDT,M10.1.0,M4.1.0/3", utc_of(2026, 7, 15, 12), 36000},
    };
    for (const auto& c : cases) {
        use_zone(c.zone);
        RTS_UI32 local = 0;
        ASSERT_EQ(SysTimeRtcConvertUtcToLocal(c.utc, &local), RES_OK) << c.zone;
        EXPECT_EQ(static_cast<RTS_I64>(local) - c.utc, c.offsetSeconds) << c.zone << " at " << c.utc;
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
}

TEST_F(SysTimeRtcZone, ZeroStaysZeroAndNullTargetsAreRefused) {
    use_zone("CET-1CEST,M3.5.0,M10.5.0/3");
    RTS_UI32 value = 7;
    EXPECT_EQ(SysTimeRtcConvertUtcToLocal(0, &value), RES_OK);
    EXPECT_EQ(value, 0u);
    value = 7;
    EXPECT_EQ(SysTimeRtcConvertLocalToUtc(0, &value), RES_OK);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(SysTimeRtcConvertUtcToLocal(1, nullptr), RES_PARAMETER);
    EXPECT_EQ(SysTimeRtcConvertLocalToUtc(1, nullptr), RES_PARAMETER);
    EXPECT_EQ(SysTimeRtcConvertHighResToLocal(nullptr, nullptr), RES_PARAMETER);
    // East of UTC the latest RTC value has no local value of 32 bits; west, the earliest.
    EXPECT_EQ(SysTimeRtcConvertUtcToLocal(0xFFFFFFFFu, &value), RES_OVERFLOW);
    use_zone("EST5");
    EXPECT_EQ(SysTimeRtcConvertUtcToLocal(60, &value), RES_UNDERFLOW);
}

TEST_F(SysTimeRtcZone, ZoneRecordDescribesOffsetsNamesAndThisYearsTransitions) {
    const int year = current_year();
    const struct {
        const char* zone;
        RTS_I16 bias;
        RTS_I16 daylightBias;
        const char* standardName;
        const char* daylightName;
        RTS_UI32 standardDate;
        RTS_UI32 daylightDate;
    } cases[] = {
        {"IST-5:30", -330, 0, "IST", "IST", 0, 0},
        {"CET-1CEST,M3.5.0,M10.5.0/3", -60, -60, "CET", "CEST", utc_of(year, 10, last_sunday(year, 10), 3),
         utc_of(year, 3, last_sunday(year, 3), 2)},
        {"EST5EDT,M3.2.0,M11.1.0", 300, -60, "EST", "EDT", 0, 0}, // dates checked below
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
        if (c.daylightBias == 0 || c.standardDate != 0) {
            EXPECT_EQ(tz.ulStandardDate, c.standardDate) << c.zone;
            EXPECT_EQ(tz.ulDaylightDate, c.daylightDate) << c.zone;
        } else {
            RTS_SYSTIMEDATE start{};
            RTS_SYSTIMEDATE end{};
            SysTimeRtcConvertUtcToDate(tz.ulDaylightDate, &start);
            SysTimeRtcConvertUtcToDate(tz.ulStandardDate, &end);
            EXPECT_EQ(start.wMonth, 3) << c.zone;
            EXPECT_EQ(start.wDayOfWeek, 7) << c.zone;
            EXPECT_EQ(start.wHour, 2) << c.zone;
            EXPECT_EQ(end.wMonth, 11) << c.zone;
            EXPECT_LE(end.wDay, 7) << c.zone;
            EXPECT_EQ(end.wHour, 2) << c.zone;
        }
    }
    EXPECT_EQ(SysTimeRtcGetTimezone(nullptr), RES_PARAMETER);
}

TEST_F(SysTimeRtcZone, ZoneRecordSetBackGivesTheSameZone) {
    const int year = current_year();
    use_zone("CET-1CEST,M3.5.0,M10.5.0/3");
    SYS_TIME_ZONE_INFORMATION original{};
    ASSERT_EQ(SysTimeRtcGetTimezone(&original), RES_OK);
    use_zone("UTC0");
    ASSERT_EQ(SysTimeRtcSetTimezone(&original), RES_OK);
    SYS_TIME_ZONE_INFORMATION again{};
    ASSERT_EQ(SysTimeRtcGetTimezone(&again), RES_OK);
    EXPECT_EQ(again.ulStandardDate, original.ulStandardDate);
    EXPECT_EQ(again.ulDaylightDate, original.ulDaylightDate);
    EXPECT_EQ(again.iBias, original.iBias);
    EXPECT_EQ(again.iDaylightBias, original.iDaylightBias);
    EXPECT_STREQ(again.szStandardName, "CET");
    EXPECT_STREQ(again.szDaylightName, "CEST");
    RTS_UI32 local = 0;
    ASSERT_EQ(SysTimeRtcConvertUtcToLocal(utc_of(year, 7, 1), &local), RES_OK);
    EXPECT_EQ(local - utc_of(year, 7, 1), 7200u);

    // A zone without daylight saving, with names a zone abbreviation cannot hold.
    SYS_TIME_ZONE_INFORMATION plain{};
    plain.iBias = -330;
    std::snprintf(plain.szStandardName, sizeof plain.szStandardName, "India Standard Time");
    ASSERT_EQ(SysTimeRtcSetTimezone(&plain), RES_OK);
    ASSERT_EQ(SysTimeRtcConvertUtcToLocal(utc_of(year, 1, 1), &local), RES_OK);
    EXPECT_EQ(local - utc_of(year, 1, 1), 19800u);
    EXPECT_EQ(SysTimeRtcSetTimezone(nullptr), RES_PARAMETER);
}

TEST_F(SysTimeRtcZone, CurrentZoneGivesOffsetFlagAndName) {
    use_zone("IST-5:30");
    SYS_TIME_ZONE_INFORMATION2 tz{};
    ASSERT_EQ(SysTimeRtcGetTimezone2(&tz), RES_OK);
    EXPECT_EQ(tz.iOffsetSeconds, 19800);
    EXPECT_EQ(tz.bDaylightSaving, 0);
    EXPECT_STREQ(tz.szName, "IST-5:30");
    const auto entries = testlog::entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_STREQ(entries[0].InfoText, "Couldn't map Windows time zone \"IST-5:30\" to IANA time zone");

    struct stat info {};
    if (stat("/usr/share/zoneinfo/Europe/Berlin", &info) == 0) {
        LogEarlyBufferClear();
        for (const char* zone : {"Europe/Berlin", ":Europe/Berlin", "/usr/share/zoneinfo/Europe/Berlin"}) {
            use_zone(zone);
            ASSERT_EQ(SysTimeRtcGetTimezone2(&tz), RES_OK);
            EXPECT_STREQ(tz.szName, "Europe/Berlin") << zone;
            EXPECT_TRUE(tz.iOffsetSeconds == 3600 || tz.iOffsetSeconds == 7200) << zone;
            EXPECT_EQ(tz.bDaylightSaving, tz.iOffsetSeconds == 7200 ? 1 : 0) << zone;
        }
        EXPECT_TRUE(testlog::entries().empty());
    }
    EXPECT_EQ(SysTimeRtcGetTimezone2(nullptr), RES_PARAMETER);
}

#endif

TEST(SysTimeRtcLocal, CurrentZoneAndConversionsAgree) {
    SYS_TIME_ZONE_INFORMATION2 tz{};
    ASSERT_EQ(SysTimeRtcGetTimezone2(&tz), RES_OK);
    const RTS_UI32 now = SysTimeRtcGet(nullptr);
    RTS_UI32 local = 0;
    ASSERT_EQ(SysTimeRtcConvertUtcToLocal(now, &local), RES_OK);
    EXPECT_EQ(static_cast<RTS_I64>(local) - now, tz.iOffsetSeconds);
    RTS_UI32 back = 0;
    ASSERT_EQ(SysTimeRtcConvertLocalToUtc(local, &back), RES_OK);
    EXPECT_EQ(back, now);
    SYS_TIME_ZONE_INFORMATION zone{};
    const RTS_RESULT r = SysTimeRtcGetTimezone(&zone);
    EXPECT_EQ(r, RES_OK);
    EXPECT_EQ(-60 * (zone.iBias + (tz.bDaylightSaving ? zone.iDaylightBias : zone.iStandardBias)),
              tz.iOffsetSeconds);
    LogEarlyBufferClear();
}

} // namespace
