/* Shared memory (SysShm): named blocks shared between processes, and windows onto physical
 * memory through a driver. Each block open in this process has one record with a reference
 * count, so opening a block twice gives the same handle and needs two closes. */
#ifndef SYSSHM_H
#define SYSSHM_H

#include "rts_types.h"

RTS_BEGIN_C

/* Opens an existing block (physical address 0: a named block; else physical memory).
 * *pSize in: the wanted size (0: any); out: the size this process's record of the block keeps,
 * which is the size its first open or create here asked for (0 included), on every platform.
 * RES_BUFFERSIZE with the invalid handle when the block is open here with another size, or
 * when its memory pages hold fewer bytes than asked; RES_NO_OBJECT when no process has created
 * it; RES_NOT_LOCKED with a valid handle when it could not be locked. */
RTS_HANDLE SysSharedMemoryOpen(const char* name, RTS_UINTPTR physicalAddress, RTS_SIZE* pSize,
                               RTS_RESULT* pResult);
/* Creates the named block, or opens it with RES_DUPLICATE when it exists (here or in another
 * process). Results otherwise as for SysSharedMemoryOpen. */
RTS_HANDLE SysSharedMemoryCreate(const char* name, RTS_UINTPTR physicalAddress, RTS_SIZE* pSize,
                                 RTS_RESULT* pResult);
/* Drops one reference; the last one unmaps the block. RES_PARAMETER for a handle that is not
 * open, RES_FAILED for one closed as often as it was opened. */
RTS_RESULT SysSharedMemoryClose(RTS_HANDLE hShm);
/* The same as SysSharedMemoryClose: a block leaves the system with its last handle anywhere. */
RTS_RESULT SysSharedMemoryDelete(RTS_HANDLE hShm);
/* The block's address in this process; RES_PARAMETER and null for a handle that is not open. */
void* SysSharedMemoryGetPointer(RTS_HANDLE hShm, RTS_RESULT* pResult);

/* Copy size bytes between the block at offset and the caller's buffer; the byte variants
 * touch the block one byte at a time. Offset and size are the caller's to keep inside the
 * block. RES_PARAMETER and 0 for a null buffer or a handle that is not open, else the size. */
RTS_SIZE SysSharedMemoryRead(RTS_HANDLE hShm, RTS_SIZE offset, unsigned char* pbyData, RTS_SIZE size,
                             RTS_RESULT* pResult);
RTS_SIZE SysSharedMemoryReadByte(RTS_HANDLE hShm, RTS_SIZE offset, unsigned char* pbyData, RTS_SIZE size,
                                 RTS_RESULT* pResult);
RTS_SIZE SysSharedMemoryWrite(RTS_HANDLE hShm, RTS_SIZE offset, const unsigned char* pbyData, RTS_SIZE size,
                              RTS_RESULT* pResult);
RTS_SIZE SysSharedMemoryWriteByte(RTS_HANDLE hShm, RTS_SIZE offset, const unsigned char* pbyData,
                                  RTS_SIZE size, RTS_RESULT* pResult);

/* Parameter records of the lower-case wrappers (syssharedmemoryopen, ...): the arguments in
 * order, then the result. The size travels as a 32-bit value that is written back. */
typedef struct {
    const char* name;
    RTS_UINTPTR physicalAddress;
    RTS_UI32* pulSize;
    RTS_RESULT* pResult;
    RTS_HANDLE result;
} SysShmOpenParams; /* syssharedmemoryopen, syssharedmemoryopen2, syssharedmemorycreate */

typedef struct {
    RTS_HANDLE hShm;
    RTS_RESULT result;
} SysShmHandleParams; /* syssharedmemoryclose, syssharedmemorydelete */

typedef struct {
    RTS_HANDLE hShm;
    RTS_RESULT* pResult;
    void* result;
} SysShmGetPointerParams; /* syssharedmemorygetpointer */

typedef struct {
    RTS_HANDLE hShm;
    RTS_SIZE offset;
    unsigned char* pbyData;
    RTS_SIZE size;
    RTS_RESULT* pResult;
    RTS_SIZE result;
} SysShmCopyParams; /* syssharedmemoryread, ...readbyte, ...write, ...writebyte */

/* syssharedmemoryopen opens and, when that gives the invalid handle, creates;
 * syssharedmemoryopen2 only opens. The others forward to the function of the same name. */
/* The interface object the component makes for class 272: its query (the fifth pointer-sized
 * field) answers interface 272 with the table below and 0 with the object itself, counting a
 * reference for every answered query. */
#define SYSSHM_CLASS_ID 272u
#define SYSSHM_INTERFACE_ID 272u

typedef struct {
    RTS_HANDLE (*create)(const char* name, RTS_UINTPTR physicalAddress, RTS_SIZE* pSize, RTS_RESULT* pResult);
    RTS_RESULT (*remove)(RTS_HANDLE hShm);
    RTS_HANDLE (*open)(const char* name, RTS_UINTPTR physicalAddress, RTS_SIZE* pSize, RTS_RESULT* pResult);
    RTS_RESULT (*close)(RTS_HANDLE hShm);
    void* (*getPointer)(RTS_HANDLE hShm, RTS_RESULT* pResult);
    RTS_SIZE(*read)
    (RTS_HANDLE hShm, RTS_SIZE offset, unsigned char* pData, RTS_SIZE size, RTS_RESULT* pResult);
    RTS_SIZE(*readByte)
    (RTS_HANDLE hShm, RTS_SIZE offset, unsigned char* pData, RTS_SIZE size, RTS_RESULT* pResult);
    RTS_SIZE(*write)
    (RTS_HANDLE hShm, RTS_SIZE offset, const unsigned char* pData, RTS_SIZE size, RTS_RESULT* pResult);
    RTS_SIZE(*writeByte)
    (RTS_HANDLE hShm, RTS_SIZE offset, const unsigned char* pData, RTS_SIZE size, RTS_RESULT* pResult);
} SysShmInterface;

typedef struct {
    void* reserved[4];
    void* (*QueryInterface)(void* object, RTS_UI32 interfaceId, RTS_RESULT* pResult);
    RTS_I32 references;
} SysShmObject;

void syssharedmemoryopen(SysShmOpenParams* p);
void syssharedmemoryopen2(SysShmOpenParams* p);
void syssharedmemorycreate(SysShmOpenParams* p);
void syssharedmemoryclose(SysShmHandleParams* p);
void syssharedmemorydelete(SysShmHandleParams* p);
void syssharedmemorygetpointer(SysShmGetPointerParams* p);
void syssharedmemoryread(SysShmCopyParams* p);
void syssharedmemoryreadbyte(SysShmCopyParams* p);
void syssharedmemorywrite(SysShmCopyParams* p);
void syssharedmemorywritebyte(SysShmCopyParams* p);

RTS_END_C

#endif
