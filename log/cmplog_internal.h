// What the units of the logging component share: the logger object and its ring, the early
// buffer, the component's state, and the steps one unit offers the others.
#pragma once

#include <atomic>
#include <cstddef>

#include "cmplog.h"

namespace cmplog {

// One element of a ring. Writers set Busy bit 0 while they fill the slot and count every
// completed write in WriteCount, so a reader can tell a slot being written or rewritten while
// it copied it. The entry's words are written and read with atomic accesses, which keeps the
// lock-free protocol within the language's memory model.
struct LogRingSlot {
    std::atomic<RTS_UI32> Busy;
    std::atomic<RTS_UI32> WriteCount;
    LogEntry Entry;
};
static_assert(sizeof(LogRingSlot) == 160);

struct BackendSlot {
    RTS_UI32 ClassId; // 0: free
    ILogBackend* Backend;
    RTS_I32 DumpIndex; // -1: start at the oldest entry
};

constexpr int kBackendSlots = 3;

// One per logger, a block of the logger pool; the logger handle is its address.
struct Logger {
    LogOptions Options;
    RTS_UI32 CreationTime;
    std::atomic<RTS_I32> WriteIndex;
    std::atomic<RTS_I32> OldestIndex; // -1 while the ring is empty
    RTS_UI32 BackendCount;
    std::atomic<RTS_UI32> DumpBusy;
    LogRingSlot* Ring;
    BackendSlot Backends[kBackendSlots];
};
static_assert(sizeof(Logger) == 168);
static_assert(sizeof(LogOptions) == 64);

// The standard logger's ring until it exists, and again after the loggers are gone.
struct EarlyLogBuffer {
    LogRingSlot slots[LOG_EARLY_BUFFER_SLOTS];
    std::atomic<int> next;
};

// The optional services found by name; each may be missing.
struct Imports {
    RTS_HANDLE (*EventCreate)(RTS_UI32 eventId, RTS_UI32 cmpId, RTS_RESULT* pResult);
    RTS_RESULT (*EventPost2)(RTS_HANDLE hEvent, RTS_UI32 paramId, RTS_UI32 version, void* pParam);
    RTS_RESULT (*EventDelete)(RTS_HANDLE hEvent);
    RTS_HANDLE (*UserMgrObjectAdd)(const char* object, RTS_RESULT* pResult);
    RTS_RESULT (*UserMgrObjectSetUsedRights)(RTS_HANDLE hObject, RTS_UI32 usedRights);
    RTS_HANDLE (*UserMgrObjectOpen)(const char* object, RTS_RESULT* pResult);
    RTS_RESULT (*UserMgrObjectRemove)(RTS_HANDLE hObject);
};

struct State {
    std::atomic<RTS_HANDLE> pool{RTS_INVALID_HANDLE}; // the logger pool
    std::atomic<Logger*> standard{nullptr};
    bool initialised = false;
    RTS_HANDLE event = RTS_INVALID_HANDLE;
    RTS_I32 maxInfoLength = LOG_INFO_TEXT_SIZE;
    Imports imports{};
};

extern State g;
extern EarlyLogBuffer g_early;

constexpr const char* kOwner = "CmpLog";

// The ring index after `index` (a compare instead of a division: adds are on the hot path).
inline int next_index(int index, int maxEntries) {
    return index + 1 < maxEntries ? index + 1 : 0;
}

// The logger an argument names: 0 the standard logger, all ones and an unset standard logger
// none (null).
Logger* resolve(RTS_HANDLE hLogger);
// First logger in creation order and the one after it (null at the end), each step under the
// pool's lock.
Logger* first_logger();
Logger* next_logger(Logger* logger);

// Adds one entry to the logger's ring (the logger must be enabled and have passed its
// filters), then dumps for LOG_DUMP_ALWAYS and posts the log event.
RTS_RESULT add_entry(Logger* logger, RTS_UI32 cmpId, RTS_UI32 classId, RTS_RESULT errorId, RTS_UI32 infoId,
                     const char* format, va_list* pArgs);
// Copies a slot's entry unless a writer is in it or rewrote it meanwhile (then RES_FAILED and
// a cleared copy).
RTS_RESULT read_slot(const LogRingSlot& slot, LogEntry& out);
// The current time of the logger's timestamp kind (0 when it has none).
RTS_UI64 timestamp_now(RTS_UI32 type);
// Forgets a pending notification that points into the ring being freed.
void forget_notification(const Logger* logger);

// Creates the instances of every registered backend slot that has none.
void instantiate_backends(Logger* logger);
// Closes and forgets every backend of the logger.
void unregister_all_backends(Logger* logger);

// Logs the logger's options on itself, one LOG_INFO entry per line, after it was configured.
void log_options(Logger* logger);

} // namespace cmplog
