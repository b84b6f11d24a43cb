/* Monotonic clocks on Windows: the multimedia timer (from winmm, loaded at run time so the
 * framework links against kernel32 only), the tick count and the performance counter. */
#include <windows.h>

#include "sys/systime_os.h"

namespace systime_os {

namespace {

/* The part of the multimedia timer's capabilities record this unit reads. */
struct TimerCaps {
    UINT periodMin;
    UINT periodMax;
};

using PfTimeGetDevCaps = UINT(WINAPI*)(TimerCaps*, UINT);
using PfTimePeriod = UINT(WINAPI*)(UINT);
using PfTimeGetTime = DWORD(WINAPI*)();

/* Written once by choose_ms_source before the multimedia source is used. */
PfTimeGetTime g_timeGetTime = nullptr;

bool start_multimedia_timer() {
    HMODULE winmm = LoadLibraryA("winmm.dll");
    if (winmm == nullptr) return false;
    auto getDevCaps =
        reinterpret_cast<PfTimeGetDevCaps>(reinterpret_cast<void*>(GetProcAddress(winmm, "timeGetDevCaps")));
    auto beginPeriod =
        reinterpret_cast<PfTimePeriod>(reinterpret_cast<void*>(GetProcAddress(winmm, "timeBeginPeriod")));
    auto getTime =
        reinterpret_cast<PfTimeGetTime>(reinterpret_cast<void*>(GetProcAddress(winmm, "timeGetTime")));
    TimerCaps caps{};
    if (getDevCaps != nullptr && beginPeriod != nullptr && getTime != nullptr &&
        getDevCaps(&caps, sizeof caps) == 0 && caps.periodMin == 1 && beginPeriod(1) == 0) {
        /* The library stays loaded: the 1 ms period is kept for the process's lifetime. */
        g_timeGetTime = getTime;
        return true;
    }
    FreeLibrary(winmm);
    return false;
}

} // namespace

MsSource choose_ms_source() {
    if (start_multimedia_timer()) return MsSource::MultimediaTimer;
    DWORD adjustment = 0;
    DWORD increment = 0;
    BOOL disabled = FALSE;
    if (!GetSystemTimeAdjustment(&adjustment, &increment, &disabled) || increment < 15001)
        return MsSource::TickCount;
    return MsSource::PerformanceCounter;
}

RTS_UI32 multimedia_time() {
    return g_timeGetTime != nullptr ? g_timeGetTime() : GetTickCount();
}

RTS_UI32 tick_count() {
    return GetTickCount();
}

RTS_UI64 counter() {
    LARGE_INTEGER now;
    return QueryPerformanceCounter(&now) ? static_cast<RTS_UI64>(now.QuadPart) : 0;
}

RTS_UI64 counter_frequency() {
    LARGE_INTEGER f;
    return QueryPerformanceFrequency(&f) ? static_cast<RTS_UI64>(f.QuadPart) : 0;
}

} // namespace systime_os
