/* Utility library of the component manager: bounded string copies and compares, 16-bit
 * strings, UTF-8/UTF-16 conversion, the bounded formatter, number texts, memory copies,
 * versions, GUID texts and byte arrays. Every component uses these instead of the C library's
 * string functions. */
#ifndef CMUTILS_H
#define CMUTILS_H

#include <stdarg.h>

#include "rts_types.h"

RTS_BEGIN_C

/* Copies at most size-1 characters and terminates; RES_BUFFERSIZE when cut. */
RTS_RESULT CMUtlSafeStrCpy(char* dest, RTS_SIZE size, const char* source);
/* Compares without regard to the case of A..Z / a..z. */
int CMUtlStrICmp(const char* s1, const char* s2);
/* Bounded printf-style formatting: always terminated; RES_BUFFERSIZE when cut. */
RTS_RESULT CMUtlsnprintf(char* buffer, RTS_SIZE size, const char* format, ...);
RTS_RESULT CMUtlvsnprintf(char* buffer, RTS_SIZE size, const char* format, va_list args);

RTS_END_C

#endif
