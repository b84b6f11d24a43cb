/* The configuration-file database under the settings: each open file's whole text held in
 * memory, sections ("[name]") and key lines ("key=value") found in it by search, values read
 * and edited in place, and the text written back through a temporary file, so that a crash in
 * the middle of a write leaves either the old or the new file. Comments, blank lines and lines
 * of any other form survive every edit byte for byte. */
#ifndef CMPINIFILE_H
#define CMPINIFILE_H

#include "rts_types.h"

RTS_BEGIN_C

/* One open file; the handles of the operations below point to such a record. The file handle
 * is open only inside a load or a write-back. */
typedef struct {
    RTS_HANDLE hFile;
    RTS_HANDLE hLock;
    RTS_UI64 length;
    char* text; /* length bytes and two zero bytes */
    RTS_UI32 writeProtected;
    RTS_UI32 modified;
    char fileName[512];
    char filter[512];
} IniDatabase;

/* IniOpen flags. */
#define INI_CREATE_MISSING 1u /* an empty file is made when none exists */
#define INI_DELETE_FIRST 2u   /* the file is deleted before it is loaded */
#define INI_APPEND_MISSING 4u /* a missing file is opened for appending (which never creates it) */

/* Opens a file (".cfg" appended to a name without "."); a name already open is read anew into
 * the same database. A missing file: RES_PARAMETER unless a flag says otherwise. */
RTS_HANDLE IniOpen(const char* fileName, RTS_UI32 flags, RTS_RESULT* pResult);
/* A database over a copy of the text given, never written to a file of its own accord. */
RTS_HANDLE IniOpen2(const char* name, const char* text, RTS_SIZE length, RTS_RESULT* pResult);
RTS_RESULT IniClose(RTS_HANDLE hDatabase);
RTS_RESULT IniDelete(RTS_HANDLE hDatabase);
/* *pLength: in the buffer's size (0: no limit), out the characters copied; without a buffer
 * the length the value needs with its terminator. */
RTS_RESULT IniReadValue(RTS_HANDLE hDatabase, const char* section, const char* key, char* buffer,
                        RTS_I32* pLength);
/* A pointer to the value inside the text, valid until the next change; refused for ".cfg" files. */
RTS_RESULT IniReadValue2(RTS_HANDLE hDatabase, const char* section, const char* key, char** ppValue);
/* Replaces or inserts the key's value and writes the file back. Values with control characters
 * or brackets: RES_NOTSUPPORTED. Key and value null with length 0: only makes the section. */
RTS_RESULT IniWriteValue(RTS_HANDLE hDatabase, const char* section, const char* key, const char* value,
                         RTS_I32 length);
/* Remove one key line, or every key line, of the section whose header begins at the offset
 * headerAt of the text; the text is changed, not written. The caller holds the settings lock. */
RTS_RESULT IniRemoveKey(RTS_HANDLE hDatabase, RTS_SIZE headerAt, const char* key);
RTS_RESULT IniRemoveAllKeys(RTS_HANDLE hDatabase, RTS_SIZE headerAt);
int IniIsWriteProtected(RTS_HANDLE hDatabase, RTS_RESULT* pResult);
/* The filter admits the sections whose "[name]" it contains (case ignored); empty admits all. */
RTS_RESULT IniSetFilter(RTS_HANDLE hDatabase, const char* filter);
/* 0 when the filter admits the section, 1 when not, RES_PARAMETER for bad arguments. */
RTS_RESULT IniCheckFilter(RTS_HANDLE hDatabase, const char* section);

/* For the settings above the database: the write protection of a database, the line end of new
 * lines put back to CR LF when a new master file is chosen, and every database released at the
 * settings' shut-down. */
RTS_RESULT IniSetWriteProtected(RTS_HANDLE hDatabase, RTS_UI32 writeProtected);
void IniResetLineSeparator(void);
void IniDeleteAll(void);

RTS_END_C

#endif
