/* Utility library of the component manager: bounded string copies and compares, 16-bit
 * strings, the single-byte code page, UTF-8/UTF-16 conversion, the bounded formatter, number
 * texts, memory copies, versions, GUID texts and byte arrays. Every component uses these
 * instead of the C library's string functions, so that a buffer size is always passed and a
 * cut copy is always terminated and reported with RES_BUFFERSIZE. */
#ifndef CMUTILS_H
#define CMUTILS_H

#include <stdarg.h>

#include "cm.h"
#include "rts_types.h"
#include "systimertc.h"

RTS_BEGIN_C

/* ---- 8-bit strings (sizes are buffer sizes in bytes, terminator included) ---------------- */

/* Copies at most size-1 characters and terminates; RES_PARAMETER for a null pointer or size 0,
 * RES_BUFFERSIZE when the source did not fit. */
RTS_RESULT CMUtlSafeStrCpy(char* dest, RTS_SIZE size, const char* source);
/* Same as CMUtlSafeStrCpy. */
RTS_RESULT CMUtlSafeStrCpy2(char* dest, RTS_SIZE size, const char* source);
/* Copies at most n characters and at most size-1, terminates; RES_BUFFERSIZE whenever size < n,
 * however long the source is. */
RTS_RESULT CMUtlSafeStrNCpy(char* dest, RTS_SIZE size, const char* source, RTS_SIZE n);
/* Appends what fits and terminates; RES_BUFFERSIZE when length(dest)+length(source)+1 > size. */
RTS_RESULT CMUtlSafeStrCat(char* dest, RTS_SIZE size, const char* source);
/* Length of s; 0 for null. */
RTS_SIZE CMUtlStrLen(const char* s);
/* Length of s but at most n; 0 for null or n = 0. */
RTS_SIZE CMUtlStrNLen(const char* s, RTS_SIZE n);
/* Case-insensitive compare: the difference of the lower-cased characters at the first mismatch;
 * when a string ends first 1 (s1 longer) or -1 (s2 longer); -1 if either is null. */
int CMUtlStrICmp(const char* s1, const char* s2);
/* CMUtlStrICmp over at most n characters; a string that ends before n gives the raw difference
 * of the two next characters; -1 for null. */
int CMUtlStrNICmp(const char* s1, const char* s2, RTS_SIZE n);
/* First case-insensitive occurrence of needle, or null (also for null arguments and an empty
 * haystack); an empty needle gives the haystack. */
char* CMUtlStrIStr(const char* haystack, const char* needle);
/* Searches backwards from `from` down to `start` for c; null when absent or from < start. */
char* CMUtlStrRChr(const char* start, const char* from, char c);
/* Lower / upper case in place; return s (null for null). */
char* CMUtlStrToLower(char* s);
char* CMUtlStrToUpper(char* s);
char* CMUtlStrlwr(char* s);
char* CMUtlStrupr(char* s);
/* Reverses s in place and returns it; null gives null. */
char* CMUtlStrrev(char* s);
/* First character of s that is neither space nor tab; null gives null. */
char* CMUtlSkipWhiteSpace(const char* s);

/* ---- 16-bit strings: the w family (platform wide text) and the cw family (control-language
 * text) share the layout; sizes are in units, terminator included ---------------------------- */

/* Units before the terminator; 0 for null. */
RTS_SIZE CMUtlwstrlen(const RTS_WCHAR* s);
RTS_SIZE CMUtlcwstrlen(const RTS_WCHAR* s);
/* Copies at most size-1 units and terminates; RES_PARAMETER for null or size 0.
 * The w copy reports a cut with RES_BUFFERSIZE, the cw copy does not. */
RTS_RESULT CMUtlwstrcpy(RTS_WCHAR* dest, RTS_SIZE size, const RTS_WCHAR* source);
RTS_RESULT CMUtlcwstrcpy(RTS_WCHAR* dest, RTS_SIZE size, const RTS_WCHAR* source);
/* Copies at most n units and at most size-1, terminates; 0 when n units were copied, else 1. */
RTS_RESULT CMUtlwstrncpy(RTS_WCHAR* dest, RTS_SIZE size, const RTS_WCHAR* source, RTS_SIZE n);
RTS_RESULT CMUtlcwstrncpy(RTS_WCHAR* dest, RTS_SIZE size, const RTS_WCHAR* source, RTS_SIZE n);
/* Appends all of source or nothing: RES_OK, or RES_BUFFERSIZE (w) / RES_PARAMETER (cw) when the
 * result would not fit; RES_PARAMETER for null. */
RTS_RESULT CMUtlwstrcat(RTS_WCHAR* dest, RTS_SIZE size, const RTS_WCHAR* source);
RTS_RESULT CMUtlcwstrcat(RTS_WCHAR* dest, RTS_SIZE size, const RTS_WCHAR* source);
/* Difference of the first differing units (unsigned); 0 when equal or either is null. */
int CMUtlwstrcmp(const RTS_WCHAR* s1, const RTS_WCHAR* s2);
int CMUtlcwstrcmp(const RTS_WCHAR* s1, const RTS_WCHAR* s2);
int CMUtlwstrncmp(const RTS_WCHAR* s1, const RTS_WCHAR* s2, RTS_SIZE n);
/* First unit equal to c before the terminator, or null. */
RTS_WCHAR* CMUtlwstrchr(const RTS_WCHAR* s, RTS_WCHAR c);
RTS_WCHAR* CMUtlcwstrchr(const RTS_WCHAR* s, RTS_WCHAR c);
/* ASCII case change in place; return s (null for null). */
RTS_WCHAR* CMUtlwtolower(RTS_WCHAR* s);
RTS_WCHAR* CMUtlcwtolower(RTS_WCHAR* s);
RTS_WCHAR* CMUtlwtoupper(RTS_WCHAR* s);
RTS_WCHAR* CMUtlcwtoupper(RTS_WCHAR* s);

/* ---- single-byte code page <-> 16-bit text ------------------------------------------------
 * RES_PARAMETER for null or size 0, 1 when the source did not fit, else 0; always terminated. */

/* Each byte through the code page (0x80-0x9F as in Windows-1252, the rest as is). */
RTS_RESULT CMUtlStrToW(const char* source, RTS_WCHAR* dest, RTS_SIZE size);
RTS_RESULT CMUtlStrToCW(const char* source, RTS_WCHAR* dest, RTS_SIZE size);
/* Each unit back through the code page; units it cannot give keep their low byte. */
RTS_RESULT CMUtlWToStr(const RTS_WCHAR* source, char* dest, RTS_SIZE size);
/* Each unit's low byte. */
RTS_RESULT CMUtlCWToStr(const RTS_WCHAR* source, char* dest, RTS_SIZE size);

/* ---- UTF-8 and UTF-16 ----------------------------------------------------------------------
 * Lengths and sizes in bytes (UTF-8) or units (UTF-16). RES_PARAMETER for a null pointer or a
 * zero length/size; RES_BUFFERSIZE when the output was cut; RES_CHARS_REPLACED when invalid
 * input became U+FFFD. A conversion that stops at a NUL or a full buffer terminates the output;
 * one that ends because the source length was used up writes no terminator. */
RTS_RESULT CMUtlUtf8ToW(const char* source, RTS_SIZE sourceLength, RTS_WCHAR* dest, RTS_SIZE destSize);
RTS_RESULT CMUtlWToUtf8(const RTS_WCHAR* source, RTS_SIZE sourceLength, char* dest, RTS_SIZE destSize);
/* RES_OK, RES_PARAMETER for null, or RES_INVALID_ENCODING for the first bad sequence within
 * length (or before a NUL). */
RTS_RESULT CMUtlCheckUtf8Encoding(const char* s, RTS_SIZE length);
RTS_RESULT CMUtlCheckUtf16Encoding(const RTS_WCHAR* s, RTS_SIZE length);

/* ---- formatting: the C library's conversions, output always terminated at size-1 ---------- */

/* RES_PARAMETER for null/size 0; RES_OK when the whole output fit, else RES_BUFFERSIZE. */
RTS_RESULT CMUtlsnprintf(char* buffer, RTS_SIZE size, const char* format, ...);
RTS_RESULT CMUtlvsnprintf(char* buffer, RTS_SIZE size, const char* format, va_list* pArgs);
/* Returns the length of the full output (-1 on a format error); *pResult RES_OK when
 * 1 <= length < size, else RES_BUFFERSIZE. Null buffer, size 0 or null format: returns 2 and
 * leaves *pResult. */
int CMUtlsnprintf2(char* buffer, RTS_SIZE size, RTS_RESULT* pResult, const char* format, ...);
/* As CMUtlsnprintf2 with a pointer to an argument list; a null buffer, format or list returns 0
 * with *pResult RES_PARAMETER. */
int CMUtlvsnprintf2(char* buffer, RTS_SIZE size, RTS_RESULT* pResult, const char* format, va_list* pArgs);

/* ---- numbers, memory, versions ------------------------------------------------------------ */

/* Value as text in radix 2..36 (upper-case digits); radix 16 always carries "0x", radix 10
 * a "-" for negatives (CMUtlLtoa). Returns buffer (null for null/size 0); *pResult RES_OK, or
 * RES_PARAMETER for a bad radix ("0") or too small a buffer (""). */
char* CMUtlLtoa(RTS_I32 value, char* buffer, RTS_SIZE size, int radix, RTS_RESULT* pResult);
char* CMUtlUltoa(RTS_UI32 value, char* buffer, RTS_SIZE size, int radix, RTS_RESULT* pResult);
/* Copies n bytes (the areas must not overlap); returns dest. */
void* CMUtlMemCpy(void* dest, const void* source, RTS_SIZE n);
/* RES_PARAMETER for null pointers or destSize < n, else copies (move: overlap allowed). */
RTS_RESULT CMUtlSafeMemCpy(void* dest, RTS_SIZE destSize, const void* source, RTS_SIZE n);
RTS_RESULT CMUtlSafeMemMove(void* dest, RTS_SIZE destSize, const void* source, RTS_SIZE n);
/* Version 0xMMmmppbb as text "M.m.p.b" (through CMUtlsnprintf). */
RTS_RESULT CMUtlVersionToString(RTS_UI32 version, char* buffer, RTS_SIZE size);
/* Reads four dotted decimal numbers; the low byte of each, first in the top byte; RES_FAILED
 * for fewer than four, RES_PARAMETER for null. */
RTS_RESULT CMUtlStringToVersion(const char* text, RTS_UI32* pVersion);
/* The framework's build date and time ("May 20 2025", "18:05:16") with day of week and day of
 * year; RES_PARAMETER for null, RES_FAILED when the texts cannot be read. */
RTS_RESULT CMUtlGetBuildDate(RTS_SYSTIMEDATE* pDate);

/* ---- parameter records of the control-language wrappers: the arguments in order, then the
 * result the wrapper writes ---------------------------------------------------------------- */

typedef struct {
    char* dest;
    RTS_SIZE size;
    const char* source;
    RTS_UI32 result;
} CMUtlSafeStrCpyParams;

typedef struct {
    const char* s1;
    const char* s2;
    RTS_I32 result;
} CMUtlStrICmpParams;

typedef struct {
    RTS_WCHAR* dest;
    RTS_SIZE size;
    const RTS_WCHAR* source;
    RTS_RESULT result;
} CMUtlWStrCpyParams;

typedef struct {
    const char* source;
    RTS_SIZE sourceLength;
    RTS_WCHAR* dest;
    RTS_SIZE destSize;
    RTS_RESULT result;
} CMUtlUtf8ToWParams;

typedef struct {
    const RTS_WCHAR* source;
    RTS_SIZE sourceLength;
    char* dest;
    RTS_SIZE destSize;
    RTS_RESULT result;
} CMUtlWToUtf8Params;

/* Each calls the function of its name with the record's arguments and stores the result in it;
 * a null record is ignored. */
void cmutlsafestrcpy(CMUtlSafeStrCpyParams* p);
void cmutlstricmp(CMUtlStrICmpParams* p);
void cmutlwstrcpy(CMUtlWStrCpyParams* p);
void cmutlcwstrcpy(CMUtlWStrCpyParams* p);
void cmutlutf8tow(CMUtlUtf8ToWParams* p);
void cmutlwtoutf8(CMUtlWToUtf8Params* p);

/* Every CMUtl* function of this library under its own name (signature id 0, version 0); the
 * manager registers it as part of its function table. */
extern const CMExportEntry CMUtlExportTable[];

RTS_END_C

#endif
