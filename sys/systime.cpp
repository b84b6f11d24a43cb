/* SysTime: the monotonic tick sources. Owns the choice of the millisecond source (made once,
 * at the first reading), the wrap guard of a coarse tick count, the scaling of the
 * high-resolution counter into microseconds and nanoseconds, and the optional self-check that
 * reports a source going backwards at every communication cycle. */
#include <atomic>
#include <cassert>

#include "cm.h"
#include "cmplog.h"
#include "cmpsettings.h"
#include "sys/systime_internal.h"
#include "sys/systime_os.h"
#include "systime.h"

namespace systime_internal {

/* A tick count that steps back counts as wrapped only from this high a value to this low one. */
constexpr RTS_UI32 kWrapFromAtLeast = 0xFFFF0001u;
constexpr RTS_UI32 kWrapToBelow = 4096u;

RTS_UI32 guard_tick(RTS_UI32 now, RTS_UI32 last) {
    if (now >= last) return now;
    const bool wrapped = last >= kWrapFromAtLeast && now < kWrapToBelow;
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

constexpr RTS_UI64 kMsPerSecond = 1000u;
constexpr RTS_UI64 kUsPerSecond = 1000000u;
constexpr RTS_UI64 kNsPerSecond = 1000000000u;

/* The multimedia timer is used only when it can tick every millisecond. */
constexpr RTS_UI32 kTimerPeriodMs = 1;
/* A system clock adjusted at least every 1.5 ms (in 100-ns units) makes the tick count fine
 * enough; a coarser one leaves the milliseconds to the high-resolution counter. */
constexpr RTS_UI32 kFinestTickIncrement = 15001;

enum class MsSource {
    Unchosen,
    MultimediaTimer,    /* a 1 ms timer whose readings are used as they are */
    TickCount,          /* a coarse 32-bit tick that needs the wrap guard */
    PerformanceCounter, /* milliseconds derived from the high-resolution counter */
};

/* What the first readings fix for the process's life: the millisecond source and the
 * counter's frequency (kFrequencyUnread until read, 0 when there is no counter). A second
 * thread reading at the same first moment at worst asks the platform twice. */
constexpr RTS_UI64 kFrequencyUnread = ~RTS_UI64{0};
sys_os::CallTable<systime_os::Calls> g_calls;
std::atomic<MsSource> g_source{MsSource::Unchosen};
std::atomic<RTS_UI64> g_frequency{kFrequencyUnread};

/* Last value the tick-count source gave; only that source uses it. */
std::atomic<RTS_UI32> g_lastTick{0};

/* The back-jump check: iterations per cycle (read once the system is up) and the readings of
 * the previous iteration. Hooks come from one thread at a time. */
RTS_I32 g_checkIterations = 0;
bool g_haveLast = false;
Readings g_last{};

/* Makes a platform call; a failure is logged. */
template <typename Fn, typename... Args> rts::OsError os_call(Fn fn, Args... args) {
    return sys_os::call(CMPID_SysTime, nullptr, fn, args...);
}

MsSource choose_ms_source() {
    const systime_os::Calls& c = systime_os::calls();
    RTS_UI32 period = 0;
    if (os_call(c.timer_period, &period) == rts::kOsOk && period == kTimerPeriodMs &&
        os_call(c.timer_begin, period) == rts::kOsOk)
        return MsSource::MultimediaTimer;
    RTS_UI32 increment = 0;
    if (os_call(c.clock_increment, &increment) != rts::kOsOk || increment < kFinestTickIncrement)
        return MsSource::TickCount;
    return MsSource::PerformanceCounter;
}

MsSource ms_source() {
    MsSource source = g_source.load();
    if (source == MsSource::Unchosen) {
        source = choose_ms_source();
        g_source.store(source);
    }
    return source;
}

RTS_UI64 counter_frequency() {
    RTS_UI64 frequency = g_frequency.load();
    if (frequency == kFrequencyUnread) {
        if (os_call(systime_os::calls().counter_frequency, &frequency) != rts::kOsOk) frequency = 0;
        g_frequency.store(frequency);
    }
    return frequency;
}

/* The high-resolution counter in units of 1/perSecond s; 0 when there is no counter. */
RTS_UI64 counter_in(RTS_UI64 perSecond) {
    const RTS_UI64 frequency = counter_frequency();
    RTS_UI64 ticks = 0;
    if (frequency == 0 || os_call(systime_os::calls().counter, &ticks) != rts::kOsOk) return 0;
    return systime_internal::scale_counter(ticks, frequency, perSecond);
}

RTS_UI32 guarded_tick_count() {
    const RTS_UI32 now = systime_os::calls().tick_count();
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

namespace systime_os {

const Calls& calls() {
    return g_calls.get(platform_calls());
}

void set_calls(const Calls* fake) {
    g_calls.set(fake);
    g_source.store(MsSource::Unchosen);
    g_frequency.store(kFrequencyUnread);
    g_lastTick.store(0);
}

} // namespace systime_os

extern "C" RTS_RESULT SysTime__Entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(pInit, CMPID_SysTime, export_functions, nullptr, CMComponentVersion,
                            hook_function);
}

extern "C" RTS_UI32 SysTimeGetMs(void) {
    const MsSource source = ms_source();
    assert(source != MsSource::Unchosen);
    if (source == MsSource::MultimediaTimer) return systime_os::calls().timer_time();
    if (source == MsSource::TickCount) return guarded_tick_count();
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
