/* Object dictionary (CmpObjectMgr): dictionaries that map pointer-sized object values to
 * 32-bit keys the dictionary invents, and back. A key encodes where its entry lies: the low
 * Bits bits are the bucket, the bits above them the position in the bucket's chain, so a key
 * is turned into its object with one mask and a short chain walk. */
#ifndef OBJMGR_H
#define OBJMGR_H

#include "rts_types.h"

RTS_BEGIN_C

/* Failure values: no key, no object (all ones). */
#define OBJMAN_NO_KEY 0xFFFFFFFFu
#define OBJMAN_NO_OBJECT (~(RTS_UINTPTR)0)

/* One object in a chain; a free entry (Object all ones) keeps its key for reuse. */
typedef struct ObjManEntry {
    struct ObjManEntry* Next;
    RTS_UINTPTR Object;
    RTS_UI32 Key;
} ObjManEntry;

/* A dictionary; its handle is its address. */
typedef struct ObjManDictionary {
    struct ObjManDictionary* Next; /* the component's list of open dictionaries */
    ObjManEntry** Buckets;
    RTS_UI64 BucketCount; /* a prime */
    RTS_UI64 Count;       /* objects held */
    RTS_HANDLE EntryPool; /* all ones while there is no table */
    RTS_UI64 Bits;        /* bit length of BucketCount */
    RTS_UI32 Mask;        /* (1 << Bits) - 1 */
    RTS_I32 Id;
    RTS_HANDLE Lock;    /* all ones: opened without lock */
    RTS_UI32 Signature; /* the component's mark of an open dictionary */
} ObjManDictionary;

/* Open a dictionary for about expectedCount objects: the bucket count is the first prime from
 * expectedCount on (at least 3). All ones when the id is open already, expectedCount is 0 or
 * too large, or memory is short. withLock serialises every operation on one lock. */
RTS_HANDLE ObjManDictionaryOpen(RTS_I32 id, RTS_UI64 expectedCount, RTS_I32 withLock);
/* RES_OK closed; RES_FAILED when not open; RES_PARAMETER for all ones or without the component. */
RTS_RESULT ObjManDictionaryClose(RTS_HANDLE hDictionary);
/* A new key for an object; OBJMAN_NO_KEY when it is held already, all ones, or on failure. */
RTS_UI32 ObjManDictionaryAddObject(RTS_HANDLE hDictionary, RTS_UINTPTR object);
/* Free the object's / key's entry: RES_OK, RES_FAILED when absent, RES_PARAMETER when invalid. */
RTS_RESULT ObjManDictionaryRemoveObject(RTS_HANDLE hDictionary, RTS_UINTPTR object);
RTS_RESULT ObjManDictionaryRemoveKey(RTS_HANDLE hDictionary, RTS_UI32 key);
/* Drop every object; keys start again at position 0. */
RTS_RESULT ObjManDictionaryClear(RTS_HANDLE hDictionary);
/* Number of objects (not entries). */
RTS_RESULT ObjManDictionaryGetSize(RTS_HANDLE hDictionary, RTS_UI64* pSize);
/* Key of an object, OBJMAN_NO_KEY when absent. */
RTS_UI32 ObjManDictionaryGetKey(RTS_HANDLE hDictionary, RTS_UINTPTR object);
/* Object of a key, OBJMAN_NO_OBJECT when absent. */
RTS_UINTPTR ObjManDictionaryGetObject(RTS_HANDLE hDictionary, RTS_UI32 key);

RTS_END_C

#endif
