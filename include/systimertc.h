/* The calendar clock (SysTimeRtc): UTC in seconds (RTC value, 32-bit, up to 2106) or in
 * milliseconds (high-resolution value, 64-bit) since 1970-01-01 00:00:00, conversions between
 * those, dates and local time, the time zone, and ISO 8601 text. */
#ifndef SYSTIMERTC_H
#define SYSTIMERTC_H

#include "rts_types.h"

RTS_BEGIN_C

/* A broken-down date. Day of week 1 = Monday .. 7 = Sunday; day of year 1 = 1 January. */
typedef struct {
    RTS_UI16 wYear;
    RTS_UI16 wMonth;  /* 1..12 */
    RTS_UI16 wDay;    /* 1..31 */
    RTS_UI16 wHour;   /* 0..23 */
    RTS_UI16 wMinute; /* 0..59 */
    RTS_UI16 wSecond; /* 0..59 */
    RTS_UI16 wMilliseconds;
    RTS_UI16 wDayOfWeek;
    RTS_UI16 wYday;
} RTS_SYSTIMEDATE;

/* The time zone. Each change to standard or daylight time is the zone's own record of it with
 * the year set to the current year, read as a plain date (the local wall time before the change,
 * counted as if it were UTC): a change that recurs every year on a weekday carries the week of
 * its month (1 to 4, 5 for the last) as its day, a change on a fixed date its date; 0 when the
 * zone has none. Biases in minutes, UTC = local + bias (+ standard or daylight bias). */
typedef struct {
    RTS_UI32 ulStandardDate;
    RTS_UI32 ulDaylightDate;
    char szStandardName[33];
    char szDaylightName[33];
    RTS_I16 iBias;
    RTS_I16 iStandardBias;
    RTS_I16 iDaylightBias;
} SYS_TIME_ZONE_INFORMATION;

/* The zone as it is now: offset east of UTC in seconds, the daylight-saving flag and the zone
 * name (an IANA name when one could be found). */
typedef struct {
    RTS_I32 iOffsetSeconds;
    RTS_I32 bDaylightSaving;
    char szName[128];
} SYS_TIME_ZONE_INFORMATION2;

/* Current UTC as RTC value; *pResult RES_FAILED (value 0) when the platform cannot give it,
 * RES_OVERFLOW when it does not fit 32 bits. */
RTS_UI32 SysTimeRtcGet(RTS_RESULT* pResult);
/* Set the system clock: RES_OK, RES_NO_ACCESS without the privilege, else RES_FAILED. */
RTS_RESULT SysTimeRtcSet(RTS_UI32 ulTimeRtc);
/* Current UTC in milliseconds; RES_PARAMETER for null, RES_FAILED when unavailable. */
RTS_RESULT SysTimeRtcHighResGet(RTS_UI64* pTimestamp);
/* Set the system clock from milliseconds; results as SysTimeRtcSet, RES_PARAMETER for null. */
RTS_RESULT SysTimeRtcHighResSet(RTS_UI64* pTimestamp);
/* Control codes 0 and 1 write 1 to *pulParam; other codes or null: RES_PARAMETER. */
RTS_RESULT SysTimeRtcControl(RTS_UI32 ulControlCode, RTS_UI32* pulParam);

/* Date <-> milliseconds / RTC value. Dates must be real calendar dates from 1970 on
 * (RES_PARAMETER otherwise); day of week and day of year are ignored on input and filled on
 * output. Values past year 30827 give RES_OVERFLOW. */
RTS_RESULT SysTimeRtcConvertDateToHighRes(const RTS_SYSTIMEDATE* pDate, RTS_UI64* pTimestamp);
/* RES_OVERFLOW (logged, value 0) when the date lies beyond 2106-02-07 06:28:15. */
RTS_RESULT SysTimeRtcConvertDateToUtc(const RTS_SYSTIMEDATE* pDate, RTS_UI32* pulTimestamp);
RTS_RESULT SysTimeRtcConvertHighResToDate(const RTS_UI64* pTimestamp, RTS_SYSTIMEDATE* pDate);
RTS_RESULT SysTimeRtcConvertUtcToDate(RTS_UI32 ulTimestamp, RTS_SYSTIMEDATE* pDate);

/* RTC value <-> local RTC value in the system's current zone; 0 stays 0; RES_FAILED when the
 * platform cannot convert, RES_OVERFLOW / RES_UNDERFLOW when the result leaves 32 bits. */
RTS_RESULT SysTimeRtcConvertUtcToLocal(RTS_UI32 ulTimestampUtc, RTS_UI32* pulTimestampLocal);
RTS_RESULT SysTimeRtcConvertLocalToUtc(RTS_UI32 ulTimestampLocal, RTS_UI32* pulTimestampUtc);
/* UTC milliseconds -> local date (millisecond kept), and local date -> UTC milliseconds. */
RTS_RESULT SysTimeRtcConvertHighResToLocal(const RTS_UI64* pTimestamp, RTS_SYSTIMEDATE* pDate);
RTS_RESULT SysTimeRtcConvertLocalToHighRes(const RTS_SYSTIMEDATE* pDate, RTS_UI64* pTimestamp);

/* "YYYY-MM-DDThh:mm:ss[.mmm]" and a zone suffix: "Z" for offset 0, none for 0x7FFFFFFF, else
 * "+hh:mm"/"-hh:mm". RES_PARAMETER for null or size 0, RES_BUFFERSIZE when cut. */
RTS_RESULT SysTimeRtcConvertDateToISO8601(const RTS_SYSTIMEDATE* pDate, char* pszISOTime, RTS_SIZE bufferSize,
                                          RTS_I32 iTimezoneOffsetMinutes);

/* Day of year (1 = 1 January) and day of week (1 = Monday .. 7 = Sunday); 0 for a month above
 * 12, a day above 31 or a negative year. */
RTS_UI32 SysTimeRtcGetYDay(RTS_I32 month, RTS_I32 day, RTS_I32 year);
RTS_UI32 SysTimeRtcGetDayOfWeek(RTS_I32 month, RTS_I32 day, RTS_I32 year);

/* The system's time zone; RES_PARAMETER for null, RES_FAILED when the platform cannot give
 * or take it, RES_UNDERFLOW / RES_OVERFLOW for a change outside the RTC range. A zone set
 * keeps each of its changes as a fixed date. */
RTS_RESULT SysTimeRtcGetTimezone(SYS_TIME_ZONE_INFORMATION* pTimezone);
RTS_RESULT SysTimeRtcSetTimezone(const SYS_TIME_ZONE_INFORMATION* pTimezone);
RTS_RESULT SysTimeRtcGetTimezone2(SYS_TIME_ZONE_INFORMATION2* pTimezone);

/* ---- parameter records of the control-language wrappers: the arguments in order, then the
 * result the wrapper writes; each wrapper calls the function of its name (null record
 * ignored) ---------------------------------------------------------------------------------- */

typedef struct {
    RTS_RESULT* pResult;
    RTS_UI32 SysTimeRtcGet;
} systimertcget_struct;
typedef struct {
    RTS_UI32 ulTimeRtc;
    RTS_RESULT SysTimeRtcSet;
} systimertcset_struct;
typedef struct {
    RTS_UI64* pTimestamp;
    RTS_RESULT SysTimeRtcHighResGet;
} systimertchighresget_struct;
typedef struct {
    RTS_UI64* pTimestamp;
    RTS_RESULT SysTimeRtcHighResSet;
} systimertchighresset_struct;
typedef struct {
    RTS_UI32 ulControlCode;
    RTS_UI32* pulParam;
    RTS_RESULT SysTimeRtcControl;
} systimertccontrol_struct;
typedef struct {
    RTS_SYSTIMEDATE* pDate;
    RTS_UI64* pTimestamp;
    RTS_RESULT SysTimeRtcConvertDateToHighRes;
} systimertcconvertdatetohighres_struct;
typedef struct {
    RTS_SYSTIMEDATE* pDate;
    RTS_UI32* pulTimestamp;
    RTS_RESULT SysTimeRtcConvertDateToUtc;
} systimertcconvertdatetoutc_struct;
typedef struct {
    RTS_UI64* pTimestamp;
    RTS_SYSTIMEDATE* pDate;
    RTS_RESULT SysTimeRtcConvertHighResToDate;
} systimertcconverthighrestodate_struct;
typedef struct {
    RTS_UI64* pTimestamp;
    RTS_SYSTIMEDATE* pDate;
    RTS_RESULT SysTimeRtcConvertHighResToLocal;
} systimertcconverthighrestolocal_struct;
typedef struct {
    RTS_SYSTIMEDATE* pDate;
    RTS_UI64* pTimestamp;
    RTS_RESULT SysTimeRtcConvertLocalToHighRes;
} systimertcconvertlocaltohighres_struct;
typedef struct {
    RTS_UI32 ulTimestampLocal;
    RTS_UI32* pulTimestampUtc;
    RTS_RESULT SysTimeRtcConvertLocalToUtc;
} systimertcconvertlocaltoutc_struct;
typedef struct {
    RTS_UI32 ulTimestamp;
    RTS_SYSTIMEDATE* pDate;
    RTS_RESULT SysTimeRtcConvertUtcToDate;
} systimertcconvertutctodate_struct;
typedef struct {
    RTS_UI32 ulTimestampUtc;
    RTS_UI32* pulTimestampLocal;
    RTS_RESULT SysTimeRtcConvertUtcToLocal;
} systimertcconvertutctolocal_struct;
typedef struct {
    SYS_TIME_ZONE_INFORMATION* pTimezone;
    RTS_RESULT SysTimeRtcGetTimezone;
} systimertcgettimezone_struct;
typedef struct {
    SYS_TIME_ZONE_INFORMATION2* pTimezone;
    RTS_RESULT SysTimeRtcGetTimezone2;
} systimertcgettimezone2_struct;
typedef struct {
    SYS_TIME_ZONE_INFORMATION* pTimezone;
    RTS_RESULT SysTimeRtcSetTimezone;
} systimertcsettimezone_struct;

void systimertcget(systimertcget_struct* p);
void systimertcset(systimertcset_struct* p);
void systimertchighresget(systimertchighresget_struct* p);
void systimertchighresset(systimertchighresset_struct* p);
void systimertccontrol(systimertccontrol_struct* p);
void systimertcconvertdatetohighres(systimertcconvertdatetohighres_struct* p);
/* Checks the date first (year 1970..2106, month 1..12, day 1..31, hour < 24, minute and second
 * < 60, millisecond <= 999); a failed check writes 0xFFFFFFFF and gives RES_PARAMETER. */
void systimertcconvertdatetoutc(systimertcconvertdatetoutc_struct* p);
void systimertcconverthighrestodate(systimertcconverthighrestodate_struct* p);
void systimertcconverthighrestolocal(systimertcconverthighrestolocal_struct* p);
void systimertcconvertlocaltohighres(systimertcconvertlocaltohighres_struct* p);
void systimertcconvertlocaltoutc(systimertcconvertlocaltoutc_struct* p);
void systimertcconvertutctodate(systimertcconvertutctodate_struct* p);
void systimertcconvertutctolocal(systimertcconvertutctolocal_struct* p);
void systimertcgettimezone(systimertcgettimezone_struct* p);
void systimertcgettimezone2(systimertcgettimezone2_struct* p);
void systimertcsettimezone(systimertcsettimezone_struct* p);

RTS_END_C

#endif
