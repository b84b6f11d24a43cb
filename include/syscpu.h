/* Processor helpers (SysCpuHandling): atomic bit, add and compare-and-swap operations, sized
 * single accesses, frame-pointer stack walking, the break-point code, instruction-cache flushes
 * and calls of a function with a parameter block copied onto the stack. */
#ifndef SYSCPU_H
#define SYSCPU_H

#include "rts_types.h"

RTS_BEGIN_C

/* A captured processor context: instruction pointer, frame pointer, stack pointer. */
typedef struct {
    RTS_UI64 PC;
    RTS_UI64 BP;
    RTS_UI64 SP;
} RegContext;

/* The marker that a parameter-block call leaves on the stack, next to the frame pointer of the
 * frame that made the call. */
#define SYSCPU_STACK_MARKER 0xCDE1F2CDCDE1F2CDull

/* Sets bit iBit (0..31) of the word; RES_OK when it was clear before, RES_FAILED when it was
 * already set, RES_PARAMETER for a null word or a bit number out of range. */
RTS_RESULT SysCpuTestAndSet(RTS_UI32* pulValue, RTS_I32 iBit);
/* Clears bit iBit (0..31); RES_OK when it was set before, RES_FAILED when it was clear. */
RTS_RESULT SysCpuTestAndReset(RTS_UI32* pulValue, RTS_I32 iBit);
/* Sets (bSet != 0) or clears one bit of a value of nLen bytes (1, 2, 4 or 8) at any address;
 * results as SysCpuTestAndSet / SysCpuTestAndReset. The bit of an address that is not a multiple
 * of 4 is counted from its aligned word, continuing into the next word. */
RTS_RESULT SysCpuTestAndSetBit(void* pAddress, RTS_UI32 nLen, RTS_I32 iBit, RTS_I32 bSet);
RTS_RESULT SysCpuTestAndSetBit2(void* pAddress, RTS_UI32 nLen, RTS_I32 iBit, RTS_I32 bSet);

/* Adds nSum to the 32-bit value with full ordering and returns the new value. *pResult (optional)
 * receives RES_OK, or RES_PARAMETER for a null value (then 0 is returned). */
RTS_I32 SysCpuAtomicAdd(RTS_I32* pValue, RTS_I32 nSum, RTS_RESULT* pResult);
/* The same for a 64-bit value, through a compare-and-swap loop. */
RTS_I64 SysCpuAtomicAdd64(RTS_I64* pValue, RTS_I64 nSum, RTS_RESULT* pResult);
/* Stores *pxNew at pAddress when it holds *pxCompare; nLen is 4 or 8. RES_OK when stored,
 * RES_FAILED when the value differed, RES_PARAMETER for null pointers or other sizes. */
RTS_RESULT SysCpuAtomicCompareAndSwap(void* pAddress, const void* pxNew, const void* pxCompare,
                                      RTS_SIZE nLen);

/* Single 64-bit reads and writes; a null address gives RES_PARAMETER (a read then gives 0). */
RTS_I64 SysCpuReadInt64(const RTS_I64* pAddress, RTS_RESULT* pResult);
RTS_RESULT SysCpuWriteInt64(RTS_I64* pAddress, RTS_I64 value);
RTS_REAL64 SysCpuReadReal64(const RTS_REAL64* pAddress, RTS_RESULT* pResult);
RTS_RESULT SysCpuWriteReal64(RTS_REAL64* pAddress, RTS_REAL64 value);
/* Copy one value of 1, 2, 4 or 8 bytes with a single access of that width (read from pSource
 * into pDest, or write pSource to pDest); other sizes or null pointers give RES_PARAMETER. */
RTS_RESULT SysCpuReadValueAtomic(const void* pSource, void* pDest, RTS_SIZE nLen);
RTS_RESULT SysCpuWriteValueAtomic(void* pDest, const void* pSource, RTS_SIZE nLen);

/* Stores value at index of a 64-bit register array; RES_PARAMETER for null or a negative index. */
RTS_RESULT SysCpuSetRegisterValue(RTS_UI64* pRegBuff, RTS_I32 index, RTS_UI64 value);
/* Captures the frame pointer and stack pointer of the caller's frame; the instruction pointer
 * is 0. Walking from the frame pointer needs code built with frame pointers. */
RTS_RESULT SysCpuGetContext(RegContext* pContext);
/* One step of a frame-pointer walk: gives the return address of the frame at *pBP and moves
 * *pBP to the saved frame pointer. An unreadable frame gives RES_NOMEMORY and *pBP = 0; no
 * frame (null or zero) gives RES_PARAMETER. */
RTS_RESULT SysCpuGetCallstackEntry(RTS_UINTPTR* pBP, void** ppAddress);
/* As SysCpuGetCallstackEntry; mode 0 gives RES_NOTIMPLEMENTED. */
RTS_RESULT SysCpuGetCallstackEntry2(RTS_I32 mode, RTS_UINTPTR* pBP, void** ppAddress);
/* The same for frames of application code: needs the application component; without it
 * RES_NOTSUPPORTED. */
RTS_RESULT SysCpuGetCallstackEntry3(RTS_UINTPTR* pBP, void** ppAddress);
/* The 64-bit value at offset 16 of the memory the context's PC field points to, when readable;
 * else RES_PARAMETER. */
RTS_RESULT SysCpuGetInstancePointer(const RegContext* pContext, RTS_UI64* pInstance);
/* Walks upwards from pStart in 8-byte steps while memory is readable and returns the address of
 * the first 64-bit word equal to pattern; none: null and RES_NOMEMORY. */
void* SysCpuSearchOnStack_(void* pStart, RTS_UI64 pattern, RTS_RESULT* pResult);
/* The break-point instruction: code 0x0B0F (bytes 0F 0B), length 2. */
RTS_RESULT SysCpuGetBreakpointCode(RTS_UI16* pCode, RTS_UI32* pLength);
/* Flushes the instruction cache for a range of the current process: RES_OK or RES_FAILED. */
RTS_RESULT SysCpuFlushInstructionCache(void* pBaseAddress, RTS_SIZE size);
/* Copies the parameter block into an area on the stack (size rounded up to 16), calls
 * pfFunction with the area and copies the area back. RES_PARAMETER for a null function or a
 * block pointer whose presence does not match a non-zero size. */
RTS_RESULT SysCpuCallIecFuncWithParams(RTS_VOID_FCTPTR pfFunction, void* pParam, RTS_SIZE size);
/* There is no monitoring area: always null. */
void* SysCpuGetMonitoringBase(void);

/* Parameter records of the lower-case wrappers: the arguments in order, then the result. */
typedef struct {
    RTS_I32* pValue;
    RTS_I32 nSum;
    RTS_RESULT* pResult;
    RTS_I32 SysCpuAtomicAdd;
} syscpuatomicadd_struct;
typedef struct {
    RTS_I64* pValue;
    RTS_I64 nSum;
    RTS_RESULT* pResult;
    RTS_I64 SysCpuAtomicAdd64;
} syscpuatomicadd64_struct;
typedef struct {
    void* pAddress;
    const void* pxNew;
    const void* pxCompare;
    RTS_SIZE nLen;
    RTS_RESULT SysCpuAtomicCompareAndSwap;
} syscpuatomiccompareandswap_struct;
typedef struct {
    RTS_VOID_FCTPTR pfFunction;
    void* pParam;
    RTS_SIZE size;
    RTS_RESULT SysCpuCallIecFuncWithParams;
} syscpucalliecfuncwithparams_struct;
typedef struct {
    RTS_UI32* pulValue;
    RTS_I32 iBit;
    RTS_RESULT SysCpuTestAndSet;
} syscputestandset_struct;
typedef struct {
    RTS_UI32* pulValue;
    RTS_I32 iBit;
    RTS_RESULT SysCpuTestAndReset;
} syscputestandreset_struct;
typedef struct {
    void* pAddress;
    RTS_UI32 nLen;
    RTS_I32 iBit;
    RTS_I32 bSet;
    RTS_RESULT SysCpuTestAndSetBit;
} syscputestandsetbit_struct;

/* Lower-case wrappers: each reads its record, calls the function above and stores the result. */
void syscpuatomicadd(syscpuatomicadd_struct* p);
void syscpuatomicadd64(syscpuatomicadd64_struct* p);
void syscpuatomiccompareandswap(syscpuatomiccompareandswap_struct* p);
void syscpucalliecfuncwithparams(syscpucalliecfuncwithparams_struct* p);
void syscputestandset(syscputestandset_struct* p);
void syscputestandreset(syscputestandreset_struct* p);
void syscputestandsetbit(syscputestandsetbit_struct* p);
/* Debug entry of the control-language side; there is no debugger here, so it does nothing. */
void syscpudebughandler(void* p);

RTS_END_C

#endif
