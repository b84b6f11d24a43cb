/* Exception mapping (SysExcept): the system's exception codes and their names, the mapping of
 * platform exception codes onto them, the table of registered exception handlers, the light
 * try/catch frame that code which must survive a fault runs in, and the raising of exceptions.
 *
 * A frame is used like this (the frame lives in the caller's stack frame):
 *
 *     SysExceptFrame frame = {};
 *     if (SYSEXCEPT_TRY(&frame) == 0) {
 *         ... code that may fault ...
 *     }
 *     if (SysExceptCatch(&frame) == 0) {
 *         ... frame.code holds the exception ...
 *     }
 *
 * Locals that the guarded code changes and the catch part reads must be volatile. */
#ifndef SYSEXCEPT_H
#define SYSEXCEPT_H

#include <setjmp.h>

#include "rts_types.h"
#include "syscpu.h"

RTS_BEGIN_C

/* The system's exception codes. */
#define RTSEXCPT_NOEXCEPTION 0x0000u
#define RTSEXCPT_WATCHDOG 0x0010u
#define RTSEXCPT_HARDWARE_WATCHDOG 0x0011u
#define RTSEXCPT_IO_CONFIG_ERROR 0x0012u
#define RTSEXCPT_PROGRAMCHECKSUM 0x0013u
#define RTSEXCPT_FIELDBUS_ERROR 0x0014u
#define RTSEXCPT_IOUPDATE_ERROR 0x0015u
#define RTSEXCPT_CYCLE_TIME_EXCEED 0x0016u
#define RTSEXCPT_ONLCHANGE_PROGRAM_EXCEEDED 0x0017u
#define RTSEXCPT_UNRESOLVED_EXTREFS 0x0018u
#define RTSEXCPT_DOWNLOAD_REJECTED 0x0019u
#define RTSEXCPT_BOOTPROJECT_REJECTED_DUE_RETAIN_ERROR 0x001Au
#define RTSEXCPT_LOADBOOTPROJECT_FAILED 0x001Bu
#define RTSEXCPT_OUT_OF_MEMORY 0x001Cu
#define RTSEXCPT_RETAIN_MEMORY_ERROR 0x001Du
#define RTSEXCPT_BOOTPROJECT_CRASH 0x001Eu
#define RTSEXCPT_BOOTPROJECTTARGETMISMATCH 0x0021u
#define RTSEXCPT_SCHEDULEERROR 0x0022u
#define RTSEXCPT_FILE_CHECKSUM_ERR 0x0023u
#define RTSEXCPT_RETAIN_IDENTITY_MISMATCH 0x0024u
#define RTSEXCPT_IEC_TASK_CONFIG_ERROR 0x0025u
#define RTSEXCPT_APP_TARGET_MISMATCH 0x0026u
#define RTSEXCPT_ILLEGAL_INSTRUCTION 0x0050u
#define RTSEXCPT_ACCESS_VIOLATION 0x0051u
#define RTSEXCPT_PRIV_INSTRUCTION 0x0052u
#define RTSEXCPT_IN_PAGE_ERROR 0x0053u
#define RTSEXCPT_STACK_OVERFLOW 0x0054u
#define RTSEXCPT_INVALID_DISPOSITION 0x0055u
#define RTSEXCPT_INVALID_HANDLE 0x0056u
#define RTSEXCPT_GUARD_PAGE 0x0057u
#define RTSEXCPT_DOUBLE_FAULT 0x0058u
#define RTSEXCPT_INVALID_OPCODE 0x0059u
#define RTSEXCPT_MISALIGNMENT 0x0100u
#define RTSEXCPT_ARRAYBOUNDS 0x0101u
#define RTSEXCPT_DIVIDEBYZERO 0x0102u
#define RTSEXCPT_OVERFLOW 0x0103u
#define RTSEXCPT_NONCONTINUABLE 0x0104u
#define RTSEXCPT_PROCESSORLOAD_WATCHDOG 0x0105u
#define RTSEXCPT_FPU_ERROR 0x0150u
#define RTSEXCPT_FPU_DENORMAL_OPERAND 0x0151u
#define RTSEXCPT_FPU_DIVIDEBYZERO 0x0152u
#define RTSEXCPT_FPU_INEXACT_RESULT 0x0153u
#define RTSEXCPT_FPU_INVALID_OPERATION 0x0154u
#define RTSEXCPT_FPU_OVERFLOW 0x0155u
#define RTSEXCPT_FPU_STACK_CHECK 0x0156u
#define RTSEXCPT_FPU_UNDERFLOW 0x0157u
#define RTSEXCPT_OMITTED_CYCLE_WATCHDOG 0x1010u
#define RTSEXCPT_VENDOR_EXCEPTION_BASE 0x2000u

/* The value of a frame's magic while it is linked into a context's chain. */
#define SYSEXCEPT_FRAME_MAGIC 0xA5A5ACDCu

/* The platform's jump buffer, and how a frame is set up to be resumed. The signal mask is kept
 * on POSIX so that a resume out of a fault handler unblocks the signal again; on Windows the
 * jump does not unwind, since a resumed frame never has destructors of its own to run. */
#if defined(_WIN32)
typedef jmp_buf SysExceptJmpBuf;
#define SYSEXCEPT_SETJMP(buf) _setjmp((buf), NULL)
#else
typedef sigjmp_buf SysExceptJmpBuf;
#define SYSEXCEPT_SETJMP(buf) sigsetjmp((buf), 1)
#endif

/* A try frame. previous links the chain of the context; magic is SYSEXCEPT_FRAME_MAGIC once
 * the frame was entered; code is the exception caught (0: none); context the processor context
 * of the exception; caught is set by the catch that handled it; entered is set while the frame
 * is linked. */
typedef struct SysExceptFrame_ {
    struct SysExceptFrame_* previous;
    RTS_UI32 magic;
    RTS_UI32 code;
    SysExceptJmpBuf jmpBuf;
    RegContext context;
    RTS_UI32 caught;
    RTS_UI32 entered;
} SysExceptFrame;

/* Enters the frame and evaluates to 0, or to 1 when an exception resumed it. */
#define SYSEXCEPT_TRY(pFrame)                                                                                \
    (SYSEXCEPT_SETJMP((pFrame)->jmpBuf) == 0 ? SysExceptTry(pFrame) : SysExceptTry(pFrame))

/* A registered handler: task, exception code and context; RES_EXCEPTION asks the raiser of
 * SysExceptGenerateException2 to stop the task. */
typedef RTS_RESULT (*PF_SYSEXCEPT_HANDLER)(RTS_HANDLE hTask, RTS_UI32 code, RegContext* pContext);

/* Puts a handler into the first free slot of the table, growing the table by five slots when
 * none is free. RES_NOTINITIALIZED before CH_INIT_SYSTEM, RES_NOMEMORY when it cannot grow,
 * RES_PARAMETER for a null handler. */
RTS_RESULT SysExceptRegisterInterface(PF_SYSEXCEPT_HANDLER pfHandler);
/* Frees the slot of the handler; RES_FAILED when it is not registered. */
RTS_RESULT SysExceptUnregisterInterface(PF_SYSEXCEPT_HANDLER pfHandler);
/* The system code of a platform exception code; codes without a system code stay as they are. */
RTS_UI32 SysExceptMapException(RTS_UI32 ulOSException);
/* Copies the name of the code into the buffer (cut to fit: RES_BUFFERSIZE). Codes above the
 * vendor base without a name give "VendorException <low 12 bits>"; other unknown codes give
 * "UNKNOWN" and RES_PARAMETER. A null buffer or zero size gives RES_PARAMETER. */
RTS_RESULT SysExceptConvertToString(RTS_UI32 ulException, char* pszException, int iMaxExceptionLen);
/* The first call links the frame in front of the current frame of the running context and
 * returns 0; the call after an exception resumed the frame (see SYSEXCEPT_TRY) unlinks it and
 * returns 1. A null frame gives 1. */
int SysExceptTry(SysExceptFrame* pFrame);
/* 0 once, when the frame holds an exception not yet caught (it is then marked caught); else 1.
 * A frame left without an exception is unlinked here. */
int SysExceptCatch(SysExceptFrame* pFrame);
/* As SysExceptCatch, but only for an exception with this code. */
int SysExceptCatchException(SysExceptFrame* pFrame, RTS_UI32 ulException);
/* Raises an exception for the task (RTS_INVALID_HANDLE: the current one). The low half of the
 * code is the code; a nonzero high half marks a platform code, which is mapped first, and a
 * high half of 2 only tells the listeners of the first event. Platform codes, codes 80..260 and
 * 336..343 and codes with bit 0x2000 resume the current try frame of the context, when it has
 * one; otherwise the registered handlers are called. RES_EXCEPTION when a handler returned it,
 * else RES_OK; RES_NOTINITIALIZED before CH_INIT_SYSTEM. */
RTS_RESULT SysExceptGenerateException(RTS_HANDLE hTask, RTS_UI64 ulException, RegContext* pContext);
/* As above; then, unless a handler answered RES_EXCEPTION and bIecException is 0 (then the result
 * is RES_EXCEPTION), suspends the task through the task service (a task whose information carries
 * flag 4 is left alone: RES_OK), or stops the timer that runs it: RES_EXCEPTION when one of them
 * was stopped, RES_NOTSUPPORTED when neither could be found. */
RTS_RESULT SysExceptGenerateException2(RTS_HANDLE hTask, RTS_UI64 ulException, RegContext* pContext,
                                       RTS_UI32 bIecException);

/* Parameter record of the lower-case wrapper: a code to raise for the current task. */
typedef struct {
    RTS_UI32 ulException;
    RTS_RESULT SysExceptGenerateException;
} sysexceptgenerateexception_struct;
void sysexceptgenerateexception(sysexceptgenerateexception_struct* p);

/* Parameter record of the structured-exception switches of the control-language side, which this
 * system does not offer: each reports RES_NOTIMPLEMENTED. */
typedef struct {
    RTS_RESULT result;
} sysexceptseh_struct;
void sysexceptenableseh(sysexceptseh_struct* p);
void sysexceptenableseh2(sysexceptseh_struct* p);
void sysexceptdisableseh(sysexceptseh_struct* p);
void sysexceptdisableseh2(sysexceptseh_struct* p);

/* The parameter of the two exception events: posted before the handlers are called (the first
 * also for codes with a high half of 2) and after the frame was not resumed. */
#define SYSEXCEPT_EVENT_BEFORE 0x00080001u
#define SYSEXCEPT_EVENT_AFTER 0x00080002u
typedef struct {
    RTS_HANDLE hTask;
    RTS_UI32 code;
    RegContext* pContext;
} SysExceptEventParam;

/* The event of machine code loaded or unloaded at run time, of whichever component loads it;
 * for each function of a loaded area an unwind record is built from its prologue, so that the
 * platform's unwinder can walk through it. */
#define SYSEXCEPT_EVENT_CODE_AREA 0x00010029u
typedef struct {
    RTS_UI32 loaded; /* 1: the area was loaded; 0: it is about to be unloaded */
    RTS_UI8* pCode;
    RTS_UI32 codeSize;
    const RTS_UI32* pFunctions; /* offsets of the area's functions, ascending */
    RTS_UI32 functionCount;
} SysExceptCodeArea;

RTS_END_C

#endif
