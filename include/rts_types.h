/* Basic types, result codes and handles shared by every component and by code that is not
 * C++: fixed-width integers, the 16-bit character, GUIDs, pointer-sized handles. */
#ifndef RTS_TYPES_H
#define RTS_TYPES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define RTS_EXTERN_C extern "C"
#define RTS_BEGIN_C extern "C" {
#define RTS_END_C }
#else
#define RTS_EXTERN_C
#define RTS_BEGIN_C
#define RTS_END_C
#endif

typedef int8_t RTS_I8;
typedef int16_t RTS_I16;
typedef int32_t RTS_I32;
typedef int64_t RTS_I64;
typedef uint8_t RTS_UI8;
typedef uint16_t RTS_UI16;
typedef uint32_t RTS_UI32;
typedef uint64_t RTS_UI64;
typedef intptr_t RTS_INTPTR;
typedef uintptr_t RTS_UINTPTR;
typedef size_t RTS_SIZE;
typedef ptrdiff_t RTS_SSIZE;
typedef double RTS_REAL64;
typedef char RTS_CSTRING;
#ifdef __cplusplus
typedef char16_t RTS_WCHAR; /* UTF-16 code unit on every platform */
#else
typedef uint16_t RTS_WCHAR;
#endif

typedef struct {
    RTS_UI32 Data1;
    RTS_UI16 Data2;
    RTS_UI16 Data3;
    RTS_UI8 Data4[8];
} RTS_GUID;

/* Every operation that can fail answers one of these; 0 is success. */
typedef RTS_UI32 RTS_RESULT;

#define RES_OK 0u
#define RES_FAILED 1u
#define RES_PARAMETER 2u
#define RES_NOTINITIALIZED 3u
#define RES_TIMEOUT 5u
#define RES_NO_RESOURCES 6u
#define RES_PENDING 10u
#define RES_NOTIMPLEMENTED 12u
#define RES_BUFFERSIZE 15u
#define RES_NO_OBJECT 16u
#define RES_NOMEMORY 17u
#define RES_DUPLICATE 18u
#define RES_INVALID_HANDLE 20u
#define RES_NOMOREENTRIES 21u
#define RES_NOCHANGE 22u
#define RES_NOTSUPPORTED 24u
#define RES_NO_ACCESS 25u
#define RES_SIGNATUREMISMATCH 30u
#define RES_VERSIONMISMATCH 31u
#define RES_BUSY 34u
#define RES_EXCEPTION 36u
#define RES_NOT_LOCKED 37u
#define RES_NOT_ALLOWED 39u
#define RES_DISK_FULL 41u
#define RES_WRITE_PROTECTED 50u
#define RES_UNDERFLOW 52u
#define RES_OVERFLOW 53u
#define RES_INVALID_FORMAT 54u
#define RES_ALREADY 56u
#define RES_CHARS_REPLACED 60u
#define RES_INVALID_ENCODING 72u

/* Pointer-sized opaque handle; the invalid one has every bit set. */
typedef void* RTS_HANDLE;
#define RTS_INVALID_HANDLE ((RTS_HANDLE)(~(RTS_UINTPTR)0))

/* Export tables hold functions of every signature under this one pointer type. */
typedef void (*RTS_VOID_FCTPTR)(void);

#endif
