/* Heap adaptation (SysMem): the system's one way to heap memory, executable memory and special
 * memory areas. Every allocation names its owner component; an optional memory tracker
 * ("CmpMemGC") sees every block when it is present. Also byte-order swapping and the memory
 * primitives of the parameter-record interface. */
#ifndef SYSMEM_H
#define SYSMEM_H

#include "rts_types.h"

RTS_BEGIN_C

/* Area kinds of SysMemAllocArea. */
#define SYSMEM_AREA_DATA 0x01u   /* read-write pages */
#define SYSMEM_AREA_MARKER 0x10u /* the physical marker memory window (exactly this value) */
#define SYSMEM_AREA_CODE 0x40u   /* executable read-write pages */

/* Zero-filled block; size 0 gives RES_PARAMETER and null, a refusing heap RES_NOMEMORY. */
void* SysMemAllocData(const char* owner, RTS_SIZE size, RTS_RESULT* pResult);
/* Resize a block (null allocates); the old block is kept when the heap refuses (RES_NOMEMORY,
 * null). Size 0: RES_PARAMETER and null, the block unchanged. */
void* SysMemReallocData(const char* owner, void* address, RTS_SIZE size, RTS_RESULT* pResult);
/* Null gives RES_PARAMETER; with a tracker its result, the block freed only when it is RES_OK. */
RTS_RESULT SysMemFreeData(const char* owner, void* address);
/* Executable read-write memory of size rounded up to 16 plus half of that (100 gives 168),
 * locked in physical memory where the platform allows. Size 0: RES_PARAMETER. */
void* SysMemAllocCode(const char* owner, RTS_SIZE size, RTS_RESULT* pResult);
/* Unlock and release code memory; RES_PARAMETER for null. */
RTS_RESULT SysMemFreeCode(const char* owner, void* address);
/* A data area (SYSMEM_AREA_DATA), a code area (SYSMEM_AREA_CODE, sized as SysMemAllocCode) or
 * the marker memory (exactly SYSMEM_AREA_MARKER, when "WinCE.MemoryAddress" names it). Any
 * failure or other kind: RES_NOMEMORY and null. */
void* SysMemAllocArea(const char* owner, RTS_UI16 kind, RTS_SIZE size, RTS_RESULT* pResult);
/* Release a data or code area; RES_FAILED for an address that is not one. */
RTS_RESULT SysMemFreeArea(const char* owner, void* address);
/* RES_OK when every byte of [address, address + size) can be read (size 0 checks the one byte
 * at address), RES_FAILED for null or unreadable memory. The write flag is not looked at. */
RTS_RESULT SysMemIsValidPointer(const void* address, RTS_SIZE size, RTS_I32 write);
/* The tracker's heap size; RES_NOTSUPPORTED and 0 without a tracker. */
RTS_SIZE SysMemGetCurrentHeapSize(RTS_RESULT* pResult);
/* Data are already in this platform's byte order: returns 0 and changes nothing. */
RTS_I32 SysMemSwap(void* buffer, RTS_I32 elementSize, RTS_I32 count);
/* Reverse the bytes of each of count elements of 2, 4 or 8 bytes; returns elementSize * count
 * (0 elements for a count below 1), -1 for a null buffer or another element size. */
RTS_I32 SysMemForceSwap(void* buffer, RTS_I32 elementSize, RTS_I32 count);
/* SysMemAllocData / SysMemReallocData / SysMemFreeData for owner "SysMem"; null on failure. */
void* SysMemMalloc(RTS_SIZE size);
void* SysMemRealloc(void* address, RTS_SIZE size);
void SysMemFree(void* address);

/* ---- the optional memory tracker, imported by name ---------------------------------------- */

/* The size to allocate for a requested size. */
typedef RTS_SIZE (*PF_MEMGC_GET_SIZE)(RTS_SIZE size);
/* Registers a new block of an owner; returns the address to hand out (null: refused). */
typedef void* (*PF_MEMGC_ADD)(const char* owner, void* address, RTS_SIZE size, RTS_RESULT* pResult);
/* Unregisters a handed-out block; returns the address to release (null: nothing to release). */
typedef void* (*PF_MEMGC_REMOVE)(const char* owner, void* address, RTS_RESULT* pResult);
typedef RTS_SIZE (*PF_MEMGC_GET_CURRENT_HEAP_SIZE)(RTS_RESULT* pResult);
typedef void* (*PF_MEMGC_FIND_ENTRY)(void* address, RTS_RESULT* pResult);

/* ---- parameter records of the lower-case wrappers: arguments in order, then the result ---- */

typedef struct {
    const char* owner;
    RTS_UI16 kind;
    RTS_SIZE size;
    RTS_RESULT* pResult;
    void* result;
} sysmemallocarea_struct;
typedef struct {
    const char* owner;
    RTS_SIZE size;
    RTS_RESULT* pResult;
    void* result;
} sysmemalloc_struct; /* sysmemallocdata, sysmemalloccode */
typedef struct {
    const char* owner;
    void* address;
    RTS_SIZE size;
    RTS_RESULT* pResult;
    void* result;
} sysmemreallocdata_struct;
typedef struct {
    const char* owner;
    void* address;
    RTS_RESULT result;
} sysmemfree_struct; /* sysmemfreedata, sysmemfreecode, sysmemfreearea */
typedef struct {
    RTS_RESULT* pResult;
    RTS_SIZE result;
} sysmemgetcurrentheapsize_struct;
typedef struct {
    const void* address;
    RTS_SIZE size;
    RTS_I32 write;
    RTS_RESULT result;
} sysmemisvalidpointer_struct;
typedef struct {
    void* buffer;
    RTS_I32 elementSize;
    RTS_I32 count;
    RTS_I32 result;
} sysmemswap_struct; /* sysmemswap, sysmemforceswap */
typedef struct {
    const void* p1;
    const void* p2;
    RTS_SIZE size;
    RTS_I32 result;
} sysmemcmp_struct;
typedef struct {
    void* dest;
    const void* source;
    RTS_SIZE size;
    void* result;
} sysmemcpy_struct; /* sysmemcpy, sysmemmove: overlap allowed in both */
typedef struct {
    void* dest;
    RTS_I32 value;
    RTS_SIZE size;
    void* result;
} sysmemset_struct;

/* Lower-case wrappers: each reads its record, calls the function above and stores the result;
 * sysmemcmp stores the comparison sign (-1, 0, 1), sysmemcpy / sysmemmove / sysmemset the
 * destination. */
void sysmemallocarea(sysmemallocarea_struct* p);
void sysmemalloccode(sysmemalloc_struct* p);
void sysmemallocdata(sysmemalloc_struct* p);
void sysmemreallocdata(sysmemreallocdata_struct* p);
void sysmemfreearea(sysmemfree_struct* p);
void sysmemfreecode(sysmemfree_struct* p);
void sysmemfreedata(sysmemfree_struct* p);
void sysmemgetcurrentheapsize(sysmemgetcurrentheapsize_struct* p);
void sysmemisvalidpointer(sysmemisvalidpointer_struct* p);
void sysmemforceswap(sysmemswap_struct* p);
void sysmemswap(sysmemswap_struct* p);
void sysmemcmp(sysmemcmp_struct* p);
void sysmemcpy(sysmemcpy_struct* p);
void sysmemmove(sysmemcpy_struct* p);
void sysmemset(sysmemset_struct* p);

RTS_END_C

#endif
