/* The calendar clock on Windows: the system time as file time, SetSystemTime, the zone's
 * time-zone information and its local-time conversions, and IANA names through "icu.dll"
 * (loaded at run time; newer systems carry it) with the registry's zone key as second source. */
#include <windows.h>

#include <ctime>
#include <initializer_list>

#include "sys/systimertc_os.h"

namespace systimertc_os {

namespace {

constexpr RTS_I64 kFileTimeOffsetMs = 11644473600000ll;
constexpr RTS_I64 kFileTimeUnitsPerMs = 10000;
constexpr RTS_I64 kFileTimeUnitsPerSecond = 10000000;
constexpr RTS_I64 kFileTimeOffsetSeconds = 11644473600ll;

/* ucal_getTimeZoneIDForWindowsID: Windows zone id -> IANA id. */
using PfWindowsIdToIana = int32_t(__cdecl*)(const wchar_t* winId, int32_t length, const char* region,
                                            wchar_t* id, int32_t capacity, int* status);

/* The library reports failures with a status above this value (warnings lie below it). */
constexpr int kIcuZeroError = 0;
/* Room for a zone name, in UTF-16 units, as the zone record 2 holds it. */
constexpr DWORD kZoneNameUnits = 128;

HMODULE g_icu = nullptr;
PfWindowsIdToIana g_toIana = nullptr;

CivilTime civil_of(const SYSTEMTIME& st) {
    return CivilTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

/* A zone record's date as the system keeps it, and back. */
ZoneDate zone_date_of(const SYSTEMTIME& st) {
    return ZoneDate{st.wYear, st.wMonth, st.wDayOfWeek, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

SYSTEMTIME system_time_of(const ZoneDate& d) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(d.year);
    st.wMonth = static_cast<WORD>(d.month);
    st.wDayOfWeek = static_cast<WORD>(d.weekday);
    st.wDay = static_cast<WORD>(d.day);
    st.wHour = static_cast<WORD>(d.hour);
    st.wMinute = static_cast<WORD>(d.minute);
    st.wSecond = static_cast<WORD>(d.second);
    return st;
}

SYSTEMTIME system_time_of(const CivilTime& c) {
    return system_time_of(ZoneDate{c.year, c.month, 0, c.day, c.hour, c.minute, c.second});
}

FILETIME file_time_of(RTS_I64 unitsSince1601) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(static_cast<RTS_UI64>(unitsSince1601) & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(static_cast<RTS_UI64>(unitsSince1601) >> 32);
    return ft;
}

/* Each UTF-16 unit's low byte, at most size-1 units. */
void narrow(const wchar_t* source, char* dest, size_t size) {
    size_t i = 0;
    for (; i + 1 < size && source[i] != L'\0'; ++i) dest[i] = static_cast<char>(source[i] & 0xFF);
    dest[i] = '\0';
}

/* Each byte widened, at most size-1 of them. */
void widen(const char* source, wchar_t* dest, size_t size) {
    size_t i = 0;
    for (; i + 1 < size && source[i] != '\0'; ++i)
        dest[i] = static_cast<wchar_t>(static_cast<unsigned char>(source[i]));
    dest[i] = L'\0';
}

bool map_to_iana(const wchar_t* windowsId, char* name, size_t size) {
    if (g_toIana == nullptr || windowsId[0] == L'\0') return false;
    wchar_t id[kZoneNameUnits] = {};
    int status = 0;
    const int32_t n = g_toIana(windowsId, -1, nullptr, id, kZoneNameUnits - 1, &status);
    if (status > kIcuZeroError || n <= 0) return false;
    narrow(id, name, size);
    return true;
}

/* The zone's key name (or, when that is missing or empty, its standard name) from the registry. */
bool registry_zone_name(wchar_t* name, DWORD units) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\TimeZoneInformation", 0,
                      KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    bool found = false;
    for (const wchar_t* value : {L"TimeZoneKeyName", L"StandardName"}) {
        DWORD bytes = (units - 1) * sizeof(wchar_t);
        DWORD type = 0;
        if (RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(name), &bytes) ==
                ERROR_SUCCESS &&
            type == REG_SZ && bytes >= sizeof(wchar_t)) {
            name[bytes / sizeof(wchar_t)] = L'\0';
            if (name[0] != L'\0') {
                found = true;
                break;
            }
        }
    }
    RegCloseKey(key);
    return found;
}

void zone_name(const TIME_ZONE_INFORMATION& tzi, ZoneNow& now) {
    narrow(tzi.StandardName, now.name, sizeof now.name);
    now.source = ZoneNameSource::StandardName;
    if (g_toIana == nullptr) return;
    if (map_to_iana(tzi.StandardName, now.name, sizeof now.name)) {
        now.source = ZoneNameSource::Mapped;
        return;
    }
    wchar_t key[kZoneNameUnits] = {};
    if (!registry_zone_name(key, kZoneNameUnits)) return;
    if (map_to_iana(key, now.name, sizeof now.name)) {
        now.source = ZoneNameSource::Mapped;
        return;
    }
    narrow(key, now.name, sizeof now.name);
    now.source = ZoneNameSource::RegistryName;
}

rts::OsError read_clock(RTS_I64* ms, const char**) {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    const RTS_UI64 units = (static_cast<RTS_UI64>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    *ms = static_cast<RTS_I64>(units / kFileTimeUnitsPerMs) - kFileTimeOffsetMs;
    return rts::kOsOk;
}

rts::OsError set_clock(RTS_UI64 ms, const char** pCall) {
    const FILETIME ft = file_time_of((static_cast<RTS_I64>(ms) + kFileTimeOffsetMs) * kFileTimeUnitsPerMs);
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&ft, &st)) return sys_os::failed("FileTimeToSystemTime", GetLastError(), pCall);
    if (!SetSystemTime(&st)) return sys_os::failed("SetSystemTime", GetLastError(), pCall);
    return rts::kOsOk;
}

rts::OsError to_local(RTS_I64 utcSeconds, CivilTime* local, const char** pCall) {
    const FILETIME ft = file_time_of((utcSeconds + kFileTimeOffsetSeconds) * kFileTimeUnitsPerSecond);
    SYSTEMTIME utc;
    SYSTEMTIME out;
    if (!FileTimeToSystemTime(&ft, &utc))
        return sys_os::failed("FileTimeToSystemTime", GetLastError(), pCall);
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &out))
        return sys_os::failed("SystemTimeToTzSpecificLocalTime", GetLastError(), pCall);
    *local = civil_of(out);
    return rts::kOsOk;
}

rts::OsError to_utc(const CivilTime* local, CivilTime* utc, const char** pCall) {
    const SYSTEMTIME in = system_time_of(*local);
    SYSTEMTIME out;
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &in, &out))
        return sys_os::failed("TzSpecificLocalTimeToSystemTime", GetLastError(), pCall);
    *utc = civil_of(out);
    return rts::kOsOk;
}

/* The system keeps the zone's changes in its own form, which is already that of the record. */
rts::OsError get_zone(int, ZoneInfo* zone, const char** pCall) {
    TIME_ZONE_INFORMATION tzi{};
    if (GetTimeZoneInformation(&tzi) == TIME_ZONE_ID_INVALID)
        return sys_os::failed("GetTimeZoneInformation", GetLastError(), pCall);
    zone->bias = tzi.Bias;
    zone->standardBias = tzi.StandardBias;
    zone->daylightBias = tzi.DaylightBias;
    narrow(tzi.StandardName, zone->standardName, sizeof zone->standardName);
    narrow(tzi.DaylightName, zone->daylightName, sizeof zone->daylightName);
    zone->standardDate = zone_date_of(tzi.StandardDate);
    zone->daylightDate = zone_date_of(tzi.DaylightDate);
    return rts::kOsOk;
}

rts::OsError set_zone(const ZoneInfo* zone, const char** pCall) {
    TIME_ZONE_INFORMATION tzi{};
    tzi.Bias = zone->bias;
    tzi.StandardBias = zone->standardBias;
    tzi.DaylightBias = zone->daylightBias;
    widen(zone->standardName, tzi.StandardName, sizeof tzi.StandardName / sizeof tzi.StandardName[0]);
    widen(zone->daylightName, tzi.DaylightName, sizeof tzi.DaylightName / sizeof tzi.DaylightName[0]);
    tzi.StandardDate = system_time_of(zone->standardDate);
    tzi.DaylightDate = system_time_of(zone->daylightDate);
    if (!SetTimeZoneInformation(&tzi)) return sys_os::failed("SetTimeZoneInformation", GetLastError(), pCall);
    return rts::kOsOk;
}

rts::OsError get_zone_now(ZoneNow* now, const char** pCall) {
    TIME_ZONE_INFORMATION tzi{};
    if (GetTimeZoneInformation(&tzi) == TIME_ZONE_ID_INVALID)
        return sys_os::failed("GetTimeZoneInformation", GetLastError(), pCall);
    const __time64_t t = _time64(nullptr);
    tm local{};
    const bool daylight = _localtime64_s(&local, &t) == 0 && local.tm_isdst > 0;
    now->offsetSeconds = -60 * (tzi.Bias + (daylight ? tzi.DaylightBias : tzi.StandardBias));
    now->daylight = daylight ? 1 : 0;
    zone_name(tzi, *now);
    return rts::kOsOk;
}

rts::OsError load_zone_names(const char** pCall) {
    if (g_icu == nullptr) g_icu = LoadLibraryA("icu.dll");
    if (g_icu == nullptr) return sys_os::failed("LoadLibraryA", GetLastError(), pCall);
    g_toIana = reinterpret_cast<PfWindowsIdToIana>(
        reinterpret_cast<void*>(GetProcAddress(g_icu, "ucal_getTimeZoneIDForWindowsID")));
    return rts::kOsOk;
}

void unload_zone_names() {
    g_toIana = nullptr;
    if (g_icu != nullptr) FreeLibrary(g_icu);
    g_icu = nullptr;
}

const Calls kPlatformCalls = {
    read_clock, set_clock,    ERROR_PRIVILEGE_NOT_HELD, to_local,          to_utc, get_zone,
    set_zone,   get_zone_now, load_zone_names,          unload_zone_names,
};

} // namespace

const Calls& platform_calls() {
    return kPlatformCalls;
}

} // namespace systimertc_os
