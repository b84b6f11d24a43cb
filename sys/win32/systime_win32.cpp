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
 * process's life. Null, with the failed call named and the thread's last error set, when it is
 * not there. */
template <typename Fn> Fn winmm_function(const char* name, const char** pCall) {
    static const HMODULE winmm = LoadLibraryA("winmm.dll");
    if (winmm == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND); /* the load's own error went with the first call */
        *pCall = "LoadLibraryA";
        return nullptr;
    }
    const auto function = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(winmm, name)));
    if (function == nullptr) *pCall = "GetProcAddress";
    return function;
}

rts::OsError timer_period(RTS_UI32* periodMs, const char** pCall) {
    const auto getDevCaps = winmm_function<decltype(&timeGetDevCaps)>("timeGetDevCaps", pCall);
    if (getDevCaps == nullptr) return GetLastError();
    TIMECAPS caps{};
    const MMRESULT result = getDevCaps(&caps, sizeof caps);
    if (result != MMSYSERR_NOERROR) return sys_os::failed("timeGetDevCaps", result, pCall);
    *periodMs = caps.wPeriodMin;
    return rts::kOsOk;
}

rts::OsError timer_begin(RTS_UI32 periodMs, const char** pCall) {
    const auto beginPeriod = winmm_function<decltype(&timeBeginPeriod)>("timeBeginPeriod", pCall);
    const auto getTime = winmm_function<decltype(&timeGetTime)>("timeGetTime", pCall);
    if (beginPeriod == nullptr || getTime == nullptr) return GetLastError();
    const MMRESULT result = beginPeriod(periodMs);
    if (result != TIMERR_NOERROR) return sys_os::failed("timeBeginPeriod", result, pCall);
    g_timeGetTime = getTime;
    return rts::kOsOk;
}

rts::OsError clock_increment(RTS_UI32* units, const char** pCall) {
    DWORD adjustment = 0;
    DWORD increment = 0;
    BOOL disabled = FALSE;
    if (!GetSystemTimeAdjustment(&adjustment, &increment, &disabled))
        return sys_os::failed("GetSystemTimeAdjustment", GetLastError(), pCall);
    *units = increment;
    return rts::kOsOk;
}

rts::OsError performance_counter(RTS_UI64* ticks, const char** pCall) {
    LARGE_INTEGER now;
    if (!QueryPerformanceCounter(&now))
        return sys_os::failed("QueryPerformanceCounter", GetLastError(), pCall);
    *ticks = static_cast<RTS_UI64>(now.QuadPart);
    return rts::kOsOk;
}

rts::OsError performance_frequency(RTS_UI64* perSecond, const char** pCall) {
    LARGE_INTEGER frequency;
    if (!QueryPerformanceFrequency(&frequency))
        return sys_os::failed("QueryPerformanceFrequency", GetLastError(), pCall);
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
    timer_period,          timer_begin, clock_increment, performance_counter,
    performance_frequency, timer_time,  tick_count,
};

} // namespace

const Calls& platform_calls() {
    return kPlatformCalls;
}

} // namespace systime_os
