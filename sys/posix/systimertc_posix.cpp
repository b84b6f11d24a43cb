/* The calendar clock on POSIX: CLOCK_REALTIME (clock_settime, EPERM meaning no privilege), the
 * C library's zone from TZ or /etc/localtime for local time, and TZ itself as the zone a
 * process can set. The zone's record is built the way Windows keeps it: each change of the
 * year as a weekday of a week of its month, or as a fixed date where TZ names days of the
 * year. Zone names come from TZ or from the /etc/localtime link. */
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <time.h>
#include <unistd.h>

#include "sys/systimertc_os.h"

namespace systimertc_os {

namespace {

constexpr RTS_I64 kMsPerSecond = 1000;
constexpr time_t kSecondsPerDay = 86400;
constexpr long kNsPerMs = 1000000;
/* Half a year after 1 January lies in the other season of a zone with daylight saving. */
constexpr time_t kHalfYear = 181 * kSecondsPerDay;
constexpr int kLastWeek = 5; /* the week number a zone record gives the last week of a month */
constexpr const char* kZoneInfoDir = "zoneinfo/";

CivilTime civil_of(const tm& t) {
    return CivilTime{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

tm tm_of(const CivilTime& c) {
    tm t{};
    t.tm_year = c.year - 1900;
    t.tm_mon = c.month - 1;
    t.tm_mday = c.day;
    t.tm_hour = c.hour;
    t.tm_min = c.minute;
    t.tm_sec = c.second;
    return t;
}

bool local_tm(time_t when, tm& out) {
    return localtime_r(&when, &out) != nullptr;
}

void copy_text(char* dest, size_t size, const char* source) {
    std::snprintf(dest, size, "%s", source != nullptr ? source : "");
}

/* The first second at or after `from` (before `to`) whose daylight flag differs from the one at
 * `from`; `to` when there is none. The flag changes at most once within a day. */
time_t next_flag_change(time_t from, time_t to) {
    tm first{};
    if (!local_tm(from, first)) return to;
    time_t lo = from;
    time_t hi = from;
    tm probe{};
    for (;;) {
        hi = lo + 86400 < to ? lo + 86400 : to;
        if (!local_tm(hi, probe)) return to;
        if ((probe.tm_isdst > 0) != (first.tm_isdst > 0)) break;
        if (hi == to) return to;
        lo = hi;
    }
    while (hi - lo > 1) {
        const time_t mid = lo + (hi - lo) / 2;
        if (!local_tm(mid, probe)) return to;
        ((probe.tm_isdst > 0) != (first.tm_isdst > 0) ? hi : lo) = mid;
    }
    return hi;
}

/* The OS error of a call that failed, named for the log; for calls that may leave errno unset. */
rts::OsError last_error(const char* call, const char** pCall) {
    return sys_os::failed(call, errno != 0 ? static_cast<rts::OsError>(errno) : EINVAL, pCall);
}

/* Whether the zone's TZ rules name days of the year (",Jn" or ",n", as set_zone writes them):
 * such changes fall on fixed dates. "Mm.w.d" rules and zone files recur on a weekday. */
bool changes_on_fixed_dates() {
    const char* tz = std::getenv("TZ");
    const char* rule = tz != nullptr ? std::strchr(tz, ',') : nullptr;
    return rule != nullptr && (rule[1] == 'J' || std::isdigit(static_cast<unsigned char>(rule[1])) != 0);
}

/* The change at `change` as the zone record keeps it, from the wall time just before it. */
ZoneDate zone_date_of(time_t change, const tm& before, bool fixedDate) {
    const time_t wall = change + before.tm_gmtoff;
    const time_t weekLater = wall + 7 * kSecondsPerDay;
    tm plain{};
    tm later{};
    gmtime_r(&wall, &plain);
    gmtime_r(&weekLater, &later);
    const int week = later.tm_mon != plain.tm_mon ? kLastWeek : (plain.tm_mday - 1) / 7 + 1;
    return ZoneDate{fixedDate ? plain.tm_year + 1900 : 0,
                    plain.tm_mon + 1,
                    plain.tm_wday,
                    fixedDate ? plain.tm_mday : week,
                    plain.tm_hour,
                    plain.tm_min,
                    plain.tm_sec};
}

void record_change(time_t change, bool fixedDate, ZoneInfo& zone) {
    tm before{};
    tm after{};
    if (!local_tm(change - 1, before) || !local_tm(change, after)) return;
    (after.tm_isdst > 0 ? zone.daylightDate : zone.standardDate) = zone_date_of(change, before, fixedDate);
}

/* Keeps the characters a TZ zone abbreviation may hold; a default when fewer than three stay. */
std::string tz_abbreviation(const char* name, const char* fallback) {
    std::string out;
    for (const char* c = name; *c != '\0'; ++c)
        if ((*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9') || *c == '+' ||
            *c == '-')
            out += *c;
    return out.size() < 3 ? std::string(fallback) : out;
}

/* A TZ offset: minutes west of UTC as [-]h:mm. */
std::string tz_offset(RTS_I32 minutesWest) {
    char text[16];
    const RTS_I32 magnitude = minutesWest < 0 ? -minutesWest : minutesWest;
    std::snprintf(text, sizeof text, "%s%d:%02d", minutesWest < 0 ? "-" : "", magnitude / 60, magnitude % 60);
    return text;
}

/* A TZ rule for a change on a fixed date: zero-based day of the year, then the time. */
std::string tz_rule(const ZoneDate& when) {
    tm t = tm_of(CivilTime{when.year, when.month, when.day, when.hour, when.minute, when.second});
    const time_t asUtc = timegm(&t);
    tm normalised{};
    gmtime_r(&asUtc, &normalised);
    char text[32];
    std::snprintf(text, sizeof text, ",%d/%d:%02d:%02d", normalised.tm_yday, when.hour, when.minute,
                  when.second);
    return text;
}

/* The zone name from TZ or from the /etc/localtime link: the part after "zoneinfo/". */
bool zone_name(char* name, size_t size) {
    const char* tz = std::getenv("TZ");
    if (tz != nullptr && *tz != '\0') {
        if (*tz == ':') ++tz;
        const char* inDir = std::strstr(tz, kZoneInfoDir);
        const std::string path = *tz == '/' ? std::string(tz) : std::string("/usr/share/zoneinfo/") + tz;
        copy_text(name, size, inDir != nullptr ? inDir + std::strlen(kZoneInfoDir) : tz);
        return access(path.c_str(), R_OK) == 0;
    }
    char link[512];
    const ssize_t n = readlink("/etc/localtime", link, sizeof link - 1);
    if (n <= 0) return false;
    link[n] = '\0';
    const char* inDir = std::strstr(link, kZoneInfoDir);
    if (inDir == nullptr) return false;
    copy_text(name, size, inDir + std::strlen(kZoneInfoDir));
    return true;
}

rts::OsError read_clock(RTS_I64* ms, const char** pCall) {
    timespec ts{};
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return last_error("clock_gettime", pCall);
    *ms = static_cast<RTS_I64>(ts.tv_sec) * kMsPerSecond + ts.tv_nsec / kNsPerMs;
    return rts::kOsOk;
}

rts::OsError set_clock(RTS_UI64 ms, const char** pCall) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ms / kMsPerSecond);
    ts.tv_nsec = static_cast<long>(ms % kMsPerSecond) * kNsPerMs;
    return clock_settime(CLOCK_REALTIME, &ts) == 0 ? rts::kOsOk : last_error("clock_settime", pCall);
}

rts::OsError to_local(RTS_I64 utcSeconds, CivilTime* local, const char** pCall) {
    tzset();
    tm t{};
    errno = 0;
    if (!local_tm(static_cast<time_t>(utcSeconds), t)) return last_error("localtime_r", pCall);
    *local = civil_of(t);
    return rts::kOsOk;
}

rts::OsError to_utc(const CivilTime* local, CivilTime* utc, const char** pCall) {
    tm t = tm_of(*local);
    t.tm_isdst = -1;
    errno = 0;
    const time_t when = mktime(&t);
    if (when == static_cast<time_t>(-1) && errno != 0) return last_error("mktime", pCall);
    tm out{};
    if (gmtime_r(&when, &out) == nullptr) return last_error("gmtime_r", pCall);
    *utc = civil_of(out);
    return rts::kOsOk;
}

rts::OsError get_zone(int year, ZoneInfo* zone, const char** pCall) {
    tzset();
    tm start = tm_of(CivilTime{year, 1, 1, 0, 0, 0});
    tm end = tm_of(CivilTime{year + 1, 1, 1, 0, 0, 0});
    const time_t from = timegm(&start);
    const time_t to = timegm(&end);
    tm winter{};
    tm summer{};
    errno = 0;
    if (!local_tm(from, winter) || !local_tm(from + kHalfYear, summer))
        return last_error("localtime_r", pCall);
    const tm& standard = winter.tm_isdst > 0 ? summer : winter;
    const tm& daylight = winter.tm_isdst > 0 ? winter : summer;
    zone->bias = static_cast<RTS_I32>(-standard.tm_gmtoff / 60);
    zone->standardBias = 0;
    zone->daylightBias =
        daylight.tm_isdst > 0 ? static_cast<RTS_I32>(-(daylight.tm_gmtoff - standard.tm_gmtoff) / 60) : 0;
    copy_text(zone->standardName, sizeof zone->standardName, tzname[0]);
    copy_text(zone->daylightName, sizeof zone->daylightName, tzname[1]);
    const bool fixedDates = changes_on_fixed_dates();
    for (time_t t = next_flag_change(from, to); t < to; t = next_flag_change(t, to))
        record_change(t, fixedDates, *zone);
    return rts::kOsOk;
}

rts::OsError set_zone(const ZoneInfo* zone, const char** pCall) {
    std::string tz =
        "<" + tz_abbreviation(zone->standardName, "STD") + ">" + tz_offset(zone->bias + zone->standardBias);
    if (zone->standardDate.month != 0 && zone->daylightDate.month != 0)
        tz += "<" + tz_abbreviation(zone->daylightName, "DST") + ">" +
              tz_offset(zone->bias + zone->daylightBias) + tz_rule(zone->daylightDate) +
              tz_rule(zone->standardDate);
    if (setenv("TZ", tz.c_str(), 1) != 0) return last_error("setenv", pCall);
    tzset();
    return rts::kOsOk;
}

rts::OsError get_zone_now(ZoneNow* now, const char** pCall) {
    tzset();
    tm t{};
    errno = 0;
    if (!local_tm(time(nullptr), t)) return last_error("localtime_r", pCall);
    now->offsetSeconds = static_cast<RTS_I32>(t.tm_gmtoff);
    now->daylight = t.tm_isdst > 0 ? 1 : 0;
    if (zone_name(now->name, sizeof now->name)) {
        now->source = ZoneNameSource::Mapped;
    } else {
        if (now->name[0] == '\0') copy_text(now->name, sizeof now->name, tzname[0]);
        now->source = ZoneNameSource::StandardName;
    }
    return rts::kOsOk;
}

/* Zone names come from TZ and the file system: there is nothing to load. */
rts::OsError load_zone_names(const char**) {
    return rts::kOsOk;
}

void unload_zone_names() {}

const Calls kPlatformCalls = {
    read_clock, set_clock, EPERM,        to_local,        to_utc,
    get_zone,   set_zone,  get_zone_now, load_zone_names, unload_zone_names,
};

} // namespace

const Calls& platform_calls() {
    return kPlatformCalls;
}

} // namespace systimertc_os
