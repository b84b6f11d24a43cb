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

/* ucal_getTimeZoneIDForWindowsID: Windows zone id -> IANA id; status above 0 is a failure. */
using PfWindowsIdToIana = int32_t(__cdecl*)(const wchar_t* winId, int32_t length, const char* region,
                                            wchar_t* id, int32_t capacity, int* status);

HMODULE g_icu = nullptr;
PfWindowsIdToIana g_toIana = nullptr;

CivilTime civil_of(const SYSTEMTIME& st) {
    return CivilTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

SYSTEMTIME system_time_of(const CivilTime& c) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(c.year);
    st.wMonth = static_cast<WORD>(c.month);
    st.wDay = static_cast<WORD>(c.day);
    st.wHour = static_cast<WORD>(c.hour);
    st.wMinute = static_cast<WORD>(c.minute);
    st.wSecond = static_cast<WORD>(c.second);
    return st;
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

/* A transition rule with its year set to `year`, read as a plain date; absent when empty. */
bool transition_of(const SYSTEMTIME& rule, int year, CivilTime& when) {
    if (rule.wMonth == 0) return false;
    when = civil_of(rule);
    when.year = year;
    return true;
}

/* A plain date as the absolute form of a transition rule (the weekday filled in). */
SYSTEMTIME rule_of(const CivilTime& when) {
    SYSTEMTIME st = system_time_of(when);
    FILETIME ft;
    SYSTEMTIME full;
    if (SystemTimeToFileTime(&st, &ft) && FileTimeToSystemTime(&ft, &full)) st.wDayOfWeek = full.wDayOfWeek;
    return st;
}

bool map_to_iana(const wchar_t* windowsId, char* name, size_t size) {
    if (g_toIana == nullptr || windowsId[0] == L'\0') return false;
    wchar_t id[128] = {};
    int status = 0;
    const int32_t n = g_toIana(windowsId, -1, nullptr, id, 127, &status);
    if (status > 0 || n <= 0) return false;
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
    wchar_t key[128] = {};
    if (!registry_zone_name(key, 128)) return;
    if (map_to_iana(key, now.name, sizeof now.name)) {
        now.source = ZoneNameSource::Mapped;
        return;
    }
    narrow(key, now.name, sizeof now.name);
    now.source = ZoneNameSource::RegistryName;
}

} // namespace

bool utc_now_ms(RTS_I64& ms) {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    const RTS_UI64 units = (static_cast<RTS_UI64>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    ms = static_cast<RTS_I64>(units / kFileTimeUnitsPerMs) - kFileTimeOffsetMs;
    return true;
}

RTS_RESULT set_utc_ms(RTS_UI64 ms) {
    const FILETIME ft = file_time_of((static_cast<RTS_I64>(ms) + kFileTimeOffsetMs) * kFileTimeUnitsPerMs);
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&ft, &st)) return RES_FAILED;
    if (SetSystemTime(&st)) return RES_OK;
    return GetLastError() == ERROR_PRIVILEGE_NOT_HELD ? RES_NO_ACCESS : RES_FAILED;
}

bool local_fields(RTS_I64 utcSeconds, CivilTime& local) {
    const FILETIME ft = file_time_of((utcSeconds + kFileTimeOffsetSeconds) * kFileTimeUnitsPerSecond);
    SYSTEMTIME utc;
    SYSTEMTIME out;
    if (!FileTimeToSystemTime(&ft, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &out))
        return false;
    local = civil_of(out);
    return true;
}

bool utc_fields_of_local(const CivilTime& local, CivilTime& utc) {
    const SYSTEMTIME in = system_time_of(local);
    SYSTEMTIME out;
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &in, &out)) return false;
    utc = civil_of(out);
    return true;
}

bool get_zone(int year, ZoneInfo& zone, RTS_UI32& error) {
    TIME_ZONE_INFORMATION tzi{};
    if (GetTimeZoneInformation(&tzi) == TIME_ZONE_ID_INVALID) {
        error = GetLastError();
        return false;
    }
    zone.bias = tzi.Bias;
    zone.standardBias = tzi.StandardBias;
    zone.daylightBias = tzi.DaylightBias;
    narrow(tzi.StandardName, zone.standardName, sizeof zone.standardName);
    narrow(tzi.DaylightName, zone.daylightName, sizeof zone.daylightName);
    zone.hasStandardDate = transition_of(tzi.StandardDate, year, zone.standardDate);
    zone.hasDaylightDate = transition_of(tzi.DaylightDate, year, zone.daylightDate);
    return true;
}

bool set_zone(const ZoneInfo& zone) {
    TIME_ZONE_INFORMATION tzi{};
    tzi.Bias = zone.bias;
    tzi.StandardBias = zone.standardBias;
    tzi.DaylightBias = zone.daylightBias;
    widen(zone.standardName, tzi.StandardName, 32);
    widen(zone.daylightName, tzi.DaylightName, 32);
    if (zone.hasStandardDate) tzi.StandardDate = rule_of(zone.standardDate);
    if (zone.hasDaylightDate) tzi.DaylightDate = rule_of(zone.daylightDate);
    return SetTimeZoneInformation(&tzi) != 0;
}

bool get_zone_now(ZoneNow& now, RTS_UI32& error) {
    TIME_ZONE_INFORMATION tzi{};
    if (GetTimeZoneInformation(&tzi) == TIME_ZONE_ID_INVALID) {
        error = GetLastError();
        return false;
    }
    const __time64_t t = _time64(nullptr);
    tm local{};
    const bool daylight = _localtime64_s(&local, &t) == 0 && local.tm_isdst > 0;
    now.offsetSeconds = -60 * (tzi.Bias + (daylight ? tzi.DaylightBias : tzi.StandardBias));
    now.daylight = daylight ? 1 : 0;
    zone_name(tzi, now);
    return true;
}

bool zone_mapper_load() {
    if (g_icu == nullptr) g_icu = LoadLibraryA("icu.dll");
    if (g_icu == nullptr) return false;
    g_toIana = reinterpret_cast<PfWindowsIdToIana>(
        reinterpret_cast<void*>(GetProcAddress(g_icu, "ucal_getTimeZoneIDForWindowsID")));
    return true;
}

void zone_mapper_unload() {
    g_toIana = nullptr;
    if (g_icu != nullptr) FreeLibrary(g_icu);
    g_icu = nullptr;
}

} // namespace systimertc_os
