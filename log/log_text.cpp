// The text forms of an entry that backends write: the timestamp (a calendar date in ISO 8601 for
// the clock kinds, a number for the tick kinds), the CSV line, and the lines a logger logs
// about its own options once it is configured.
#include <cstring>

#include "cm.h"
#include "cm/rts_common.h"
#include "cmutils.h"
#include "log/cmplog_internal.h"
#include "systimertc.h"

using rts::report;

namespace cmplog {

namespace {

// Date, time, milliseconds and a zone offset such as +01:30, and the terminator.
constexpr RTS_SIZE kTimestampSize = 30;
constexpr RTS_UI64 kMsPerSecond = 1000;
constexpr int kSecondsPerMinute = 60;

// The first timestamp kind that is set decides.
constexpr RTS_UI32 kTimestampKinds[] = {LOG_TS_RTC, LOG_TS_RTC_HIGHRES, LOG_TS_MS, LOG_TS_US, LOG_TS_NS};

RTS_UI32 timestamp_kind(RTS_UI32 type) {
    for (RTS_UI32 kind : kTimestampKinds)
        if ((type & kind) != 0) return kind;
    return 0;
}

RTS_RESULT format_calendar(RTS_UI64 ms, bool local, char* buffer, RTS_SIZE size) {
    RTS_SYSTIMEDATE date{};
    RTS_I32 offsetMinutes = 0;
    if (local) {
        SYS_TIME_ZONE_INFORMATION2 zone{};
        if (SysTimeRtcGetTimezone2(&zone) == RES_OK) offsetMinutes = zone.iOffsetSeconds / kSecondsPerMinute;
        SysTimeRtcConvertHighResToLocal(&ms, &date);
    } else {
        SysTimeRtcConvertHighResToDate(&ms, &date);
    }
    SysTimeRtcConvertDateToISO8601(&date, buffer, size, offsetMinutes);
    return RES_OK;
}

// Exact class values, not bits: a class with more bits set gets no prefix.
const char* class_prefix(RTS_UI32 classId) {
    switch (classId) {
        case LOG_ERROR:
            return "**** ERROR: ";
        case LOG_EXCEPTION:
            return "#### Exception: ";
        case LOG_WARNING:
            return "!!!! Warning: ";
        default:
            return "";
    }
}

void strip_line_ends(char* text) {
    for (RTS_SIZE n = std::strlen(text); n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n'); --n)
        text[n - 1] = '\0';
}

// The first word whose bit is set, or null.
struct OptionWord {
    RTS_UI32 bit;
    const char* line;
};

const char* first_set(RTS_UI32 type, std::initializer_list<OptionWord> words) {
    for (const OptionWord& w : words)
        if ((type & w.bit) != 0) return w.line;
    return nullptr;
}

void log_line(Logger* logger, const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogAddArg(logger, CMPID_CmpLog, LOG_INFO, 0, 0, format, &args);
    va_end(args);
}

} // namespace

void log_options(Logger* logger) {
    const LogOptions& o = logger->Options;
    const RTS_UI32 t = o.Type;
    constexpr RTS_UI32 kDumpBits = LOG_DUMP_ALWAYS | LOG_DUMP_ON_CLOSE | LOG_DUMP_ON_REQUEST;
    log_line(logger, "<logoptions>");
    log_line(logger, "<bEnable>%d</bEnable>", static_cast<int>(o.Enable));
    const char* type = first_set(t, {{LOG_TYPE_NORMAL, "<type>normal</type>"},
                                     {LOG_TYPE_HIGHSPEED, "<type>highspeed</type>"},
                                     {LOG_TYPE_SAFE, "<type>safe</type>"}});
    if (type != nullptr) log_line(logger, "%s", type);
    const char* stamp = first_set(t, {{LOG_TS_RTC, "<timestamp>rtc</timestamp>"},
                                      {LOG_TS_RTC_HIGHRES, "<timestamp>rtc high resolution</timestamp>"},
                                      {LOG_TS_MS, "<timestamp>milliseconds</timestamp>"},
                                      {LOG_TS_US, "<timestamp>microseconds</timestamp>"},
                                      {LOG_TS_NS, "<timestamp>nanoseconds</timestamp>"}});
    if (stamp != nullptr) log_line(logger, "%s", stamp);
    log_line(logger, "<disableable>%d</disableable>", (t & LOG_NOT_DISABLEABLE) != 0 ? 0 : 1);
    const char* dump = first_set(t & kDumpBits, {{LOG_DUMP_ALWAYS, "<dump>always</dump>"},
                                                 {LOG_DUMP_ON_CLOSE, "<dump>on close</dump>"},
                                                 {LOG_DUMP_ON_REQUEST, "<dump>on request</dump>"}});
    if (dump != nullptr) log_line(logger, "%s", dump);
    log_line(logger, "<Filter>0x%08x</Filter>", o.Filter);
    log_line(logger, "<MaxEntries>%d</MaxEntries>", static_cast<int>(o.MaxEntries));
    log_line(logger, "<MaxFiles>%d</MaxFiles>", static_cast<int>(o.MaxFiles));
    log_line(logger, "<MaxFileSize>%d</MaxFileSize>", static_cast<int>(o.MaxFileSize));
    log_line(logger, "</logoptions>");
}

} // namespace cmplog

using namespace cmplog;

extern "C" RTS_UI32 LogConvertTimestamp(RTS_HANDLE hLogger, RTS_UI64 timestamp, RTS_SYSTIMEDATE* pDate,
                                        RTS_RESULT* pResult) {
    Logger* logger = resolve(hLogger);
    if (logger == nullptr || pDate == nullptr) return report(pResult, RES_PARAMETER, 0u);
    *pDate = RTS_SYSTIMEDATE{};
    const RTS_UI32 kind = timestamp_kind(logger->Options.Type);
    if (kind == LOG_TS_RTC)
        return report(pResult, SysTimeRtcConvertUtcToDate(static_cast<RTS_UI32>(timestamp), pDate), kind);
    if (kind == LOG_TS_RTC_HIGHRES)
        return report(pResult, SysTimeRtcConvertHighResToDate(&timestamp, pDate), kind);
    return report(pResult, RES_NOTSUPPORTED, kind);
}

extern "C" RTS_RESULT LogFormatTimestamp(const LogOptions* pOptions, const LogEntry* pEntry, char* buffer,
                                         RTS_SIZE size) {
    if (pOptions == nullptr || pEntry == nullptr || buffer == nullptr || size == 0) return RES_PARAMETER;
    const RTS_UI32 kind = timestamp_kind(pOptions->Type);
    const bool local = (pOptions->Type & LOG_LOCALTIME) != 0;
    if (kind == LOG_TS_RTC) return format_calendar(pEntry->Timestamp * kMsPerSecond, local, buffer, size);
    if (kind == LOG_TS_RTC_HIGHRES) return format_calendar(pEntry->Timestamp, local, buffer, size);
    if ((pOptions->Type & (LOG_TS_US | LOG_TS_NS)) != 0)
        CMUtlsnprintf(buffer, size, "%014llu", static_cast<unsigned long long>(pEntry->Timestamp));
    else
        CMUtlsnprintf(buffer, size, "%08u", static_cast<unsigned>(pEntry->Timestamp));
    return RES_OK;
}

extern "C" RTS_RESULT LogFormatCsvMessage(const LogOptions* pOptions, const LogEntry* pEntry, char* buffer,
                                          RTS_SIZE size) {
    if (pOptions == nullptr || pEntry == nullptr || buffer == nullptr || size == 0) return RES_PARAMETER;
    char time[kTimestampSize];
    LogFormatTimestamp(pOptions, pEntry, time, sizeof time);
    const char* prefix = class_prefix(pEntry->ClassId);
    char text[LOG_INFO_TEXT_SIZE + 1] = {}; // a caller's record may lack the terminator
    std::memcpy(text, pEntry->InfoText, LOG_INFO_TEXT_SIZE);
    RTS_RESULT r;
    if ((pOptions->Type & LOG_SHORT_FORMAT) != 0)
        r = CMUtlsnprintf(buffer, size, "%s, %s%s", time, prefix, text);
    else
        r = CMUtlsnprintf(buffer, size, "%s, 0x%08x, %d, %d, %u, %s%s", time, pEntry->CmpId,
                          static_cast<int>(pEntry->ClassId), static_cast<int>(pEntry->ErrorId),
                          pEntry->InfoId, prefix, text);
    if (r != RES_OK) return RES_BUFFERSIZE;
    strip_line_ends(buffer);
    return RES_OK;
}
