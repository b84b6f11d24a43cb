/* The platform side of the calendar clock, as a table of calls that tests can replace: reading
 * and setting UTC, the current zone's conversions between UTC and local wall time, the zone's
 * description as the platform records it, and the source of IANA zone names. Each call gives
 * back the OS error (0 on success) and its results through out-parameters. */
#ifndef SYSTIMERTC_OS_H
#define SYSTIMERTC_OS_H

#include "rts_types.h"
#include "sys/os_call.h"

namespace systimertc_os {

using sys_os::OsCall;

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
    OsCall<rts::OsError (*)(RTS_I64* ms)> read_clock;
    OsCall<rts::OsError (*)(RTS_UI64 ms)> set_clock;
    /* The error set_clock gives when the process lacks the right to set the clock. */
    rts::OsError missing_privilege;
    /* The current zone's wall time at a UTC instant (seconds since 1970), and the UTC wall time
     * of a local wall time. */
    OsCall<rts::OsError (*)(RTS_I64 utcSeconds, CivilTime* local)> to_local;
    OsCall<rts::OsError (*)(const CivilTime* local, CivilTime* utc)> to_utc;
    /* The zone as the platform records it (where the platform must look its changes up, those
     * of `year`), and making a record the zone of the system or, where the platform has no
     * such thing, of the process. */
    OsCall<rts::OsError (*)(int year, ZoneInfo* zone)> get_zone;
    OsCall<rts::OsError (*)(const ZoneInfo* zone)> set_zone;
    OsCall<rts::OsError (*)(ZoneNow* now)> get_zone_now;
    /* Loads and releases the source of IANA zone names where it is an optional library. */
    OsCall<rts::OsError (*)()> load_zone_names;
    void (*unload_zone_names)();
};

/* The platform's own table. */
const Calls& platform_calls();
/* The table in use, and its replacement (null puts the platform's back). */
const Calls& calls();
void set_calls(const Calls* fake);

} // namespace systimertc_os

#endif
