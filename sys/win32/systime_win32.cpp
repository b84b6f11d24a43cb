/* Monotonic clocks on Windows: the multimedia timer (from winmm, loaded at run time so the
 * framework links against kernel32 only), the system time adjustment, the tick count and the
 * performance counter. */
#include <windows.h>

#include <mmsystem.h>

#include "sys/systime_os.h"

namespace systime_os {

namespace {

/* Set once the 1 ms period is granted, before the multimedia source is chosen. */
decltype(&timeGetTime) g_timeGetTime = nullptr;

/* A function of winmm, which stays loaded once asked for: a granted timer period lasts for the
 * process's life. Null with the thread's last error set when it is not there. */
template <typename Fn> Fn winmm_function(const char* name) {
    static const HMODULE winmm = LoadLibraryA("winmm.dll");
    if (winmm == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(winmm, name)));
}

rts::OsError timer_period(RTS_UI32* periodMs) {
    const auto getDevCaps = winmm_function<decltype(&timeGetDevCaps)>("timeGetDevCaps");
    if (getDevCaps == nullptr) return GetLastError();
    TIMECAPS caps{};
    const MMRESULT result = getDevCaps(&caps, sizeof caps);
    if (result != MMSYSERR_NOERROR) return result;
    *periodMs = caps.wPeriodMin;
    return rts::kOsOk;
}

rts::OsError timer_begin(RTS_UI32 periodMs) {
    const auto beginPeriod = winmm_function<decltype(&timeBeginPeriod)>("timeBeginPeriod");
    const auto getTime = winmm_function<decltype(&timeGetTime)>("timeGetTime");
    if (beginPeriod == nullptr || getTime == nullptr) return GetLastError();
    const MMRESULT result = beginPeriod(periodMs);
    if (result != TIMERR_NOERROR) return result;
    g_timeGetTime = getTime;
    return rts::kOsOk;
}

rts::OsError clock_increment(RTS_UI32* units) {
    DWORD adjustment = 0;
    DWORD increment = 0;
    BOOL disabled = FALSE;
    if (!GetSystemTimeAdjustment(&adjustment, &increment, &disabled)) return GetLastError();
    *units = increment;
    return rts::kOsOk;
}

rts::OsError performance_counter(RTS_UI64* ticks) {
    LARGE_INTEGER now;
    if (!QueryPerformanceCounter(&now)) return GetLastError();
    *ticks = static_cast<RTS_UI64>(now.QuadPart);
    return rts::kOsOk;
}

rts::OsError performance_frequency(RTS_UI64* perSecond) {
    LARGE_INTEGER frequency;
    if (!QueryPerformanceFrequency(&frequency)) return GetLastError();
    *perSecond = static_cast<RTS_UI64>(frequency.QuadPart);
    return rts::kOsOk;
}

RTS_UI32 timer_time() {
    return g_timeGetTime != nullptr ? g_timeGetTime() : GetTickCount();
}

RTS_UI32 tick_count() {
    return GetTickCount();
}

const Calls kPlatformCalls = {
    {timer_period, "timeGetDevCaps"},
    {timer_begin, "timeBeginPeriod"},
    {clock_increment, "GetSystemTimeAdjustment"},
    {performance_counter, "QueryPerformanceCounter"},
    {performance_frequency, "QueryPerformanceFrequency"},
    timer_time,
    tick_count,
};

} // namespace

const Calls& platform_calls() {
    return kPlatformCalls;
}

} // namespace systime_os
