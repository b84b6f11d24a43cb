/* Logging (CmpLog): LogAdd and the early buffer that holds entries until the standard logger
 * exists. */
#ifndef CMPLOG_H
#define CMPLOG_H

#include <stdarg.h>

#include "rts_types.h"

RTS_BEGIN_C

#define LOG_INFO 1u
#define LOG_WARNING 2u
#define LOG_ERROR 4u
#define LOG_EXCEPTION 8u
#define LOG_DEBUG 16u
#define LOG_PRINTF 32u
#define LOG_COM 64u
#define LOG_TIMEREL 128u
#define LOG_USERNOTIFY 0x10000u

#define LOG_INFO_TEXT_SIZE 128
#define LOG_EARLY_BUFFER_SLOTS 500

/* The public entry record (152 bytes). */
typedef struct {
    RTS_UI64 Timestamp;
    RTS_UI32 CmpId;
    RTS_UI32 ClassId;
    RTS_UI32 ErrorId;
    RTS_UI32 InfoId;
    char InfoText[LOG_INFO_TEXT_SIZE];
} LogEntry;

/* Adds one entry; logger 0 is the standard logger. The format is printf-style. */
RTS_RESULT LogAdd(RTS_HANDLE hLogger, RTS_UI32 cmpId, RTS_UI32 classId, RTS_RESULT errorId, RTS_UI32 infoId,
                  const char* format, ...);
RTS_RESULT LogAddArg(RTS_HANDLE hLogger, RTS_UI32 cmpId, RTS_UI32 classId, RTS_RESULT errorId,
                     RTS_UI32 infoId, const char* format, va_list* pArgs);

/* Reading the early buffer: the number of entries it holds and the n-th of them, oldest
 * first (RES_NOMOREENTRIES past the last). */
int LogEarlyBufferCount(void);
RTS_RESULT LogEarlyBufferGet(int n, LogEntry* pEntry);
/* Empties the early buffer. */
void LogEarlyBufferClear(void);

RTS_END_C

#endif
