/* CmpLog: LogAdd and the early buffer. Until the standard logger exists every entry collects
 * in a static ring of 500 slots, without filter or timestamp; the logger adopts it when it is
 * created. */
#include "cm.h"
#include "cmplog.h"
#include "cmutils.h"

namespace {

struct LogRingSlot {
    RTS_UI32 Busy;
    RTS_UI32 WriteCount;
    LogEntry Entry;
};

struct EarlyLogBuffer {
    LogRingSlot slots[LOG_EARLY_BUFFER_SLOTS];
    int next;
};

EarlyLogBuffer g_early{};

RTS_RESULT add_early(RTS_UI32 cmpId, RTS_UI32 classId, RTS_RESULT errorId, RTS_UI32 infoId,
                     const char* format, va_list* pArgs) {
    LogRingSlot& slot = g_early.slots[g_early.next];
    g_early.next = g_early.next + 1 < LOG_EARLY_BUFFER_SLOTS ? g_early.next + 1 : 0;
    slot.Entry.Timestamp = 0;
    slot.Entry.CmpId = cmpId;
    slot.Entry.ClassId = classId;
    slot.Entry.ErrorId = errorId;
    slot.Entry.InfoId = infoId;
    slot.Entry.InfoText[0] = '\0';
    if (format == nullptr || pArgs == nullptr) return RES_PARAMETER;
    return CMUtlvsnprintf(slot.Entry.InfoText, sizeof slot.Entry.InfoText, format, pArgs);
}

const CMExportEntry kExports[] = {
    CM_EXPORT(LogAdd),
    CM_EXPORT(LogAddArg),
    {nullptr, nullptr, 0, 0},
};

RTS_RESULT export_functions() {
    return CMRegisterAPI(kExports, 0, 0, CMPID_CmpLog);
}

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) {
    return RES_OK;
}

} // namespace

extern "C" RTS_RESULT CmpLog__Entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(pInit, CMPID_CmpLog, export_functions, nullptr, CMComponentVersion,
                            hook_function);
}

extern "C" RTS_RESULT LogAddArg(RTS_HANDLE hLogger, RTS_UI32 cmpId, RTS_UI32 classId, RTS_RESULT errorId,
                                RTS_UI32 infoId, const char* format, va_list* pArgs) {
    return add_early(cmpId, classId, errorId, infoId, format, pArgs);
}

extern "C" RTS_RESULT LogAdd(RTS_HANDLE hLogger, RTS_UI32 cmpId, RTS_UI32 classId, RTS_RESULT errorId,
                             RTS_UI32 infoId, const char* format, ...) {
    va_list args;
    va_start(args, format);
    RTS_RESULT r = add_early(cmpId, classId, errorId, infoId, format, &args);
    va_end(args);
    return r;
}

extern "C" int LogEarlyBufferCount(void) {
    return g_early.next;
}

extern "C" RTS_RESULT LogEarlyBufferGet(int n, LogEntry* pEntry) {
    if (pEntry == nullptr || n < 0) return RES_PARAMETER;
    if (n >= g_early.next) return RES_NOMOREENTRIES;
    *pEntry = g_early.slots[n].Entry;
    return RES_OK;
}

extern "C" void LogEarlyBufferClear(void) {
    g_early.next = 0;
}
