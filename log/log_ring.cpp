// The ring of a logger and the early buffer: adding entries without a lock (slots reserved by
// compare-and-swap, the oldest index moved the same way), reading them back with the torn-read
// check, every add path with its filters, and the pending user notification.
//
// A writer marks its slot Busy, fills it, counts the write in WriteCount and clears Busy. A
// reader copies a slot only when it is not Busy and gives the copy up when WriteCount moved or
// Busy came back meanwhile, so it never hands out a mix of two entries. Entries are composed on
// the writer's stack and stored word by word, which keeps every shared access atomic.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "cm.h"
#include "cm/rts_common.h"
#include "cmutils.h"
#include "log/cmplog_internal.h"
#include "systime.h"
#include "systimertc.h"

using rts::report;

namespace cmplog {

State g;
EarlyLogBuffer g_early;

namespace {

using Word = RTS_UI64;
constexpr RTS_SIZE kEntryWords = sizeof(LogEntry) / sizeof(Word);
static_assert(sizeof(LogEntry) % sizeof(Word) == 0);

constexpr RTS_UI32 kAlwaysPassing = LOG_WARNING | LOG_ERROR | LOG_EXCEPTION; // past component filters
constexpr RTS_UI32 kBusy = 1;
constexpr RTS_UI32 kEventParamId = 1;
constexpr RTS_UI32 kEventVersion = 2;

// The pending user notification: a slot of a logger's ring or the private slot below.
std::atomic<LogRingSlot*> g_pendingSlot{nullptr};
std::atomic<Logger*> g_pendingLogger{nullptr};
// Holds a notification whose class the logger's filter rejected.
LogRingSlot g_notifySlot;

// Stores a composed entry: its fields and its text of `length` characters up to the terminator,
// then zeros for the rest of the text, which the writer never touched.
void store_words(LogEntry& to, LogEntry& from, RTS_SIZE length) {
    const RTS_SIZE end = offsetof(LogEntry, InfoText) + length + 1;
    const RTS_SIZE used = (end + sizeof(Word) - 1) / sizeof(Word);
    std::memset(reinterpret_cast<char*>(&from) + end, 0, used * sizeof(Word) - end);
    auto* d = reinterpret_cast<Word*>(&to);
    const auto* s = reinterpret_cast<const Word*>(&from);
    for (RTS_SIZE i = 0; i < kEntryWords; ++i)
        std::atomic_ref<Word>(d[i]).store(i < used ? s[i] : 0, std::memory_order_relaxed);
}

void load_words(const LogEntry& from, LogEntry& to) {
    auto* s = reinterpret_cast<Word*>(const_cast<LogEntry*>(&from));
    Word words[kEntryWords];
    for (RTS_SIZE i = 0; i < kEntryWords; ++i)
        words[i] = std::atomic_ref<Word>(s[i]).load(std::memory_order_relaxed);
    std::memcpy(&to, words, sizeof to);
}

// Busy from the start of a write to its end; false, without waiting, when another writer holds
// the slot.
bool begin_write(LogRingSlot& slot) {
    if ((slot.Busy.fetch_or(kBusy, std::memory_order_acquire) & kBusy) != 0) return false;
    std::atomic_thread_fence(std::memory_order_release);
    return true;
}

// A ring slot's writer holds it alone from begin_write on, so it counts its write and ends its
// Busy with plain stores.
void end_write(LogRingSlot& slot, LogEntry& entry, RTS_SIZE length) {
    store_words(slot.Entry, entry, length);
    slot.WriteCount.store(slot.WriteCount.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    slot.Busy.store(0, std::memory_order_release);
}

// The early buffer and the notification slot: written without reservation, one writer at a
// time in practice, so a slot found Busy is written all the same; a second writer's count
// still moves WriteCount, so a reader caught between the two gives its copy up.
void publish(LogRingSlot& slot, LogEntry& entry, RTS_SIZE length) {
    begin_write(slot);
    store_words(slot.Entry, entry, length);
    slot.WriteCount.fetch_add(1, std::memory_order_release);
    slot.Busy.store(0, std::memory_order_release);
}

// An entry's fields and an empty text; the rest of the text is left for the formatter.
LogEntry compose(RTS_UI32 cmpId, RTS_UI32 classId, RTS_RESULT errorId, RTS_UI32 infoId) {
    LogEntry e;
    e.Timestamp = 0;
    e.InfoText[0] = '\0';
    e.CmpId = cmpId;
    e.ClassId = classId;
    e.ErrorId = errorId;
    e.InfoId = infoId;
    return e;
}

// Formats behind the first `length` characters of the text and moves `length` to the text's end:
// RES_OK when it fit, RES_BUFFERSIZE when it was cut, RES_PARAMETER without a format or
// arguments.
RTS_RESULT format_text(LogEntry& e, RTS_SIZE& length, const char* format, va_list* pArgs) {
    if (format == nullptr || pArgs == nullptr) return RES_PARAMETER;
    const RTS_SIZE room = sizeof e.InfoText - length;
    const int n = CMUtlvsnprintf2(e.InfoText + length, room, nullptr, format, pArgs);
    if (n < 0) return RES_BUFFERSIZE;
    length += std::min(static_cast<RTS_SIZE>(n), room - 1);
    return static_cast<RTS_SIZE>(n) < room ? RES_OK : RES_BUFFERSIZE;
}

RTS_RESULT add_early(const LogEntry& entry, const char* format, va_list* pArgs) {
    int slot = g_early.next.load(std::memory_order_relaxed);
    while (!g_early.next.compare_exchange_weak(slot, slot + 1 < LOG_EARLY_BUFFER_SLOTS ? slot + 1 : 0)) {
    }
    LogEntry e = entry;
    RTS_SIZE length = 0;
    RTS_RESULT r = format_text(e, length, format, pArgs);
    publish(g_early.slots[slot], e, length);
    return r;
}

int reserve_slot(Logger* logger) {
    const int max = logger->Options.MaxEntries;
    int s = logger->WriteIndex.load(std::memory_order_relaxed);
    while (!logger->WriteIndex.compare_exchange_weak(s, next_index(s, max), std::memory_order_acq_rel)) {
    }
    return s;
}

// The slot just reserved held the oldest entry of a full ring, or the ring was empty.
void move_oldest(Logger* logger, int s) {
    const int max = logger->Options.MaxEntries;
    int o = logger->OldestIndex.load(std::memory_order_acquire);
    while (true) {
        int wanted = o == -1 ? s : o == s ? next_index(o, max) : o;
        if (wanted == o || logger->OldestIndex.compare_exchange_weak(o, wanted, std::memory_order_acq_rel))
            return;
    }
}

RTS_UI64 slot_timestamp(const LogRingSlot& slot) {
    auto& ts = const_cast<RTS_UI64&>(slot.Entry.Timestamp);
    return std::atomic_ref<RTS_UI64>(ts).load(std::memory_order_relaxed);
}

// "<TimeRel>n</TimeRel> " with the milliseconds since the entry before this one.
RTS_SIZE write_time_rel(Logger* logger, int s, LogEntry& e) {
    const int max = logger->Options.MaxEntries;
    int p = s == logger->OldestIndex.load() ? s : (s - 1 + max) % max;
    RTS_UI64 previous = p == s ? e.Timestamp : slot_timestamp(logger->Ring[p]);
    auto delta = static_cast<RTS_I32>(static_cast<RTS_UI32>(e.Timestamp) - static_cast<RTS_UI32>(previous));
    CMUtlsnprintf(e.InfoText, sizeof e.InfoText, "<TimeRel>%ld</TimeRel> ", static_cast<long>(delta));
    return std::strlen(e.InfoText);
}

// Reserves a slot and marks it Busy right away, so that a reader that already sees the slot as
// taken finds it being written as early as possible. A slot that is still Busy belongs to a
// writer that reserved it a whole ring earlier and has not finished: rather than write into it
// at the same time (and leave a mix of two entries), the writer takes the next slot.
int claim_slot(Logger* logger) {
    while (true) {
        const int s = reserve_slot(logger);
        move_oldest(logger, s);
        if (begin_write(logger->Ring[s])) return s;
    }
}

RTS_RESULT add_to_ring(Logger* logger, LogEntry& e, const char* format, va_list* pArgs) {
    const int s = claim_slot(logger);
    LogRingSlot& slot = logger->Ring[s];
    LogRingSlot* target = &slot;
    if (g_pendingSlot.load(std::memory_order_relaxed) == target)
        g_pendingSlot.compare_exchange_strong(target, nullptr);
    e.Timestamp = timestamp_now(logger->Options.Type);
    RTS_SIZE length = e.ClassId == LOG_TIMEREL ? write_time_rel(logger, s, e) : 0;
    RTS_RESULT r = pArgs != nullptr ? format_text(e, length, format, pArgs) : RES_OK;
    end_write(slot, e, length);
    if ((e.ClassId & LOG_USERNOTIFY) != 0) {
        g_pendingLogger = logger;
        g_pendingSlot = &logger->Ring[s];
    }
    return r;
}

RTS_RESULT notify_only(Logger* logger, LogEntry& e, const char* format, va_list* pArgs) {
    RTS_SIZE length = 0;
    RTS_RESULT r = format_text(e, length, format, pArgs);
    publish(g_notifySlot, e, length);
    g_pendingLogger = logger;
    g_pendingSlot = &g_notifySlot;
    return r;
}

void post_event(Logger* logger, const LogEntry& e, const char* format, va_list* pArgs) {
    if (g.imports.EventPost2 == nullptr || g.event == RTS_INVALID_HANDLE) return;
    LogAddEventParam param{logger, e.CmpId, e.ClassId, e.ErrorId, e.InfoId, format, pArgs};
    g.imports.EventPost2(g.event, kEventParamId, kEventVersion, &param);
}

bool component_filter_passes(const LogComponentFilter& f, RTS_UI32 classId, const RTS_UI32* subFilter) {
    if ((classId & kAlwaysPassing) != 0) return true;
    if ((classId & f.Filter) == 0) return false;
    return subFilter == nullptr || *subFilter == 0 || (*subFilter & f.Mask) != 0;
}

RTS_RESULT add_filtered(const LogComponentFilter* pFilter, RTS_UI32 classId, const RTS_UI32* subFilter,
                        RTS_RESULT errorId, RTS_UI32 infoId, const char* format, va_list* pArgs) {
    if (pFilter == nullptr) return RES_PARAMETER;
    if (!component_filter_passes(*pFilter, classId, subFilter)) return RES_OK;
    Logger* logger = resolve(pFilter->hLogger);
    if (logger == nullptr) return RES_PARAMETER;
    if (logger->Options.Enable == 0) return RES_FAILED;
    return add_entry(logger, pFilter->CmpId, classId, errorId, infoId, format, pArgs);
}

bool valid_index(const Logger* logger, int index) {
    return index >= 0 && index < logger->Options.MaxEntries;
}

// The first readable entry from the oldest on, re-reading the oldest index on every try.
int read_oldest(Logger* logger, LogEntry& out, RTS_RESULT& result) {
    while (true) {
        int o = logger->OldestIndex.load(std::memory_order_acquire);
        if (o < 0) return result = RES_NOMOREENTRIES, -1;
        o %= logger->Options.MaxEntries;
        if (read_slot(logger->Ring[o], out) == RES_OK) return result = RES_OK, o;
    }
}

// The next readable entry after index; unreadable slots are skipped.
int step_next(Logger* logger, int index, LogEntry& out, RTS_RESULT& result) {
    const int max = logger->Options.MaxEntries;
    for (int i = next_index(index, max);; i = next_index(i, max)) {
        if (i == logger->WriteIndex.load(std::memory_order_acquire)) return result = RES_NOMOREENTRIES, -1;
        if (read_slot(logger->Ring[i], out) == RES_OK) return result = RES_OK, i;
    }
}

// The logger of a read and its ring, else the failure.
Logger* readable(RTS_HANDLE hLogger, const LogEntry* pEntry, RTS_RESULT& result) {
    Logger* logger = resolve(hLogger);
    if (logger == nullptr || pEntry == nullptr) return result = RES_PARAMETER, nullptr;
    if (logger->Ring == nullptr) return result = RES_NOMEMORY, nullptr;
    return result = RES_OK, logger;
}

} // namespace

RTS_UI64 timestamp_now(RTS_UI32 type) {
    RTS_UI64 value = 0;
    if ((type & LOG_TS_RTC) != 0) return SysTimeRtcGet(nullptr);
    if ((type & LOG_TS_RTC_HIGHRES) != 0) return SysTimeRtcHighResGet(&value), value;
    if ((type & LOG_TS_MS) != 0) return SysTimeGetMs();
    if ((type & LOG_TS_US) != 0) return SysTimeGetUs(&value), value;
    if ((type & LOG_TS_NS) != 0) return SysTimeGetNs(&value), value;
    return 0;
}

RTS_RESULT read_slot(const LogRingSlot& slot, LogEntry& out) {
    if ((slot.Busy.load(std::memory_order_acquire) & kBusy) != 0) return RES_FAILED;
    RTS_UI32 count = slot.WriteCount.load(std::memory_order_acquire);
    if (count == 0) return RES_FAILED; // taken by a writer that has not begun, never written
    load_words(slot.Entry, out);
    std::atomic_thread_fence(std::memory_order_acquire);
    bool busy = (slot.Busy.load(std::memory_order_acquire) & kBusy) != 0;
    if (busy || slot.WriteCount.load(std::memory_order_relaxed) != count) {
        out = LogEntry{};
        return RES_FAILED;
    }
    return RES_OK;
}

RTS_RESULT add_entry(Logger* logger, RTS_UI32 cmpId, RTS_UI32 classId, RTS_RESULT errorId, RTS_UI32 infoId,
                     const char* format, va_list* pArgs) {
    if (logger->Ring == nullptr) return RES_NOMEMORY;
    LogEntry e = compose(cmpId, classId, errorId, infoId);
    RTS_RESULT r = add_to_ring(logger, e, format, pArgs);
    if ((logger->Options.Type & LOG_DUMP_ALWAYS) != 0) {
        RTS_RESULT d = LogDumpEntries(logger);
        if (r == RES_OK) r = d;
    }
    post_event(logger, e, format, pArgs);
    return r;
}

void forget_notification(const Logger* logger) {
    if (g_pendingLogger.load() != logger) return;
    g_pendingSlot = nullptr;
    g_pendingLogger = nullptr;
}

} // namespace cmplog

using namespace cmplog;

// ---- adding ---------------------------------------------------------------------------------

extern "C" RTS_RESULT LogAddArg(RTS_HANDLE hLogger, RTS_UI32 cmpId, RTS_UI32 classId, RTS_RESULT errorId,
                                RTS_UI32 infoId, const char* format, va_list* pArgs) {
    if (g.pool.load(std::memory_order_acquire) == RTS_INVALID_HANDLE)
        return add_early(compose(cmpId, classId, errorId, infoId), format, pArgs);
    Logger* logger = resolve(hLogger);
    if (logger == nullptr) return RES_PARAMETER;
    if (logger->Options.Enable == 0) return RES_FAILED;
    if ((classId & logger->Options.Filter) != 0)
        return add_entry(logger, cmpId, classId, errorId, infoId, format, pArgs);
    if ((classId & LOG_USERNOTIFY) == 0) return RES_PARAMETER;
    LogEntry e = compose(cmpId, classId, errorId, infoId);
    return notify_only(logger, e, format, pArgs);
}

extern "C" RTS_RESULT LogAdd(RTS_HANDLE hLogger, RTS_UI32 cmpId, RTS_UI32 classId, RTS_RESULT errorId,
                             RTS_UI32 infoId, const char* format, ...) {
    va_list args;
    va_start(args, format);
    RTS_RESULT r = LogAddArg(hLogger, cmpId, classId, errorId, infoId, format, &args);
    va_end(args);
    return r;
}

extern "C" RTS_RESULT LogAdd2Arg(const LogComponentFilter* pFilter, RTS_UI32 classId, RTS_RESULT errorId,
                                 RTS_UI32 infoId, const char* format, va_list* pArgs) {
    return add_filtered(pFilter, classId, nullptr, errorId, infoId, format, pArgs);
}

extern "C" RTS_RESULT LogAdd2(const LogComponentFilter* pFilter, RTS_UI32 classId, RTS_RESULT errorId,
                              RTS_UI32 infoId, const char* format, ...) {
    va_list args;
    va_start(args, format);
    RTS_RESULT r = add_filtered(pFilter, classId, nullptr, errorId, infoId, format, &args);
    va_end(args);
    return r;
}

extern "C" RTS_RESULT LogAdd3Arg(const LogComponentFilter* pFilter, RTS_UI32 classId, RTS_UI32 subFilter,
                                 RTS_RESULT errorId, RTS_UI32 infoId, const char* format, va_list* pArgs) {
    return add_filtered(pFilter, classId, &subFilter, errorId, infoId, format, pArgs);
}

extern "C" RTS_RESULT LogAdd3(const LogComponentFilter* pFilter, RTS_UI32 classId, RTS_UI32 subFilter,
                              RTS_RESULT errorId, RTS_UI32 infoId, const char* format, ...) {
    va_list args;
    va_start(args, format);
    RTS_RESULT r = add_filtered(pFilter, classId, &subFilter, errorId, infoId, format, &args);
    va_end(args);
    return r;
}

extern "C" RTS_RESULT LogCopyInfo(RTS_HANDLE hLogger, const char* format, va_list* pArgs, char* buffer,
                                  RTS_I32* pLength) {
    if (hLogger == RTS_INVALID_HANDLE || format == nullptr || pArgs == nullptr || buffer == nullptr ||
        pLength == nullptr || *pLength <= 0)
        return RES_PARAMETER;
    RTS_RESULT result = RES_OK;
    int n = CMUtlvsnprintf2(buffer, static_cast<RTS_SIZE>(*pLength), &result, format, pArgs);
    *pLength = n + 1;
    return result;
}

// ---- reading ----------------------------------------------------------------------------------

extern "C" int LogGetFirstEntry(RTS_HANDLE hLogger, LogEntry* pEntry, RTS_RESULT* pResult) {
    RTS_RESULT result;
    Logger* logger = readable(hLogger, pEntry, result);
    if (logger == nullptr) return report(pResult, result, -1);
    int index = read_oldest(logger, *pEntry, result);
    return report(pResult, result, index);
}

extern "C" int LogGetNextEntry(RTS_HANDLE hLogger, int index, LogEntry* pEntry, RTS_RESULT* pResult) {
    RTS_RESULT result;
    Logger* logger = readable(hLogger, pEntry, result);
    if (logger == nullptr) return report(pResult, result, -1);
    if (!valid_index(logger, index)) return report(pResult, RES_PARAMETER, -1);
    int next = step_next(logger, index, *pEntry, result);
    return report(pResult, result, next);
}

extern "C" int LogGetEntryByIndex(RTS_HANDLE hLogger, int n, LogEntry* pEntry, RTS_RESULT* pResult) {
    RTS_RESULT result;
    Logger* logger = readable(hLogger, pEntry, result);
    if (logger == nullptr) return report(pResult, result, -1);
    if (n < 0) return report(pResult, RES_PARAMETER, -1);
    int index = read_oldest(logger, *pEntry, result);
    for (int step = 0; step < n && index >= 0; ++step) index = step_next(logger, index, *pEntry, result);
    return report(pResult, result, index);
}

extern "C" int LogGetEntryByQueueIndex(RTS_HANDLE hLogger, int index, LogEntry* pEntry, RTS_RESULT* pResult) {
    RTS_RESULT result;
    Logger* logger = readable(hLogger, pEntry, result);
    if (logger == nullptr) return report(pResult, result, -1);
    if (index >= logger->Options.MaxEntries) return report(pResult, RES_PARAMETER, -1);
    if (index < 0) return report(pResult, result, read_oldest(logger, *pEntry, result));
    result = read_slot(logger->Ring[index], *pEntry);
    if (result != RES_OK) return report(pResult, result, -1);
    int next = next_index(index, logger->Options.MaxEntries);
    if (next == logger->WriteIndex.load()) return report(pResult, RES_NOMOREENTRIES, -1);
    return report(pResult, RES_OK, next);
}

extern "C" RTS_RESULT LogGetEntry(RTS_HANDLE hLogger, int index, LogEntry* pEntry) {
    RTS_RESULT result;
    Logger* logger = readable(hLogger, pEntry, result);
    if (logger == nullptr) return result;
    if (!valid_index(logger, index)) return RES_PARAMETER;
    return read_slot(logger->Ring[index], *pEntry);
}

// ---- notifications ------------------------------------------------------------------------

extern "C" RTS_RESULT LogGetUserNotify2(RTS_HANDLE* phLogger, LogEntry* pEntry) {
    if (pEntry == nullptr) return RES_PARAMETER;
    Logger* logger = g_pendingLogger.load();
    LogRingSlot* slot = g_pendingSlot.exchange(nullptr);
    if (slot == nullptr) return RES_NO_OBJECT;
    if (phLogger != nullptr && logger != nullptr) *phLogger = logger;
    return read_slot(*slot, *pEntry);
}

extern "C" RTS_RESULT LogGetUserNotify(LogEntry* pEntry) {
    return LogGetUserNotify2(nullptr, pEntry);
}
