/* SysTime: the monotonic tick sources. Owns the choice of the millisecond source (made once,
 * at the first reading), the wrap guard of a coarse tick count, the scaling of the
 * high-resolution counter into microseconds and nanoseconds, and the optional self-check that
 * reports a source going backwards at every communication cycle. */
#include <atomic>

#include "cm.h"
#include "cmplog.h"
#include "cmpsettings.h"
#include "sys/systime_internal.h"
#include "sys/systime_os.h"
#include "systime.h"

namespace systime_internal {

RTS_UI32 guard_tick(RTS_UI32 now, RTS_UI32 last) {
    if (now >= last) return now;
    const bool wrapped = last >= 0xFFFF0001u && now < 4096u;
    return wrapped ? now : last;
}

RTS_UI64 scale_counter(RTS_UI64 counter, RTS_UI64 frequency, RTS_UI64 perSecond) {
    if (frequency == 0) return 0;
    if (perSecond % frequency == 0) return counter * (perSecond / frequency);
    if (frequency % perSecond == 0) return counter / (frequency / perSecond);
    const double factor = static_cast<double>(perSecond) / static_cast<double>(frequency);
    return static_cast<RTS_UI64>(static_cast<double>(counter) * factor);
}

void report_back_jumps(const Readings& now, Readings& last) {
    if (static_cast<RTS_I32>(now.ms - last.ms) < 0)
        LogAdd(nullptr, CMPID_SysTime, LOG_ERROR, 1, 0,
               "SysTimeGetMs jumps back, this may never happen. Now <%lu>, last <%lu>",
               static_cast<unsigned long>(now.ms), static_cast<unsigned long>(last.ms));
    if (static_cast<RTS_I64>(now.us - last.us) < 0)
        LogAdd(nullptr, CMPID_SysTime, LOG_ERROR, 1, 0,
               "SysTimeGetUs jumps back, this may never happen. Now <%llu>, last <%llu>",
               static_cast<unsigned long long>(now.us), static_cast<unsigned long long>(last.us));
    if (static_cast<RTS_I64>(now.ns - last.ns) < 0)
        LogAdd(nullptr, CMPID_SysTime, LOG_ERROR, 1, 0,
               "SysTimeGetNs jumps back, this may never happen. Now <%llu>, last <%llu>",
               static_cast<unsigned long long>(now.ns), static_cast<unsigned long long>(last.ns));
    last = now;
}

} // namespace systime_internal

namespace {

using systime_internal::Readings;
using systime_os::MsSource;

constexpr RTS_UI64 kMsPerSecond = 1000u;
constexpr RTS_UI64 kUsPerSecond = 1000000u;
constexpr RTS_UI64 kNsPerSecond = 1000000000u;

/* Last value the tick-count source gave; only that source uses it. */
std::atomic<RTS_UI32> g_lastTick{0};

/* The back-jump check: iterations per cycle (read once the system is up) and the readings of
 * the previous iteration. Hooks come from one thread at a time. */
RTS_I32 g_checkIterations = 0;
bool g_haveLast = false;
Readings g_last{};

MsSource ms_source() {
    static const MsSource source = systime_os::choose_ms_source();
    return source;
}

RTS_UI64 counter_frequency() {
    static const RTS_UI64 frequency = systime_os::counter_frequency();
    return frequency;
}

/* The high-resolution counter in units of 1/perSecond s; 0 when there is no counter. */
RTS_UI64 counter_in(RTS_UI64 perSecond) {
    return systime_internal::scale_counter(systime_os::counter(), counter_frequency(), perSecond);
}

RTS_UI32 guarded_tick_count() {
    const RTS_UI32 now = systime_os::tick_count();
    RTS_UI32 last = g_lastTick.load(std::memory_order_relaxed);
    for (;;) {
        const RTS_UI32 value = systime_internal::guard_tick(now, last);
        if (value == last || g_lastTick.compare_exchange_weak(last, value, std::memory_order_relaxed))
            return value;
    }
}

void check_back_jumps() {
    for (RTS_I32 i = 0; i < g_checkIterations; ++i) {
        const Readings now{SysTimeGetMs(), counter_in(kUsPerSecond), counter_in(kNsPerSecond)};
        if (!g_haveLast) {
            g_last = now;
            g_haveLast = true;
            continue;
        }
        systime_internal::report_back_jumps(now, g_last);
    }
}

const CMExportEntry kExports[] = {
    CM_EXPORT(SysTimeGetMs), CM_EXPORT(SysTimeGetUs), CM_EXPORT(SysTimeGetNs),  CM_EXPORT(systimegetms),
    CM_EXPORT(systimegetus), CM_EXPORT(systimegetns), {nullptr, nullptr, 0, 0},
};

RTS_RESULT export_functions() {
    return CMRegisterAPI(kExports, 0, 0, CMPID_SysTime);
}

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) {
    switch (hook) {
        case CH_INIT_FINISHED:
            SettgGetIntValue("SysTime", "CheckBackJumpsIterations", &g_checkIterations, 0, 0);
            g_haveLast = false;
            break;
        case CH_COMM_CYCLE:
            check_back_jumps();
            break;
        default:
            break;
    }
    return RES_OK;
}

} // namespace

extern "C" RTS_RESULT SysTime__Entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(pInit, CMPID_SysTime, export_functions, nullptr, CMComponentVersion,
                            hook_function);
}

extern "C" RTS_UI32 SysTimeGetMs(void) {
    switch (ms_source()) {
        case MsSource::MultimediaTimer:
            return systime_os::multimedia_time();
        case MsSource::TickCount:
            return guarded_tick_count();
        case MsSource::PerformanceCounter:
            break;
    }
    /* Through microseconds, so that the millisecond and microsecond readings agree. */
    return static_cast<RTS_UI32>(counter_in(kUsPerSecond) / kMsPerSecond);
}

extern "C" RTS_RESULT SysTimeGetUs(RTS_UI64* pUs) {
    if (pUs == nullptr) return RES_PARAMETER;
    *pUs = counter_in(kUsPerSecond);
    return RES_OK;
}

extern "C" RTS_RESULT SysTimeGetNs(RTS_UI64* pNs) {
    if (pNs == nullptr) return RES_PARAMETER;
    *pNs = counter_in(kNsPerSecond);
    return RES_OK;
}

extern "C" void systimegetms(systimegetms_struct* p) {
    if (p != nullptr) p->SysTimeGetMs = SysTimeGetMs();
}

extern "C" void systimegetus(systimegetus_struct* p) {
    if (p != nullptr) p->SysTimeGetUs = SysTimeGetUs(p->pUs);
}

extern "C" void systimegetns(systimegetns_struct* p) {
    if (p != nullptr) p->SysTimeGetNs = SysTimeGetNs(p->pNs);
}
