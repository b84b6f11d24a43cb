/* Logging (CmpLog): named loggers, each with a lock-free ring of entries in memory, a class
 * filter, option bits and up to three backends that copy entries out of the ring; the
 * per-component filter record; the text forms of an entry. Entries added before the loggers
 * exist collect in an early buffer that the standard logger adopts. */
#ifndef CMPLOG_H
#define CMPLOG_H

#include <stdarg.h>

#include "rts_types.h"
#include "systimertc.h"

RTS_BEGIN_C

/* ---- classes: an entry carries one, filters are masks of them ----------------------------- */
#define LOG_INFO 1u
#define LOG_WARNING 2u
#define LOG_ERROR 4u
#define LOG_EXCEPTION 8u
#define LOG_DEBUG 16u
#define LOG_PRINTF 32u
#define LOG_COM 64u
#define LOG_TIMEREL 128u
#define LOG_USERNOTIFY 0x10000u /* or-ed into a class: the entry becomes the pending notification */

/* ---- option bits of LogOptions.Type -------------------------------------------------------- */
#define LOG_TYPE_HIGHSPEED 0x1u
#define LOG_TYPE_SAFE 0x2u
#define LOG_TYPE_NORMAL 0x4u
#define LOG_LOCALTIME 0x8u
#define LOG_TS_RTC 0x10u
#define LOG_TS_MS 0x20u
#define LOG_TS_US 0x40u
#define LOG_TS_NS 0x80u
#define LOG_NOT_DISABLEABLE 0x100u
#define LOG_DUMP_CYCLIC 0x200u
#define LOG_DUMP_ALWAYS 0x400u
#define LOG_DUMP_ON_CLOSE 0x800u
#define LOG_DUMP_ON_REQUEST 0x1000u
#define LOG_TS_RTC_HIGHRES 0x2000u
#define LOG_SHORT_FORMAT 0x4000u
#define LOG_FLUSH_EACH 0x8000u

/* What every logger this system creates starts with. */
#define LOG_DEFAULT_TYPE (LOG_TS_RTC_HIGHRES | LOG_DUMP_CYCLIC | LOG_NOT_DISABLEABLE | LOG_TYPE_NORMAL)
#define LOG_DEFAULT_FILTER (LOG_INFO | LOG_WARNING | LOG_ERROR | LOG_EXCEPTION | LOG_PRINTF | LOG_USERNOTIFY)
#define LOG_STD_LOGGER_NAME "PlcLog"

#define LOG_INFO_TEXT_SIZE 128
#define LOG_EARLY_BUFFER_SLOTS 500

/* The class the component registers with the manager and the interface its instance answers;
 * the interface every backend class answers; the backend registered on a standard logger
 * that has none. */
#define LOG_CLASSID 21u
#define LOG_INTERFACE_ID 10u
#define LOG_BACKEND_INTERFACE_ID 22u
#define LOG_BACKEND_CLASS_DEFAULT 0x10Bu

/* ---- records ----------------------------------------------------------------------------- */

/* The public entry record (152 bytes). */
typedef struct {
    RTS_UI64 Timestamp;
    RTS_UI32 CmpId;
    RTS_UI32 ClassId;
    RTS_UI32 ErrorId;
    RTS_UI32 InfoId;
    char InfoText[LOG_INFO_TEXT_SIZE];
} LogEntry;

/* A logger's options; the first part of every logger object (64 bytes). */
typedef struct {
    char Name[32];
    RTS_UI32 Enable;
    RTS_UI32 Type;
    RTS_UI32 Filter;
    RTS_I32 MaxEntries;
    RTS_I32 MaxFileSize;
    RTS_I32 MaxFiles;
    char* Path; /* the logger owns a heap copy */
} LogOptions;

/* Filled by LogGetFilter2 for one component, consumed by LogAdd2 and LogAdd3. */
typedef struct {
    RTS_HANDLE hLogger;
    RTS_UI32 CmpId;
    RTS_UI32 Filter;
    RTS_UI32 Mask;
} LogComponentFilter;

/* Posted with every added entry when the event service exists. */
typedef struct {
    RTS_HANDLE hLogger;
    RTS_UI32 CmpId;
    RTS_UI32 ClassId;
    RTS_UI32 ErrorId;
    RTS_UI32 InfoId;
    const char* pszInfo;
    va_list* pArgs;
} LogAddEventParam;

/* ---- backends ------------------------------------------------------------------------------ */
typedef struct ILogBackend ILogBackend;

/* The object a backend class creates: its query (the fifth pointer-sized field) answers
 * LOG_BACKEND_INTERFACE_ID with an ILogBackend; the logger stores the class id and the handle
 * BackendOpen returned in it. */
typedef struct {
    void* reserved[4];
    void* (*QueryInterface)(void* object, RTS_UI32 interfaceId, RTS_RESULT* pResult);
    RTS_I32 references;
    RTS_UI32 ClassId;
    RTS_HANDLE hBackend;
} LogBackendInstance;

/* The backend interface, its operations after the instance pointer. BackendOpen reads the
 * logger's options and answers a backend handle (invalid: all ones); BackendClose answers
 * RES_OK when the instance may be deleted; BackendDumpEntry answers the handle to use from then
 * on and stops the dump with a non-zero result. */
struct ILogBackend {
    LogBackendInstance* pInstance;
    RTS_HANDLE (*BackendOpen)(LogBackendInstance* pInstance, RTS_UI32 classId, RTS_HANDLE hLogger);
    RTS_RESULT (*BackendClose)(RTS_HANDLE hBackend, ILogBackend* pItf);
    RTS_HANDLE(*BackendDumpEntry)
    (RTS_HANDLE hBackend, RTS_HANDLE hLogger, const LogEntry* pEntry, RTS_RESULT* pResult);
};

/* ---- loggers --------------------------------------------------------------------------------
 * Logger arguments take 0 for the standard logger; all ones is invalid (RES_PARAMETER). */

/* An existing logger of that name, else a new one (RES_NOTINITIALIZED before the logger pool,
 * RES_NOMEMORY when no block or ring can be had). */
RTS_HANDLE LogCreate(const LogOptions* pOptions, RTS_RESULT* pResult);
/* "PlcLog" and "" name the standard logger; others are compared case-sensitively. */
RTS_HANDLE LogOpen(const char* name, RTS_RESULT* pResult);
RTS_RESULT LogClose(RTS_HANDLE hLogger);
/* Disables, dumps when LOG_DUMP_ON_CLOSE, unregisters the backends and frees the logger. */
RTS_RESULT LogDelete(RTS_HANDLE hLogger);
RTS_HANDLE LogGetFirstLogger(RTS_RESULT* pResult);
RTS_HANDLE LogGetNextLogger(RTS_HANDLE hLogger, RTS_RESULT* pResult);
RTS_RESULT LogGetName(RTS_HANDLE hLogger, char* buffer, RTS_SIZE size);
/* Hands out the logger's own options record, not a copy. */
RTS_RESULT LogGetOptions(RTS_HANDLE hLogger, LogOptions** ppOptions);
/* RES_FAILED for a logger with LOG_NOT_DISABLEABLE. */
RTS_RESULT LogEnable(RTS_HANDLE hLogger);
RTS_RESULT LogDisable(RTS_HANDLE hLogger);
RTS_RESULT LogSetFilter(RTS_HANDLE hLogger, RTS_UI32 filter);
RTS_UI32 LogGetFilter(RTS_HANDLE hLogger);
/* Fills the record for one component from the logger's filter and the settings
 * "<component>.Filter" and "<component>.Mask" of CmpLog. */
LogComponentFilter* LogGetFilter2(LogComponentFilter* pFilter, RTS_HANDLE hLogger, RTS_UI32 cmpId,
                                  RTS_RESULT* pResult);

/* ---- adding entries -------------------------------------------------------------------------
 * The text is formatted printf-style into 128 bytes; a cut text is stored and answered with
 * RES_BUFFERSIZE. LogAdd applies the logger's filter; LogAdd2 and LogAdd3 the component's. */
RTS_RESULT LogAdd(RTS_HANDLE hLogger, RTS_UI32 cmpId, RTS_UI32 classId, RTS_RESULT errorId, RTS_UI32 infoId,
                  const char* format, ...);
RTS_RESULT LogAddArg(RTS_HANDLE hLogger, RTS_UI32 cmpId, RTS_UI32 classId, RTS_RESULT errorId,
                     RTS_UI32 infoId, const char* format, va_list* pArgs);
RTS_RESULT LogAdd2(const LogComponentFilter* pFilter, RTS_UI32 classId, RTS_RESULT errorId, RTS_UI32 infoId,
                   const char* format, ...);
RTS_RESULT LogAdd2Arg(const LogComponentFilter* pFilter, RTS_UI32 classId, RTS_RESULT errorId,
                      RTS_UI32 infoId, const char* format, va_list* pArgs);
RTS_RESULT LogAdd3(const LogComponentFilter* pFilter, RTS_UI32 classId, RTS_UI32 subFilter,
                   RTS_RESULT errorId, RTS_UI32 infoId, const char* format, ...);
RTS_RESULT LogAdd3Arg(const LogComponentFilter* pFilter, RTS_UI32 classId, RTS_UI32 subFilter,
                      RTS_RESULT errorId, RTS_UI32 infoId, const char* format, va_list* pArgs);
/* Formats into the caller's buffer and sets *pLength to the formatter's count plus 1. */
RTS_RESULT LogCopyInfo(RTS_HANDLE hLogger, const char* format, va_list* pArgs, char* buffer,
                       RTS_I32* pLength);

/* ---- reading entries: each copies a LogEntry; indices are ring slots ------------------------- */
int LogGetFirstEntry(RTS_HANDLE hLogger, LogEntry* pEntry, RTS_RESULT* pResult);
int LogGetNextEntry(RTS_HANDLE hLogger, int index, LogEntry* pEntry, RTS_RESULT* pResult);
/* The n-th entry from the oldest (0 = oldest). */
int LogGetEntryByIndex(RTS_HANDLE hLogger, int n, LogEntry* pEntry, RTS_RESULT* pResult);
/* Reads that slot and answers the following one. */
int LogGetEntryByQueueIndex(RTS_HANDLE hLogger, int index, LogEntry* pEntry, RTS_RESULT* pResult);
RTS_RESULT LogGetEntry(RTS_HANDLE hLogger, int index, LogEntry* pEntry);

/* The pending user notification, handed out once (RES_NO_OBJECT when none). */
RTS_RESULT LogGetUserNotify(LogEntry* pEntry);
RTS_RESULT LogGetUserNotify2(RTS_HANDLE* phLogger, LogEntry* pEntry);

/* ---- dumping and backends ------------------------------------------------------------------ */
/* Hands every entry a backend has not seen to it, in ring order; 4 per backend per pass on a
 * LOG_DUMP_CYCLIC logger. RES_OK at once while another dump of the logger runs. */
RTS_RESULT LogDumpEntries(RTS_HANDLE hLogger);
/* LogDumpEntries for every enabled logger whose Type has a bit of the mask. */
RTS_RESULT LogDumpAll(RTS_UI32 typeMask);
/* All ones as logger: every logger. A class already in a slot: RES_DUPLICATE. */
RTS_RESULT LogRegisterBackend(RTS_HANDLE hLogger, RTS_UI32 classId);
RTS_RESULT LogUnregisterBackend(RTS_HANDLE hLogger, RTS_UI32 classId);
RTS_RESULT LogRegisterInterface(RTS_HANDLE hLogger, RTS_UI32 classId);
RTS_RESULT LogUnregisterInterface(RTS_HANDLE hLogger, ILogBackend* pItf);

/* ---- text forms of an entry ------------------------------------------------------------------ */
/* The date of a calendar timestamp; answers the logger's timestamp kind bit. */
RTS_UI32 LogConvertTimestamp(RTS_HANDLE hLogger, RTS_UI64 timestamp, RTS_SYSTIMEDATE* pDate,
                             RTS_RESULT* pResult);
/* ISO 8601 for calendar kinds, "%014llu" for microseconds and nanoseconds, else "%08u". */
RTS_RESULT LogFormatTimestamp(const LogOptions* pOptions, const LogEntry* pEntry, char* buffer,
                              RTS_SIZE size);
/* "time, 0xCmpId, class, error, info, prefix text" (LOG_SHORT_FORMAT: "time, prefix text"),
 * trailing line ends removed; RES_BUFFERSIZE when it does not fit. */
RTS_RESULT LogFormatCsvMessage(const LogOptions* pOptions, const LogEntry* pEntry, char* buffer,
                               RTS_SIZE size);

/* ---- the component's instance (class LOG_CLASSID): interface LOG_INTERFACE_ID -------------- */
typedef struct {
    RTS_HANDLE (*LogCreate)(const LogOptions* pOptions, RTS_RESULT* pResult);
    RTS_HANDLE (*LogOpen)(const char* name, RTS_RESULT* pResult);
    RTS_RESULT (*LogDelete)(RTS_HANDLE hLogger);
    RTS_RESULT (*LogGetOptions)(RTS_HANDLE hLogger, LogOptions** ppOptions);
    RTS_RESULT (*LogEnable)(RTS_HANDLE hLogger);
    RTS_RESULT (*LogDisable)(RTS_HANDLE hLogger);
    RTS_RESULT (*LogSetFilter)(RTS_HANDLE hLogger, RTS_UI32 filter);
    RTS_UI32 (*LogGetFilter)(RTS_HANDLE hLogger);
    RTS_RESULT(*LogAdd)
    (RTS_HANDLE hLogger, RTS_UI32 cmpId, RTS_UI32 classId, RTS_RESULT errorId, RTS_UI32 infoId,
     const char* format, ...);
    RTS_RESULT (*LogDumpAll)(RTS_UI32 typeMask);
    RTS_RESULT (*LogDumpEntries)(RTS_HANDLE hLogger);
} ILog;

typedef struct {
    void* reserved[4];
    void* (*QueryInterface)(void* object, RTS_UI32 interfaceId, RTS_RESULT* pResult);
    RTS_I32 references;
} LogInstance;

/* ---- parameter records of the lower-case wrappers: arguments in order, then the result ---- */
typedef struct {
    RTS_HANDLE hLogger;
    char unused[84];
    RTS_UI32 ClassId;
    RTS_UI32 ErrorId;
    RTS_UI32 InfoId;
    char InfoText[256];
    RTS_RESULT result;
} logadd_struct; /* CmpId is always 0x1000 */
typedef struct {
    RTS_HANDLE hLogger;
    RTS_UI32 CmpId;
    RTS_UI32 ClassId;
    RTS_UI32 ErrorId;
    RTS_UI32 InfoId;
    const char* pszInfo;
    RTS_RESULT result;
} logadd2_struct;
typedef struct {
    RTS_HANDLE hLogger;
    RTS_RESULT result;
} loghandle_struct; /* logclose, logdelete */
typedef struct {
    RTS_HANDLE hLogger;
    const char* format;
    va_list* pArgs;
    char* buffer;
    RTS_I32* pLength;
    RTS_RESULT result;
} logcopyinfo_struct;
typedef struct {
    const LogOptions* pOptions;
    RTS_RESULT* pResult;
    RTS_HANDLE result;
} logcreate_struct;
typedef struct {
    const char* name;
    RTS_RESULT* pResult;
    RTS_HANDLE result;
} logopen_struct;

void logadd(logadd_struct* p);
void logadd2(logadd2_struct* p);
void logclose(loghandle_struct* p);
void logcopyinfo(logcopyinfo_struct* p);
void logcreate(logcreate_struct* p);
void logdelete(loghandle_struct* p);
void logopen(logopen_struct* p);

RTS_END_C

#endif
