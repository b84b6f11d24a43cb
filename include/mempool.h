/* Memory pools (CmpMemPool): pools of equal-sized blocks in one static or heap area, extended
 * by further areas, with a free list, a used list that makes blocks findable, a recursive lock
 * per pool, lock-free readers that defer releases, hashed blocks with numeric keys and a lock
 * trace for one chosen pool.
 *
 * A pool handle is the address of its control block (the invalid handle is all ones); a block
 * is addressed by the address of its data, which follows its 24-byte header. */
#ifndef MEMPOOL_H
#define MEMPOOL_H

#include "cmhash.h"
#include "rts_types.h"

RTS_BEGIN_C

/* ---- layout ------------------------------------------------------------------------------- */

/* Pool flags (MemPoolCreateInfo.Flags and PoolControlBlock.Flags). */
#define MEM_POOL_STATIC 0x1u       /* caller memory */
#define MEM_POOL_DYNAMIC 0x2u      /* heap memory, freed with the pool */
#define MEM_POOL_NOLOCK 0x10u      /* never gets a lock, not even through MemPoolCreateSyncObject */
#define MEM_POOL_NOLOCK_INIT 0x20u /* gets no lock at creation; MemPoolCreateSyncObject may add one */

/* Block flags (BlockHeader.Flags). */
#define MEM_POOL_BLOCK_RELEASE_PENDING 0x1u

/* Called for a block before MemPoolPutBlock_LF or MemPoolReleaseBlocks puts it back. */
typedef void (*PF_MEMPOOL_RELEASE)(void* pBlock, void* pParam);

typedef struct MemPoolBlockHeader {
    struct MemPoolBlockHeader* Next; /* link in the free list or the used list */
    void* Pool;                      /* the owning control block */
    RTS_UI32 Flags;
    /* The pool's own record of where the block is (free, taken, in a used list), in what would
     * be padding: it lets the pool refuse a block given back twice or linked twice. */
    RTS_UI32 State;
} MemPoolBlockHeader;

/* Header of an extension area. BlockCount fills what would be padding; it lets the pool tell
 * which blocks an area holds when the area is freed. */
typedef struct MemPoolArea {
    RTS_UI32 Flags; /* MEM_POOL_AREA_HEAP: allocated by the pool */
    RTS_UI32 BlockCount;
    struct MemPoolArea* Next;
} MemPoolArea;
#define MEM_POOL_AREA_HEAP 0x2u

/* The control block at the start of every pool area (64 bytes, at the area's first 8-byte
 * aligned address, where its 64-bit fields can be accessed atomically). A live pool's BlockSize
 * is never 0; a deleted static pool's is, so its handle is refused afterwards. */
typedef struct {
    RTS_UI64 BlockSize; /* data bytes per block, a multiple of 8 */
    PF_MEMPOOL_RELEASE Release;
    RTS_I32 ReaderCount; /* active lock-free readers */
    RTS_UI32 Flags;
    RTS_HANDLE Lock; /* SysSem semaphore, or all ones / 0 for none */
    MemPoolArea* Areas;
    MemPoolBlockHeader* FreeHead;
    MemPoolBlockHeader* UsedHead;
    MemPoolBlockHeader* UsedTail;
} PoolControlBlock;

#define MEM_POOL_CONTROL_BLOCK_SIZE 64u
#define MEM_POOL_BLOCK_HEADER_SIZE 24u

/* Bytes of a pool area beside its blocks: the control block, room to align it and room to align
 * the first block header after it. */
#define MEM_POOL_AREA_OVERHEAD 80u

/* Bytes of a pool area that holds count blocks of blockSize bytes wherever it starts: what a
 * dynamic pool allocates, and what a caller reserves for a static pool of count blocks. */
#define MEM_POOL_ROUND8(size) (((size) + 7u) & ~(RTS_SIZE)7u)
#define MEM_POOL_AREA_SIZE(blockSize, count)                                                                 \
    ((MEM_POOL_ROUND8(blockSize) + MEM_POOL_BLOCK_HEADER_SIZE) * (count) + MEM_POOL_AREA_OVERHEAD)

/* Argument of MemPoolCreate. Static pools (MEM_POOL_STATIC): BlockSizeOrOwner is the block
 * size, MemSizeOrCount the memory size, MemoryOrBlockSize the memory address. Dynamic pools
 * (MEM_POOL_DYNAMIC): owner name, number of blocks, block size. */
typedef struct {
    RTS_UI32 Flags;
    PF_MEMPOOL_RELEASE Release;
    RTS_UINTPTR BlockSizeOrOwner;
    RTS_UINTPTR MemSizeOrCount;
    RTS_UINTPTR MemoryOrBlockSize;
} MemPoolCreateInfo;

/* A hashed-block table: the hash table, its pool and the key counter (a block of the
 * component's own table pool). */
typedef struct {
    CMUtlHashTable Table;
    RTS_HANDLE Pool;
    RTS_UI32 KeyCounter;
} MemPoolHashTable;

/* ---- creating and deleting ---------------------------------------------------------------- */

/* Static or dynamic pool as the info says, with its release callback. RES_PARAMETER for a null
 * info, neither or both of the two kinds, or the parameter errors of the two functions below. */
RTS_HANDLE MemPoolCreate(const MemPoolCreateInfo* pInfo, RTS_RESULT* pResult);
/* Pool laid out in the caller's memory. Null memory, memory size 0 or block size 0:
 * RES_PARAMETER; under 64 bytes or no room for the control block: RES_NOMEMORY. Works before
 * the component is initialised (the pool then has no lock until MemPoolCreateSyncObject). */
RTS_HANDLE MemPoolCreateStatic(RTS_SIZE blockSize, RTS_SIZE memSize, void* pMemory, RTS_RESULT* pResult);
/* Pool of count blocks in one heap allocation tagged with owner. Null owner, count 0 or block
 * size 0: RES_PARAMETER; heap refusal: RES_NOMEMORY. */
RTS_HANDLE MemPoolCreateDynamic(const char* owner, RTS_SIZE count, RTS_SIZE blockSize, RTS_RESULT* pResult);
/* Add count blocks from the heap (owner tag) in front of the free list. Count 0 or null owner
 * RES_PARAMETER; heap refusal RES_NOMEMORY;
 * invalid pool, or a pool whose newest area is a static extension, RES_INVALID_HANDLE. */
RTS_RESULT MemPoolExtendDynamic(RTS_HANDLE hPool, const char* owner, RTS_SIZE count);
/* Add the blocks that fit into the caller's memory; results as MemPoolExtendDynamic, and
 * RES_NOMEMORY when no block fits. */
RTS_RESULT MemPoolExtendStatic(RTS_HANDLE hPool, RTS_SIZE memSize, void* pMemory);
/* Give the pool its lock: RES_PARAMETER invalid pool, RES_NOTINITIALIZED before the
 * component's init, RES_OK when there is one already or the pool is MEM_POOL_NOLOCK. */
RTS_RESULT MemPoolCreateSyncObject(RTS_HANDLE hPool);
/* Delete the pool's lock (the pool then has none). */
RTS_RESULT MemPoolDeleteSyncObject(RTS_HANDLE hPool);
/* Log one "**** Pool leak" line per block still in the used list, free the heap extensions,
 * the lock and a heap control block. RES_INVALID_HANDLE for an invalid pool. */
RTS_RESULT MemPoolDelete(RTS_HANDLE hPool, const char* owner);
/* Free the heap extensions and empty the free list, so the pool hands out no block afterwards
 * (used blocks that lived in a freed area are reported as leaks and unlinked); deleteLock also
 * deletes the lock. RES_INVALID_HANDLE for an invalid pool. */
RTS_RESULT MemPoolCleanup(RTS_HANDLE hPool, const char* owner, int deleteLock);
/* The control block address: the handle itself (RES_PARAMETER and null when invalid). */
PoolControlBlock* MemPoolGetPCB(RTS_HANDLE hPool, RTS_RESULT* pResult);

/* ---- blocks and lists --------------------------------------------------------------------- */

/* Pop a free block, zero-filled. Empty or invalid pool: null with RES_INVALID_HANDLE. */
void* MemPoolGetBlock(RTS_HANDLE hPool, RTS_RESULT* pResult);
/* As MemPoolGetBlock; with extend set an empty pool grows by one heap block (owner tag).
 * RES_NOMEMORY when still none. */
void* MemPoolGetBlock2(RTS_HANDLE hPool, int extend, const char* owner, RTS_RESULT* pResult);
/* Push the block back onto its pool's free list and fill its data with 0xAA. Remove it from the
 * used list first. RES_PARAMETER for a block of no pool, one given back already or one still
 * in a used list. */
RTS_RESULT MemPoolPutBlock(void* pBlock);
/* Used list of the block's own pool: push at the head, link at the tail, link after pPrevBlock
 * (null: at the head; a previous block of another pool: RES_PARAMETER), unlink (RES_PARAMETER
 * when not in the list). A free block or one already in a used list is refused (RES_PARAMETER). */
RTS_RESULT MemPoolAddUsedBlock(void* pBlock);
RTS_RESULT MemPoolAppendUsedBlock(void* pBlock);
RTS_RESULT MemPoolInsertUsedBlock(void* pPrevBlock, void* pBlock);
RTS_RESULT MemPoolRemoveUsedBlock(void* pBlock);
/* The same on the used list of hPool (all ones: the block's own pool). */
RTS_RESULT MemPoolAddUsedBlockToPool(void* pBlock, RTS_HANDLE hPool);
RTS_RESULT MemPoolAppendUsedBlockToPool(void* pBlock, RTS_HANDLE hPool);
RTS_RESULT MemPoolInsertUsedBlockToPool(void* pPrevBlock, void* pBlock, RTS_HANDLE hPool);
RTS_RESULT MemPoolRemoveUsedBlockFromPool(void* pBlock, RTS_HANDLE hPool);
/* First used block (none: null with RES_NO_OBJECT) and the one after pBlock (null at the end,
 * RES_OK either way). Each step locks alone; hold MemPoolLock around a walk that must be
 * consistent. */
void* MemPoolGetFirstBlock(RTS_HANDLE hPool, RTS_RESULT* pResult);
void* MemPoolGetNextBlock(RTS_HANDLE hPool, void* pBlock, RTS_RESULT* pResult);
/* First used block whose data bytes [offset, offset + size) equal pData; none: null with
 * RES_PARAMETER. */
void* MemPoolFindBlock(RTS_HANDLE hPool, RTS_SIZE offset, RTS_SIZE size, const void* pData,
                       RTS_RESULT* pResult);
/* RES_OK when pBlock is in the used list; the pool then STAYS LOCKED and the caller ends with
 * MemPoolUnlock. RES_FAILED (unlocked) when not found, RES_PARAMETER for bad arguments. */
RTS_RESULT MemPoolIsValidBlock(RTS_HANDLE hPool, void* pBlock);
/* With no reader active, unlink every used block (only those marked pending when onlyPending
 * is set), call the release callback and free it. RES_PENDING while readers are active or when
 * the used list is empty; RES_NOTINITIALIZED before the component's init. */
RTS_RESULT MemPoolReleaseBlocks(RTS_HANDLE hPool, int onlyPending, void* pParam);

/* ---- locking ------------------------------------------------------------------------------ */

/* Enter / leave the pool's recursive lock. RES_NOTINITIALIZED outside the component's
 * lifetime, RES_PARAMETER for 0 or all ones, RES_NOTIMPLEMENTED for a pool without lock
 * (callers treat that as success). */
RTS_RESULT MemPoolLock(RTS_HANDLE hPool);
RTS_RESULT MemPoolUnlock(RTS_HANDLE hPool);
/* The same for the pool that owns pBlock. */
RTS_RESULT MemPoolLockBlock(void* pBlock);
RTS_RESULT MemPoolUnlockBlock(void* pBlock);

/* Lock-free readers: raise / lower the reader count around a walk without the lock. */
RTS_RESULT MemPoolAddRef_LF(RTS_HANDLE hPool);
RTS_RESULT MemPoolReleaseRef_LF(RTS_HANDLE hPool);
/* MemPoolLock; RES_BUSY (lock held all the same) when readers are active. */
RTS_RESULT MemPoolLock_LF(RTS_HANDLE hPool);
RTS_RESULT MemPoolUnlock_LF(RTS_HANDLE hPool);
/* Without the lock: RES_OK when pBlock is used and not pending; the reader reference then stays
 * raised until MemPoolReleaseRef_LF. Not found: RES_PARAMETER, reference lowered. */
RTS_RESULT MemPoolIsValidBlock_LF(RTS_HANDLE hPool, void* pBlock);
/* Unlink when no reader is active (RES_OK / RES_PARAMETER when absent); else mark the block
 * pending and answer RES_PENDING. */
RTS_RESULT MemPoolRemoveUsedBlock_LF(void* pBlock);
RTS_RESULT MemPoolRemoveUsedBlockFromPool_LF(void* pBlock, RTS_HANDLE hPool);
/* Release callback with pParam, then MemPoolPutBlock. */
RTS_RESULT MemPoolPutBlock_LF(void* pBlock, void* pParam);

/* Trace how long threads hold the lock of this pool, when the trace and task services are
 * present and the settings name the pool: RES_NOTSUPPORTED without the services, RES_ALREADY
 * when tracing is off or meant for another pool, RES_OK when registered. */
RTS_RESULT MemPoolLockTraceRegister(RTS_HANDLE hPool, const char* poolName);

/* ---- hashed blocks ------------------------------------------------------------------------ */

/* Table of blocks of hPool found by keys 1, 2, ...; buckets from the heap (owner tag) or from
 * pBuckets (room for bucketCount pointers). RES_PARAMETER for pool 0 or all ones, null owner or
 * no buckets; RES_NOMEMORY when no table block is left. */
RTS_HANDLE MemPoolCreateHashTable(RTS_HANDLE hPool, RTS_SIZE bucketCount, const char* owner,
                                  RTS_RESULT* pResult);
RTS_HANDLE MemPoolCreateHashTable2(RTS_HANDLE hPool, RTS_SIZE bucketCount, void* pBuckets, const char* owner,
                                   RTS_RESULT* pResult);
RTS_RESULT MemPoolDeleteHashTable(RTS_HANDLE hTable);
/* The key of no block: the answer of a failed MemPoolGetBlockHashed, and as a key offset, that
 * the key is not stored in the block. */
#define MEM_POOL_NO_KEY 0xFFFFFFFFu
/* Take a block under the next key (the pool grows by extendCount heap blocks when empty and
 * extendCount is not 0); a keyOffset other than MEM_POOL_NO_KEY also stores the key in the block
 * at that offset. Returns the key, MEM_POOL_NO_KEY on failure. */
RTS_UI32 MemPoolGetBlockHashed(RTS_HANDLE hTable, RTS_SIZE extendCount, RTS_RESULT* pResult);
RTS_UI32 MemPoolGetBlockHashed2(RTS_HANDLE hTable, RTS_SIZE extendCount, RTS_UI32 keyOffset,
                                RTS_RESULT* pResult);
/* The block of a key, else null with the search result. */
void* MemPoolGetBlockByHash(RTS_HANDLE hTable, RTS_UI32 key, RTS_RESULT* pResult);
/* Drop the key and unlink its block from the used list (MemPoolRemoveUsedBlock_LF, whose
 * result is returned); the block is not given back. */
RTS_RESULT MemPoolRemoveBlockHashed(RTS_HANDLE hTable, RTS_UI32 key);

/* ---- optional services the lock trace imports by name ------------------------------------- */

/* Packet state bit: the packet is recording. */
#define MEM_POOL_TRACE_RECORDING 0x1u
typedef RTS_HANDLE (*PF_TRACEMGR_PACKET_CREATE)(const char* name, RTS_UI32 bufferSize, RTS_UI32 flags,
                                                RTS_RESULT* pResult);
typedef RTS_RESULT (*PF_TRACEMGR_PACKET_DELETE)(RTS_HANDLE hPacket);
typedef RTS_RESULT (*PF_TRACEMGR_PACKET_START)(RTS_HANDLE hPacket);
typedef RTS_RESULT (*PF_TRACEMGR_PACKET_COMPLETE)(RTS_HANDLE hPacket);
typedef RTS_RESULT (*PF_TRACEMGR_PACKET_GET_STATE)(RTS_HANDLE hPacket, RTS_UI32* pState);
typedef RTS_HANDLE (*PF_TRACEMGR_RECORD_ADD)(RTS_HANDLE hPacket, const char* name, RTS_RESULT* pResult);
typedef RTS_RESULT (*PF_TRACEMGR_RECORD_REMOVE)(RTS_HANDLE hPacket, RTS_HANDLE hRecord);
typedef RTS_RESULT (*PF_TRACEMGR_RECORD_UPDATE3)(RTS_HANDLE hPacket, RTS_HANDLE hRecord, RTS_I32 value);
typedef RTS_HANDLE (*PF_SYSTASK_GET_CURRENT)(RTS_RESULT* pResult);
/* Name of a task, for the trace record and the log line. */
typedef RTS_RESULT (*PF_SYSTASK_GET_INFO)(RTS_HANDLE hTask, const char** ppName);

RTS_END_C

#endif
