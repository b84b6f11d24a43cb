/* Small containers of the component manager: a chained hash table over caller-chosen key
 * bytes, a string object with a 128-byte inline area that moves to the heap when it grows, an
 * in-place argument tokenizer and a binary search over records keyed by a 32-bit field. All
 * memory comes from the heap adaptation under the owner name given at creation. */
#ifndef CMHASH_H
#define CMHASH_H

#include "cm.h"
#include "rts_types.h"

RTS_BEGIN_C

/* ---- hash table ---------------------------------------------------------------------------- */

/* Table flags. */
#define CMUTL_HASH_BUCKETS_ALLOCATED 0x1u /* the bucket array belongs to the table */
#define CMUTL_HASH_INTERRUPT_LOCK 0x2u    /* lock by disabling interrupts where that is imported */
#define CMUTL_HASH_NO_LOCK 0x4u           /* no locking at all */
#define CMUTL_HASH_CUSTOM_FUNCTIONS 0x8u  /* hashFunction and compareFunction decide */

/* Entry flags. */
#define CMUTL_HASH_ENTRY_KEY_INLINE 0x1u   /* key bytes live in the entry */
#define CMUTL_HASH_ENTRY_KEY_POINTER 0x2u  /* the entry points to the key */
#define CMUTL_HASH_ENTRY_KEY_COPIED 0x100u /* the pointed-to key is memory of the table */
#define CMUTL_HASH_ENTRY_ALLOCATED 0x200u  /* the entry itself is memory of the table */

/* Keys up to this many bytes can be stored inside the entry. */
#define CMUTL_HASH_INLINE_KEY_SIZE 8u

/* Hash of a key, and key equality (nonzero when the entry's key equals the given one). */
typedef RTS_UINTPTR (*PF_CMUTL_HASH_FUNCTION)(const void* key, RTS_SIZE keyLength);
typedef int (*PF_CMUTL_HASH_COMPARE)(const void* entryKey, RTS_SIZE entryKeyLength, const void* key,
                                     RTS_SIZE keyLength);

/* One key/value pair; allocated by the table or lent by the caller to CMUtlHashInsert2. */
typedef struct CMUtlHashEntry {
    RTS_UINTPTR value;
    RTS_SIZE keyLength;
    union {
        RTS_UI8 bytes[CMUTL_HASH_INLINE_KEY_SIZE];
        const void* pointer;
    } key;
    struct CMUtlHashEntry* next;
    RTS_UI32 flags;
} CMUtlHashEntry;

/* The table itself lives in caller memory; a table whose bucketCount is 0 is not usable. */
typedef struct {
    RTS_HANDLE lock;
    CMUtlHashEntry** buckets;
    RTS_SIZE bucketCount;
    const char* owner;
    RTS_UI32 flags;
    PF_CMUTL_HASH_FUNCTION hashFunction;
    PF_CMUTL_HASH_COMPARE compareFunction;
} CMUtlHashTable;

/* Called once per entry by CMUtlHashIterate; a nonzero answer ends the walk. The callback may
 * remove the entry it receives, but no other entry. */
typedef int (*PF_CMUTL_HASH_ITERATE)(CMUtlHashEntry* entry, void* context);

/* Set up a table with a lock and a zeroed bucket array of its own. */
RTS_RESULT CMUtlHashCreate(CMUtlHashTable* table, RTS_SIZE bucketCount, const char* owner);
/* As CMUtlHashCreate; a given bucketArray (bucketCount pointers) is zeroed and used instead. */
RTS_RESULT CMUtlHashCreate2(CMUtlHashTable* table, RTS_SIZE bucketCount, CMUtlHashEntry** bucketArray,
                            const char* owner);
/* As CMUtlHashCreate2 with table flags; CMUTL_HASH_NO_LOCK creates no lock. */
RTS_RESULT CMUtlHashCreate3(CMUtlHashTable* table, RTS_SIZE bucketCount, CMUtlHashEntry** bucketArray,
                            RTS_UI32 flags, const char* owner);
/* As CMUtlHashCreate3 with an optional pair of hash and compare functions (both or neither,
 * else RES_PARAMETER). */
RTS_RESULT CMUtlHashCreate4(CMUtlHashTable* table, RTS_SIZE bucketCount, CMUtlHashEntry** bucketArray,
                            RTS_UI32 flags, PF_CMUTL_HASH_FUNCTION hashFunction,
                            PF_CMUTL_HASH_COMPARE compareFunction, const char* owner);
/* Remove every entry (freeing what the table allocated), delete the lock, free the table's own
 * bucket array and leave the table unusable. */
RTS_RESULT CMUtlHashDelete(CMUtlHashTable* table);
/* Insert a new key with its value in an entry allocated by the table; RES_DUPLICATE when the
 * key is present. copyKey: keep a copy of the key instead of pointing to the caller's. */
RTS_RESULT CMUtlHashInsert(CMUtlHashTable* table, const void* key, RTS_SIZE keyLength, int copyKey,
                           RTS_UINTPTR value);
/* As CMUtlHashInsert; a non-null entryMemory is used as the entry and stays the caller's. */
RTS_RESULT CMUtlHashInsert2(CMUtlHashTable* table, CMUtlHashEntry* entryMemory, const void* key,
                            RTS_SIZE keyLength, int copyKey, RTS_UINTPTR value);
/* The entry of a key, or null with RES_NO_OBJECT. */
CMUtlHashEntry* CMUtlHashSearch(CMUtlHashTable* table, const void* key, RTS_SIZE keyLength,
                                RTS_RESULT* pResult);
/* Unlink an entry and free what the table allocated for it; RES_NO_OBJECT when not in the table. */
RTS_RESULT CMUtlHashRemove(CMUtlHashTable* table, CMUtlHashEntry* entry);
/* Search and remove a key in one locked step. */
RTS_RESULT CMUtlHashRemove2(CMUtlHashTable* table, const void* key, RTS_SIZE keyLength);
/* Call callback(entry, context) for every entry, buckets in order, under the table's lock. */
RTS_RESULT CMUtlHashIterate(CMUtlHashTable* table, PF_CMUTL_HASH_ITERATE callback, void* context);

/* ---- dynamic string ------------------------------------------------------------------------ */

#define CMSTRING_INLINE_SIZE 128u

/* String flags. */
#define CMSTRING_INLINE 0x1u
#define CMSTRING_HEAP 0x2u
#define CMSTRING_INITIALIZED 0x10000u

/* A string object in caller memory. Zero it before the first create: a string whose flags or
 * capacity are 0 is not initialised. */
typedef struct {
    union {
        char inlineText[CMSTRING_INLINE_SIZE];
        char* heapText;
    } data;
    RTS_SIZE capacity; /* bytes for the text and its terminator */
    const char* owner;
    RTS_UI32 flags;
} CMString;

/* The text of an initialised string, wherever it lives. */
static inline const char* CMStringText(const CMString* str) {
    return (str->flags & CMSTRING_HEAP) != 0 ? str->data.heapText : str->data.inlineText;
}

/* Initialise with a copy of text (null: empty); texts over 127 bytes get a heap buffer of
 * exactly their length + 1, shorter ones the inline area. */
RTS_RESULT CMStringCreate(CMString* str, const char* owner, const char* text);
/* As CMStringCreate; forceHeap puts even a short text into a heap buffer of its length + 1. */
RTS_RESULT CMStringCreate2(CMString* str, const char* owner, const char* text, int forceHeap);
/* Empty string with room for capacity bytes: inline up to 128 unless forceHeap, else a heap
 * buffer of exactly capacity bytes. */
RTS_RESULT CMStringCreate3(CMString* str, const char* owner, RTS_SIZE capacity, int forceHeap);
/* Free a heap buffer and clear the object; RES_NOTINITIALIZED when not initialised. */
RTS_RESULT CMStringDelete(CMString* str);
/* Grow to newCapacity bytes (a heap buffer); nothing when the capacity already suffices. */
RTS_RESULT CMStringExtend(CMString* str, RTS_SIZE newCapacity);
/* Append text, growing to exactly the needed size. */
RTS_RESULT CMStringCat(CMString* str, const char* text);
/* Replace the text; growth is bounded by n characters, the copy by the capacity
 * (RES_BUFFERSIZE when the text was cut). */
RTS_RESULT CMStringCopy(CMString* str, const char* text, RTS_SIZE n);
/* Replace the text, growing as needed. */
RTS_RESULT CMStringCopy2(CMString* str, const char* text);

/* ---- tokenizer and binary search ----------------------------------------------------------- */

/* Pass as *pCount with tokens null to only count the tokens. */
#define CMUTL_TOKENIZER_COUNT_ONLY 0xFFFFFFFFu

/* Split line in place at a one-character separator (null: " "). *pCount gives the capacity of
 * tokens and receives the number of non-empty tokens; the last allowed token keeps the rest of
 * the line. No quoting. */
RTS_RESULT CMUtlArgumentTokenizer(char* line, char** tokens, RTS_UI32* pCount, const char* separator);

/* Not found / bad arguments answer of CMUtlBinarySearch_UI32. */
#define CMUTL_BINARY_SEARCH_NONE (~(RTS_SIZE)0)

/* Index of the record whose u32 at keyOffset equals key in an array of arraySize bytes of
 * elementSize-byte records sorted ascending by that field, searching from startIndex; else
 * CMUTL_BINARY_SEARCH_NONE with RES_NO_OBJECT (RES_PARAMETER for a bad array description). */
RTS_SIZE CMUtlBinarySearch_UI32(const void* array, RTS_SIZE arraySize, RTS_SIZE elementSize,
                                RTS_SIZE keyOffset, RTS_SIZE startIndex, RTS_UI32 key, RTS_RESULT* pResult);

/* Every function above, for the component manager's export registration. */
extern const CMExportEntry CMUtlHashExportTable[];

RTS_END_C

#endif
