/* The platform side of the calendar clock: reading and setting UTC, the current zone's
 * conversions between UTC and local wall time, the zone's description as the platform records
 * it, and the source of IANA zone names.
 *
 * Every call that can fail hands back the operating system's error (0 on success) and its
 * results through out-parameters and, when it fails, the name of the platform call that failed
 * through pCall, so that the core can log both. The core reaches the platform only through
 * calls(); tests put a fake table in place with set_calls. */
#ifndef SYSTIMERTC_OS_H
#define SYSTIMERTC_OS_H

#include "sys/os_seam.h"

namespace systimertc_os {

/* A wall-clock time; month and day count from 1. */
struct CivilTime {
    int year;
    int month;
    int day;
    int hour;
    int minute;
    int second;
};

/* A change to standard or daylight time as the platform records it; month 0 means the zone
 * has none. A change that recurs every year keeps year 0 and, in `day`, the week of the month
 * (1 to 4, 5 for the last) of its weekday (0 = Sunday); a change on a fixed date keeps that
 * date. The hour is the local wall time just before the change. */
struct ZoneDate {
    int year;
    int month;
    int weekday;
    int day;
    int hour;
    int minute;
    int second;
};

/* The zone: biases in minutes (UTC = local + bias + standard/daylight bias), names and its
 * changes to standard and daylight time. */
struct ZoneInfo {
    RTS_I32 bias;
    RTS_I32 standardBias;
    RTS_I32 daylightBias;
    char standardName[33];
    char daylightName[33];
    ZoneDate standardDate;
    ZoneDate daylightDate;
};

/* How the name of the zone was found. */
enum class ZoneNameSource {
    Mapped,       /* an IANA name */
    RegistryName, /* the platform's own key name, which could not be mapped */
    StandardName, /* the zone's standard name, which could not be mapped */
};

/* The zone as it is now. */
struct ZoneNow {
    RTS_I32 offsetSeconds; /* east of UTC */
    RTS_I32 daylight;      /* daylight saving in effect */
    char name[128];
    ZoneNameSource source;
};

struct Calls {
    /* UTC now in milliseconds since 1970, and setting the system clock to such a value. */
    rts::OsError (*read_clock)(RTS_I64* ms, const char** pCall);
    rts::OsError (*set_clock)(RTS_UI64 ms, const char** pCall);
    /* The error set_clock gives when the process lacks the right to set the clock. */
    rts::OsError missing_privilege;
    /* The current zone's wall time at a UTC instant (seconds since 1970), and the UTC wall time
     * of a local wall time. */
    rts::OsError (*to_local)(RTS_I64 utcSeconds, CivilTime* local, const char** pCall);
    rts::OsError (*to_utc)(const CivilTime* local, CivilTime* utc, const char** pCall);
    /* The zone as the platform records it (where the platform must look its changes up, those
     * of `year`), and making a record the zone of the system or, where the platform has no
     * such thing, of the process. */
    rts::OsError (*get_zone)(int year, ZoneInfo* zone, const char** pCall);
    rts::OsError (*set_zone)(const ZoneInfo* zone, const char** pCall);
    rts::OsError (*get_zone_now)(ZoneNow* now, const char** pCall);
    /* Loads and releases the source of IANA zone names where it is an optional library. */
    rts::OsError (*load_zone_names)(const char** pCall);
    void (*unload_zone_names)();
};

/* The platform's own table. */
const Calls& platform_calls();
/* The table in use, and its replacement (null puts the platform's back). */
const Calls& calls();
void set_calls(const Calls* fake);

} // namespace systimertc_os

#endif
