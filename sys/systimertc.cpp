/* SysTimeRtc: the calendar clock. Owns reading and setting UTC, the conversions between RTC
 * values, milliseconds and dates (done here with exact calendar arithmetic, so both platforms
 * give the same dates), local time through the platform's zone, the time-zone records, ISO 8601
 * text and the control-language wrappers. */
#include <cassert>

#include "cm.h"
#include "cm/rts_common.h"
#include "cmplog.h"
#include "cmutils.h"
#include "sys/systimertc_os.h"
#include "systimertc.h"

namespace systimertc_shell {
void shell_hook(RTS_UI32 hook);
}

namespace {

using systimertc_os::CivilTime;
using systimertc_os::ZoneDate;

constexpr RTS_I64 kSecondsPerDay = 86400;
constexpr RTS_I64 kMsPerSecond = 1000;
constexpr RTS_I64 kMaxRtc = 0xFFFFFFFFll;
constexpr int kFirstYear = 1970;
constexpr int kLastRtcYear = 2106;      /* the last year an RTC value reaches */
constexpr RTS_SIZE kZoneNameChars = 31; /* what a zone name keeps when it is set */
constexpr int kLastYear = 30827;        /* the last year the platform calendars can hold */
constexpr RTS_I32 kNoZoneSuffix = 0x7FFFFFFF;
constexpr RTS_UINTPTR kLogSettingsChanged = 1; /* CH_SETTINGS_CHANGED for the log settings */

/* The filter the logger gives this component for its time-zone messages, fetched again when
 * the log settings change. */
LogComponentFilter g_logFilter{nullptr, CMPID_SysTimeRtc, 0, 0};

constexpr RTS_UI16 kDaysBeforeMonth[13] = {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
constexpr RTS_UI16 kDaysInMonth[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

/* Makes a platform call; a failure is logged. */
template <typename Fn, typename... Args> rts::OsError os_call(Fn fn, Args... args) {
    return sys_os::call(CMPID_SysTimeRtc, nullptr, fn, args...);
}

bool is_leap(RTS_I64 year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_month(RTS_I64 year, int month) {
    assert(month >= 1 && month <= 12);
    return kDaysInMonth[month] + (month == 2 && is_leap(year) ? 1 : 0);
}

/* Days since 1970-01-01 of a proleptic Gregorian date (eras of 400 years). */
RTS_I64 days_from_civil(RTS_I64 y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const RTS_I64 era = (y >= 0 ? y : y - 399) / 400;
    const RTS_I64 yoe = y - era * 400;
    const RTS_I64 doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const RTS_I64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

CivilTime civil_from_seconds(RTS_I64 seconds) {
    RTS_I64 days = seconds / kSecondsPerDay;
    RTS_I64 rest = seconds % kSecondsPerDay;
    if (rest < 0) {
        rest += kSecondsPerDay;
        --days;
    }
    const RTS_I64 z = days + 719468;
    const RTS_I64 era = (z >= 0 ? z : z - 146096) / 146097;
    const RTS_I64 doe = z - era * 146097;
    const RTS_I64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const RTS_I64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const RTS_I64 mp = (5 * doy + 2) / 153;
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const RTS_I64 year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    return CivilTime{static_cast<int>(year),
                     month,
                     static_cast<int>(doy - (153 * mp + 2) / 5 + 1),
                     static_cast<int>(rest / 3600),
                     static_cast<int>(rest / 60 % 60),
                     static_cast<int>(rest % 60)};
}

RTS_I64 seconds_from_civil(const CivilTime& t) {
    return days_from_civil(t.year, t.month, t.day) * kSecondsPerDay + t.hour * 3600 + t.minute * 60 +
           t.second;
}

/* A real calendar date from 1970 to the last year the platforms hold. */
bool valid_date(const RTS_SYSTIMEDATE& d) {
    return d.wYear >= kFirstYear && d.wYear <= kLastYear && d.wMonth >= 1 && d.wMonth <= 12 && d.wDay >= 1 &&
           d.wDay <= days_in_month(d.wYear, d.wMonth) && d.wHour < 24 && d.wMinute < 60 && d.wSecond < 60 &&
           d.wMilliseconds < 1000;
}

CivilTime civil_of(const RTS_SYSTIMEDATE& d) {
    return CivilTime{d.wYear, d.wMonth, d.wDay, d.wHour, d.wMinute, d.wSecond};
}

/* The day of the week of a second count, 0 = Sunday; 1970-01-01 was a Thursday. */
int weekday_from_sunday(RTS_I64 seconds) {
    const RTS_I64 days = seconds / kSecondsPerDay - (seconds % kSecondsPerDay < 0 ? 1 : 0);
    return static_cast<int>(((days + 4) % 7 + 7) % 7);
}

/* The date of a second count (within the years a date can hold), weekday and day of year set. */
void fill_date(RTS_I64 seconds, RTS_UI16 millisecond, RTS_SYSTIMEDATE& d) {
    const CivilTime t = civil_from_seconds(seconds);
    d.wYear = static_cast<RTS_UI16>(t.year);
    d.wMonth = static_cast<RTS_UI16>(t.month);
    d.wDay = static_cast<RTS_UI16>(t.day);
    d.wHour = static_cast<RTS_UI16>(t.hour);
    d.wMinute = static_cast<RTS_UI16>(t.minute);
    d.wSecond = static_cast<RTS_UI16>(t.second);
    d.wMilliseconds = millisecond;
    const int weekday = weekday_from_sunday(seconds);
    d.wDayOfWeek = static_cast<RTS_UI16>(weekday == 0 ? 7 : weekday); /* Sunday counts as 7 */
    d.wYday =
        static_cast<RTS_UI16>(kDaysBeforeMonth[t.month] + t.day + (t.month > 2 && is_leap(t.year) ? 1 : 0));
}

/* Seconds of the first instant past the last year a date can hold. */
RTS_I64 end_of_calendar_seconds() {
    return days_from_civil(kLastYear + 1, 1, 1) * kSecondsPerDay;
}

/* UTC seconds -> local seconds (the local wall time counted as if it were UTC). */
bool to_local_seconds(RTS_I64 utc, RTS_I64& local) {
    CivilTime t{};
    if (os_call(systimertc_os::calls().to_local, utc, &t) != rts::kOsOk) return false;
    local = seconds_from_civil(t);
    return true;
}

bool to_utc_seconds(RTS_I64 local, RTS_I64& utc) {
    const CivilTime wall = civil_from_seconds(local);
    CivilTime t{};
    if (os_call(systimertc_os::calls().to_utc, &wall, &t) != rts::kOsOk) return false;
    utc = seconds_from_civil(t);
    return true;
}

/* Stores a second count as RTC value: RES_UNDERFLOW below 0, RES_OVERFLOW above 32 bits. */
RTS_RESULT store_rtc(RTS_I64 seconds, RTS_UI32* pValue) {
    if (seconds < 0) return RES_UNDERFLOW;
    if (seconds > kMaxRtc) return RES_OVERFLOW;
    *pValue = static_cast<RTS_UI32>(seconds);
    return RES_OK;
}

RTS_RESULT convert_rtc(RTS_UI32 value, RTS_UI32* pResult, bool (*convert)(RTS_I64, RTS_I64&)) {
    if (pResult == nullptr) return RES_PARAMETER;
    if (value == 0) {
        *pResult = 0;
        return RES_OK;
    }
    RTS_I64 converted = 0;
    if (!convert(value, converted)) return RES_FAILED;
    return store_rtc(converted, pResult);
}

/* UTC now in milliseconds since 1970; false (logged) when the platform cannot give it. */
bool read_clock(RTS_I64& ms) {
    return os_call(systimertc_os::calls().read_clock, &ms) == rts::kOsOk;
}

RTS_RESULT set_clock(RTS_UI64 ms) {
    const systimertc_os::Calls& c = systimertc_os::calls();
    const rts::OsError error = os_call(c.set_clock, ms);
    if (error == rts::kOsOk) return RES_OK;
    return error == c.missing_privilege ? RES_NO_ACCESS : RES_FAILED;
}

/* A zone's change as RTC value: its record with the year set to `year`, read as a plain date
 * (so a change that recurs gives its week number as the day); 0 when the zone has none.
 * Out-of-range values are logged and give their result. */
RTS_RESULT change_value(const ZoneDate& change, int year, RTS_UI32& value) {
    value = 0;
    if (change.month == 0) return RES_OK;
    const RTS_I64 seconds = seconds_from_civil(
        CivilTime{year, change.month, change.day, change.hour, change.minute, change.second});
    if (seconds < 0) {
        LogAdd2(&g_logFilter, LOG_ERROR, RES_UNDERFLOW, 0,
                "ERROR: Casting negative time_t values to UI32 not supported: Got 0x%llX",
                static_cast<unsigned long long>(seconds));
        return RES_UNDERFLOW;
    }
    if (seconds > kMaxRtc) {
        LogAdd2(&g_logFilter, LOG_ERROR, RES_OVERFLOW, 0,
                "ERROR: Overflow while casting 64 Bit time_t to UI32.");
        LogAdd2(&g_logFilter, LOG_ERROR, RES_OVERFLOW, 0, "ERROR: Max value: 0xFFFFFFFF, got: 0x%llX",
                static_cast<unsigned long long>(seconds));
        return RES_OVERFLOW;
    }
    value = static_cast<RTS_UI32>(seconds);
    return RES_OK;
}

void copy_name(char* dest, RTS_SIZE size, const char* source) {
    CMUtlSafeStrCpy(dest, size, source);
}

/* The zone record's form of a change given as RTC value: a fixed date; none for 0. */
ZoneDate zone_date_of(RTS_UI32 value) {
    if (value == 0) return ZoneDate{};
    const CivilTime t = civil_from_seconds(value);
    return ZoneDate{t.year, t.month, weekday_from_sunday(value), t.day, t.hour, t.minute, t.second};
}

bool valid_for_rtc(const RTS_SYSTIMEDATE& d) {
    return d.wYear >= kFirstYear && d.wYear <= kLastRtcYear && d.wMonth >= 1 && d.wMonth <= 12 &&
           d.wDay >= 1 && d.wDay <= 31 && d.wHour < 24 && d.wMinute < 60 && d.wSecond < 60 &&
           d.wMilliseconds <= 999;
}

const CMExportEntry kExports[] = {
    CM_EXPORT(SysTimeRtcGet),
    CM_EXPORT(SysTimeRtcSet),
    CM_EXPORT(SysTimeRtcHighResGet),
    CM_EXPORT(SysTimeRtcHighResSet),
    CM_EXPORT(SysTimeRtcControl),
    CM_EXPORT(SysTimeRtcConvertDateToHighRes),
    CM_EXPORT(SysTimeRtcConvertDateToUtc),
    CM_EXPORT(SysTimeRtcConvertHighResToDate),
    CM_EXPORT(SysTimeRtcConvertUtcToDate),
    CM_EXPORT(SysTimeRtcConvertUtcToLocal),
    CM_EXPORT(SysTimeRtcConvertLocalToUtc),
    CM_EXPORT(SysTimeRtcConvertHighResToLocal),
    CM_EXPORT(SysTimeRtcConvertLocalToHighRes),
    CM_EXPORT(SysTimeRtcConvertDateToISO8601),
    CM_EXPORT(SysTimeRtcGetYDay),
    CM_EXPORT(SysTimeRtcGetDayOfWeek),
    CM_EXPORT(SysTimeRtcGetTimezone),
    CM_EXPORT(SysTimeRtcSetTimezone),
    CM_EXPORT(SysTimeRtcGetTimezone2),
    CM_EXPORT(systimertcget),
    CM_EXPORT(systimertcset),
    CM_EXPORT(systimertchighresget),
    CM_EXPORT(systimertchighresset),
    CM_EXPORT(systimertccontrol),
    CM_EXPORT(systimertcconvertdatetohighres),
    CM_EXPORT(systimertcconvertdatetoutc),
    CM_EXPORT(systimertcconverthighrestodate),
    CM_EXPORT(systimertcconverthighrestolocal),
    CM_EXPORT(systimertcconvertlocaltohighres),
    CM_EXPORT(systimertcconvertlocaltoutc),
    CM_EXPORT(systimertcconvertutctodate),
    CM_EXPORT(systimertcconvertutctolocal),
    CM_EXPORT(systimertcgettimezone),
    CM_EXPORT(systimertcgettimezone2),
    CM_EXPORT(systimertcsettimezone),
    {nullptr, nullptr, 0, 0},
};

RTS_RESULT export_functions() {
    return CMRegisterAPI(kExports, 0, 0, CMPID_SysTimeRtc);
}

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) {
    systimertc_shell::shell_hook(hook);
    if (hook == CH_INIT2 || (hook == CH_SETTINGS_CHANGED && param1 == kLogSettingsChanged))
        LogGetFilter2(&g_logFilter, nullptr, CMPID_SysTimeRtc, nullptr);
    if (hook == CH_EXIT) systimertc_os::calls().unload_zone_names();
    return RES_OK;
}

} // namespace

extern "C" RTS_RESULT SysTimeRtc__Entry(ComponentInitRecord* pInit) {
    if (os_call(systimertc_os::calls().load_zone_names) != rts::kOsOk)
        LogAdd(nullptr, CMPID_SysTimeRtc, LOG_DEBUG, RES_OK, 0, "ICU lib couldn't be loaded");
    return CMFillInitRecord(pInit, CMPID_SysTimeRtc, export_functions, nullptr, CMComponentVersion,
                            hook_function);
}

/* ---- the clock ------------------------------------------------------------------------- */

extern "C" RTS_UI32 SysTimeRtcGet(RTS_RESULT* pResult) {
    RTS_I64 ms = 0;
    RTS_UI32 value = 0;
    RTS_RESULT r = read_clock(ms) ? store_rtc(ms / kMsPerSecond, &value) : RES_FAILED;
    return rts::report(pResult, r == RES_UNDERFLOW ? RES_FAILED : r, value);
}

extern "C" RTS_RESULT SysTimeRtcSet(RTS_UI32 ulTimeRtc) {
    return set_clock(static_cast<RTS_UI64>(ulTimeRtc) * kMsPerSecond);
}

extern "C" RTS_RESULT SysTimeRtcHighResGet(RTS_UI64* pTimestamp) {
    if (pTimestamp == nullptr) return RES_PARAMETER;
    RTS_I64 ms = 0;
    if (!read_clock(ms) || ms < 0) return RES_FAILED;
    *pTimestamp = static_cast<RTS_UI64>(ms);
    return RES_OK;
}

extern "C" RTS_RESULT SysTimeRtcHighResSet(RTS_UI64* pTimestamp) {
    if (pTimestamp == nullptr) return RES_PARAMETER;
    if (*pTimestamp >= static_cast<RTS_UI64>(end_of_calendar_seconds()) * kMsPerSecond) return RES_PARAMETER;
    return set_clock(*pTimestamp);
}

extern "C" RTS_RESULT SysTimeRtcControl(RTS_UI32 ulControlCode, RTS_UI32* pulParam) {
    if (pulParam == nullptr || ulControlCode > 1) return RES_PARAMETER;
    *pulParam = 1;
    return RES_OK;
}

/* ---- dates ----------------------------------------------------------------------------- */

extern "C" RTS_RESULT SysTimeRtcConvertDateToHighRes(const RTS_SYSTIMEDATE* pDate, RTS_UI64* pTimestamp) {
    if (pDate == nullptr || pTimestamp == nullptr || !valid_date(*pDate)) return RES_PARAMETER;
    *pTimestamp =
        static_cast<RTS_UI64>(seconds_from_civil(civil_of(*pDate))) * kMsPerSecond + pDate->wMilliseconds;
    return RES_OK;
}

extern "C" RTS_RESULT SysTimeRtcConvertDateToUtc(const RTS_SYSTIMEDATE* pDate, RTS_UI32* pulTimestamp) {
    if (pDate == nullptr || pulTimestamp == nullptr || !valid_date(*pDate)) return RES_PARAMETER;
    const RTS_I64 seconds = seconds_from_civil(civil_of(*pDate));
    if (seconds > kMaxRtc) {
        LogAdd(nullptr, CMPID_SysTimeRtc, LOG_ERROR, RES_OVERFLOW, 0,
               "ERROR: Casting UI64 to UI32. Max value: 0xFFFFFFFF, got: 0x%llX",
               static_cast<unsigned long long>(seconds));
        *pulTimestamp = 0;
        return RES_OVERFLOW;
    }
    *pulTimestamp = static_cast<RTS_UI32>(seconds);
    return RES_OK;
}

extern "C" RTS_RESULT SysTimeRtcConvertHighResToDate(const RTS_UI64* pTimestamp, RTS_SYSTIMEDATE* pDate) {
    if (pTimestamp == nullptr || pDate == nullptr) return RES_PARAMETER;
    const RTS_UI64 seconds = *pTimestamp / kMsPerSecond;
    if (seconds >= static_cast<RTS_UI64>(end_of_calendar_seconds())) return RES_OVERFLOW;
    fill_date(static_cast<RTS_I64>(seconds), static_cast<RTS_UI16>(*pTimestamp % kMsPerSecond), *pDate);
    return RES_OK;
}

extern "C" RTS_RESULT SysTimeRtcConvertUtcToDate(RTS_UI32 ulTimestamp, RTS_SYSTIMEDATE* pDate) {
    if (pDate == nullptr) return RES_PARAMETER;
    fill_date(ulTimestamp, 0, *pDate);
    return RES_OK;
}

/* ---- local time ------------------------------------------------------------------------ */

extern "C" RTS_RESULT SysTimeRtcConvertUtcToLocal(RTS_UI32 ulTimestampUtc, RTS_UI32* pulTimestampLocal) {
    return convert_rtc(ulTimestampUtc, pulTimestampLocal, to_local_seconds);
}

extern "C" RTS_RESULT SysTimeRtcConvertLocalToUtc(RTS_UI32 ulTimestampLocal, RTS_UI32* pulTimestampUtc) {
    return convert_rtc(ulTimestampLocal, pulTimestampUtc, to_utc_seconds);
}

extern "C" RTS_RESULT SysTimeRtcConvertHighResToLocal(const RTS_UI64* pTimestamp, RTS_SYSTIMEDATE* pDate) {
    if (pTimestamp == nullptr || pDate == nullptr) return RES_PARAMETER;
    const RTS_UI64 seconds = *pTimestamp / kMsPerSecond;
    if (seconds >= static_cast<RTS_UI64>(end_of_calendar_seconds())) return RES_OVERFLOW;
    RTS_I64 local = 0;
    if (!to_local_seconds(static_cast<RTS_I64>(seconds), local)) return RES_FAILED;
    if (local < 0) return RES_UNDERFLOW;
    if (local >= end_of_calendar_seconds()) return RES_OVERFLOW;
    fill_date(local, static_cast<RTS_UI16>(*pTimestamp % kMsPerSecond), *pDate);
    return RES_OK;
}

extern "C" RTS_RESULT SysTimeRtcConvertLocalToHighRes(const RTS_SYSTIMEDATE* pDate, RTS_UI64* pTimestamp) {
    if (pDate == nullptr || pTimestamp == nullptr || !valid_date(*pDate)) return RES_PARAMETER;
    RTS_I64 utc = 0;
    if (!to_utc_seconds(seconds_from_civil(civil_of(*pDate)), utc)) return RES_FAILED;
    if (utc < 0) return RES_UNDERFLOW;
    *pTimestamp = static_cast<RTS_UI64>(utc) * kMsPerSecond + pDate->wMilliseconds;
    return RES_OK;
}

/* ---- text and calendar helpers --------------------------------------------------------- */

extern "C" RTS_RESULT SysTimeRtcConvertDateToISO8601(const RTS_SYSTIMEDATE* pDate, char* pszISOTime,
                                                     RTS_SIZE bufferSize, RTS_I32 iTimezoneOffsetMinutes) {
    if (pDate == nullptr || pszISOTime == nullptr || bufferSize == 0) return RES_PARAMETER;
    char zone[16] = "";
    if (iTimezoneOffsetMinutes == 0) {
        copy_name(zone, sizeof zone, "Z");
    } else if (iTimezoneOffsetMinutes != kNoZoneSuffix) {
        const RTS_I64 minutes = iTimezoneOffsetMinutes < 0 ? -static_cast<RTS_I64>(iTimezoneOffsetMinutes)
                                                           : iTimezoneOffsetMinutes;
        CMUtlsnprintf(zone, sizeof zone, iTimezoneOffsetMinutes < 0 ? "-%02d:%02d" : "+%02d:%02d",
                      static_cast<int>(minutes / 60), static_cast<int>(minutes % 60));
    }
    if (pDate->wMilliseconds != 0)
        return CMUtlsnprintf(pszISOTime, bufferSize, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%s", pDate->wYear,
                             pDate->wMonth, pDate->wDay, pDate->wHour, pDate->wMinute, pDate->wSecond,
                             pDate->wMilliseconds, zone);
    return CMUtlsnprintf(pszISOTime, bufferSize, "%04d-%02d-%02dT%02d:%02d:%02d%s", pDate->wYear,
                         pDate->wMonth, pDate->wDay, pDate->wHour, pDate->wMinute, pDate->wSecond, zone);
}

extern "C" RTS_UI32 SysTimeRtcGetYDay(RTS_I32 month, RTS_I32 day, RTS_I32 year) {
    if (month < 0 || month > 12 || day < 0 || day >= 32 || year < 0) return 0;
    return kDaysBeforeMonth[month] + static_cast<RTS_UI32>(day) + (month >= 3 && is_leap(year) ? 1u : 0u);
}

extern "C" RTS_UI32 SysTimeRtcGetDayOfWeek(RTS_I32 month, RTS_I32 day, RTS_I32 year) {
    if (month < 0 || month > 12 || day < 0 || day >= 32 || year < 0) return 0;
    const RTS_I64 z = month == 1 || month == 2 ? static_cast<RTS_I64>(year) - 1 : year;
    RTS_I64 w = 23 * month / 9 + day + 4 + static_cast<RTS_I64>(year) + z / 4 - z / 100 + z / 400;
    if (month >= 3) w -= 2;
    const RTS_I64 weekday = (w % 7 + 7) % 7;
    return static_cast<RTS_UI32>(weekday == 0 ? 7 : weekday);
}

/* ---- time zones ------------------------------------------------------------------------ */

extern "C" RTS_RESULT SysTimeRtcGetTimezone(SYS_TIME_ZONE_INFORMATION* pTimezone) {
    if (pTimezone == nullptr) return RES_PARAMETER;
    RTS_I64 ms = 0;
    if (!read_clock(ms)) return RES_FAILED;
    const int year = civil_from_seconds(ms / kMsPerSecond).year;
    systimertc_os::ZoneInfo zone{};
    const rts::OsError error = os_call(systimertc_os::calls().get_zone, year, &zone);
    if (error != rts::kOsOk) {
        LogAdd(nullptr, CMPID_SysTimeRtc, LOG_ERROR, RES_FAILED, 0,
               "Windows cannot determine DST. GTZI failed (%d).", static_cast<int>(error));
        return RES_FAILED;
    }
    RTS_RESULT result = change_value(zone.standardDate, year, pTimezone->ulStandardDate);
    const RTS_RESULT daylight = change_value(zone.daylightDate, year, pTimezone->ulDaylightDate);
    if (result == RES_OK) result = daylight;
    copy_name(pTimezone->szStandardName, sizeof pTimezone->szStandardName, zone.standardName);
    copy_name(pTimezone->szDaylightName, sizeof pTimezone->szDaylightName, zone.daylightName);
    pTimezone->iBias = static_cast<RTS_I16>(zone.bias);
    pTimezone->iStandardBias = static_cast<RTS_I16>(zone.standardBias);
    pTimezone->iDaylightBias = static_cast<RTS_I16>(zone.daylightBias);
    return result;
}

extern "C" RTS_RESULT SysTimeRtcSetTimezone(const SYS_TIME_ZONE_INFORMATION* pTimezone) {
    if (pTimezone == nullptr) return RES_PARAMETER;
    systimertc_os::ZoneInfo zone{};
    zone.bias = pTimezone->iBias;
    zone.standardBias = pTimezone->iStandardBias;
    zone.daylightBias = pTimezone->iDaylightBias;
    CMUtlSafeStrNCpy(zone.standardName, sizeof zone.standardName, pTimezone->szStandardName, kZoneNameChars);
    CMUtlSafeStrNCpy(zone.daylightName, sizeof zone.daylightName, pTimezone->szDaylightName, kZoneNameChars);
    zone.standardDate = zone_date_of(pTimezone->ulStandardDate);
    zone.daylightDate = zone_date_of(pTimezone->ulDaylightDate);
    return os_call(systimertc_os::calls().set_zone, &zone) == rts::kOsOk ? RES_OK : RES_FAILED;
}

extern "C" RTS_RESULT SysTimeRtcGetTimezone2(SYS_TIME_ZONE_INFORMATION2* pTimezone) {
    if (pTimezone == nullptr) return RES_PARAMETER;
    systimertc_os::ZoneNow now{};
    const rts::OsError error = os_call(systimertc_os::calls().get_zone_now, &now);
    if (error != rts::kOsOk) {
        LogAdd(nullptr, CMPID_SysTimeRtc, LOG_ERROR, RES_FAILED, 0,
               "Win32 GetTimeZoneInformation() failed; last-error code: %u", static_cast<unsigned>(error));
        return RES_FAILED;
    }
    if (now.source == systimertc_os::ZoneNameSource::RegistryName)
        LogAdd(nullptr, CMPID_SysTimeRtc, LOG_WARNING, RES_OK, 0,
               "Couldn't map Windows time zone registry entries \"%s\" to IANA time zone", now.name);
    else if (now.source == systimertc_os::ZoneNameSource::StandardName)
        LogAdd(nullptr, CMPID_SysTimeRtc, LOG_WARNING, RES_OK, 0,
               "Couldn't map Windows time zone \"%s\" to IANA time zone", now.name);
    pTimezone->iOffsetSeconds = now.offsetSeconds;
    pTimezone->bDaylightSaving = now.daylight;
    copy_name(pTimezone->szName, sizeof pTimezone->szName, now.name);
    return RES_OK;
}

/* ---- control-language wrappers ------------------------------------------------------------ */

extern "C" void systimertcconvertdatetoutc(systimertcconvertdatetoutc_struct* p) {
    if (p == nullptr) return;
    if (p->pDate == nullptr || p->pulTimestamp == nullptr || !valid_for_rtc(*p->pDate)) {
        if (p->pulTimestamp != nullptr) *p->pulTimestamp = 0xFFFFFFFFu;
        p->SysTimeRtcConvertDateToUtc = RES_PARAMETER;
        return;
    }
    p->SysTimeRtcConvertDateToUtc = SysTimeRtcConvertDateToUtc(p->pDate, p->pulTimestamp);
}

#define SYSTIMERTC_WRAPPER(lower, Fn, ...)                                                                   \
    extern "C" void lower(lower##_struct* p) {                                                               \
        if (p != nullptr) p->Fn = Fn(__VA_ARGS__);                                                           \
    }

SYSTIMERTC_WRAPPER(systimertcget, SysTimeRtcGet, p->pResult)
SYSTIMERTC_WRAPPER(systimertcset, SysTimeRtcSet, p->ulTimeRtc)
SYSTIMERTC_WRAPPER(systimertchighresget, SysTimeRtcHighResGet, p->pTimestamp)
SYSTIMERTC_WRAPPER(systimertchighresset, SysTimeRtcHighResSet, p->pTimestamp)
SYSTIMERTC_WRAPPER(systimertccontrol, SysTimeRtcControl, p->ulControlCode, p->pulParam)
SYSTIMERTC_WRAPPER(systimertcconvertdatetohighres, SysTimeRtcConvertDateToHighRes, p->pDate, p->pTimestamp)
SYSTIMERTC_WRAPPER(systimertcconverthighrestodate, SysTimeRtcConvertHighResToDate, p->pTimestamp, p->pDate)
SYSTIMERTC_WRAPPER(systimertcconverthighrestolocal, SysTimeRtcConvertHighResToLocal, p->pTimestamp, p->pDate)
SYSTIMERTC_WRAPPER(systimertcconvertlocaltohighres, SysTimeRtcConvertLocalToHighRes, p->pDate, p->pTimestamp)
SYSTIMERTC_WRAPPER(systimertcconvertlocaltoutc, SysTimeRtcConvertLocalToUtc, p->ulTimestampLocal,
                   p->pulTimestampUtc)
SYSTIMERTC_WRAPPER(systimertcconvertutctodate, SysTimeRtcConvertUtcToDate, p->ulTimestamp, p->pDate)
SYSTIMERTC_WRAPPER(systimertcconvertutctolocal, SysTimeRtcConvertUtcToLocal, p->ulTimestampUtc,
                   p->pulTimestampLocal)
SYSTIMERTC_WRAPPER(systimertcgettimezone, SysTimeRtcGetTimezone, p->pTimezone)
SYSTIMERTC_WRAPPER(systimertcgettimezone2, SysTimeRtcGetTimezone2, p->pTimezone)
SYSTIMERTC_WRAPPER(systimertcsettimezone, SysTimeRtcSetTimezone, p->pTimezone)

#undef SYSTIMERTC_WRAPPER
