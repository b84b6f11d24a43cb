/* The platform side of the calendar clock: reading and setting UTC, the current zone's
 * conversions between UTC and local wall time, and the zone's description. */
#ifndef SYSTIMERTC_OS_H
#define SYSTIMERTC_OS_H

#include "rts_types.h"

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

/* UTC now in milliseconds since 1970; false when the platform cannot give it. */
bool utc_now_ms(RTS_I64& ms);
/* Sets the system clock: RES_OK, RES_NO_ACCESS without the privilege, else RES_FAILED. */
RTS_RESULT set_utc_ms(RTS_UI64 ms);

/* The current zone's wall time at a UTC instant (seconds since 1970), and the UTC wall time
 * of a local wall time; false when the platform refuses. */
bool local_fields(RTS_I64 utcSeconds, CivilTime& local);
bool utc_fields_of_local(const CivilTime& local, CivilTime& utc);

/* The zone: biases in minutes (UTC = local + bias + standard/daylight bias), names, and the
 * wall times at which standard and daylight time begin in a given year. */
struct ZoneInfo {
    RTS_I32 bias;
    RTS_I32 standardBias;
    RTS_I32 daylightBias;
    char standardName[33];
    char daylightName[33];
    bool hasStandardDate;
    bool hasDaylightDate;
    CivilTime standardDate;
    CivilTime daylightDate;
};

/* The zone with its transitions placed in `year`; false with the platform's error code. */
bool get_zone(int year, ZoneInfo& zone, RTS_UI32& error);
/* Makes the record the zone of the system (or, where the platform has no such thing, of the
 * process); false when the platform refuses. */
bool set_zone(const ZoneInfo& zone);

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

/* False with the platform's error code when the zone cannot be read. */
bool get_zone_now(ZoneNow& now, RTS_UI32& error);

/* Loads and releases the source of IANA zone names where it is an optional library; false
 * when it is missing. */
bool zone_mapper_load();
void zone_mapper_unload();

} // namespace systimertc_os

#endif
