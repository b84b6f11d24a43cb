/* GUID texts and byte-array texts of the utility library. */
#ifndef CMUTILS_GUID_H
#define CMUTILS_GUID_H

#include "cm.h"
#include "rts_types.h"

RTS_BEGIN_C

/* Bytes of a GUID's standard text: 36 characters and the terminator. */
#define CMUTL_GUID_TEXT_SIZE 37u

/* Writes the GUID as 36 lower-case characters xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx, Data1..Data3
 * most significant byte first. RES_PARAMETER for null pointers or a buffer below
 * CMUTL_GUID_TEXT_SIZE bytes. */
RTS_RESULT CMUtlGUIDToString(const RTS_GUID* pGuid, char* pszBuffer, RTS_SIZE bufferSize);
/* Reads "{8-8-8-8}", "8-8-8-8" (each group a 32-bit number) or the standard 8-4-4-4-12 text,
 * hex digits of either case. RES_INVALID_FORMAT for anything else, RES_PARAMETER for null. */
RTS_RESULT CMUtlStringToGUID(const char* pszGuid, RTS_GUID* pGuid);
/* Writes n bytes as 2n lower-case hex digits and a terminator; needs n > 0 and *pSize >= 2n+1
 * (else RES_PARAMETER); sets *pSize to 2n+1. */
RTS_RESULT CMUtlByteArrayToString(const RTS_UI8* pBytes, RTS_SIZE n, char* pszBuffer, RTS_SIZE* pSize);
/* Reads pairs of hex digits into bytes; the text length must be even and nonzero and *pSize at
 * least half of it (else RES_PARAMETER); a pair that is not two hex digits gives RES_FAILED.
 * Sets *pSize to the number of bytes. */
RTS_RESULT CMUtlStringToByteArray(const char* pszText, RTS_UI8* pBytes, RTS_SIZE* pSize);

/* These functions for the manager's function table; ends at a null entry. */
extern const CMExportEntry CMUtlGuidExportTable[];

RTS_END_C

#endif
