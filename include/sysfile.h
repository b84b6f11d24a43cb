/* File access (SysFile): named files opened in six access modes, read and written through
 * handles, and the operations on names (delete, rename, copy, size, time, checksum, paths).
 * Operations without a trailing underscore take the caller's name; those with one take the
 * path as the platform knows it, with %VAR% expanded from the environment. */
#ifndef SYSFILE_H
#define SYSFILE_H

#include "rts_types.h"

RTS_BEGIN_C

/* Access modes. The appending modes write at the end whatever the position. */
#define AM_READ 0u          /* existing file, read only */
#define AM_WRITE 1u         /* created or truncated, write only */
#define AM_APPEND 2u        /* existing file (never created), write only at the end */
#define AM_READ_UPDATE 3u   /* existing file, read and write */
#define AM_WRITE_UPDATE 4u  /* created or truncated, read and write */
#define AM_APPEND_UPDATE 5u /* created when missing, read and write at the end */

/* Status of an open file. */
#define FS_OK 0u      /* after an open or a position change */
#define FS_NO_FILE 1u /* not (or no longer) open */
#define FS_EOF 4u     /* a read gave fewer bytes than asked */

/* Creation, last access and last write: seconds since 1970-01-01 00:00, both in local time. */
typedef struct {
    RTS_UI32 ulCreation;
    RTS_UI32 ulLastAccess;
    RTS_UI32 ulLastModification;
} SysFileTime;

/* Events of component 260 for an event service, when one is there: after SysFileOpen opened a
 * file, and before SysFileClose closes one, with these arguments. */
#define SYSFILE_EVENT_OPENED 0x10001u
#define SYSFILE_EVENT_CLOSING 0x10002u
typedef struct {
    RTS_HANDLE hFile;
    const char* path;
    RTS_UI32 mode;
} SysFileOpenedEvent;
typedef struct {
    RTS_HANDLE hFile;
} SysFileClosingEvent;

/* Named files: each name is mapped to its path first (sysfilepath.h). */
RTS_HANDLE SysFileOpen(const char* name, RTS_UI32 mode, RTS_RESULT* pResult);
RTS_RESULT SysFileDelete(const char* name);
/* Never replaces: RES_DUPLICATE when the new name exists. */
RTS_RESULT SysFileRename(const char* oldName, const char* newName);
/* Replaces the destination; *pCopied (may be null) gets the source's size. */
RTS_RESULT SysFileCopy(const char* destName, const char* sourceName, RTS_SIZE* pCopied);
RTS_SIZE SysFileGetSize(const char* name, RTS_RESULT* pResult);
RTS_RESULT SysFileGetTime(const char* name, SysFileTime* pTime);
/* CRC-32 over the first maxSize bytes (0: the whole file) read in pieces of 256 bytes, each
 * piece continuing from the finished value of the piece before. */
RTS_RESULT SysFileGenerateCRC(const char* name, RTS_SIZE maxSize, RTS_UI32* pCrc);
/* The standard CRC-32 of the first maxSize bytes (0: all); with useCache a checksum cached for
 * the same maxSize is answered without reading, and a computed one is cached. */
RTS_RESULT SysFileGenerateCRC2(const char* name, RTS_SIZE maxSize, RTS_UI32* pCrc);
RTS_RESULT SysFileGenerateCRC3(const char* name, RTS_SIZE maxSize, RTS_UI32* pCrc, int useCache);
/* The drive and directory part of a name ("dir/sub/" for "dir/sub/file.txt"); mode 2 and 3 give
 * the whole path. RES_FAILED when the name has neither "/" nor ":"; RES_BUFFERSIZE when cut. */
RTS_RESULT SysFileGetPath(const char* name, char* buffer, RTS_SIZE size);
RTS_RESULT SysFileGetPath2(const char* name, RTS_I32 mode, char* buffer, RTS_SIZE size);
RTS_RESULT SysFileGetFullPath(const char* name, char* buffer, RTS_SIZE size);
RTS_RESULT SysFileGetFullPath2(const char* name, RTS_I32 mode, char* buffer, RTS_SIZE size);
RTS_RESULT SysFileGetIecPath(const char* name, char* buffer, RTS_SIZE size);
RTS_RESULT SysFileGetIecPath2(const char* name, RTS_I32 mode, char* buffer, RTS_SIZE size);

/* Handles and paths as they are. */
RTS_HANDLE SysFileOpen_(const char* path, RTS_UI32 mode, RTS_RESULT* pResult);
RTS_RESULT SysFileClose(RTS_HANDLE hFile);
RTS_RESULT SysFileClose_(RTS_HANDLE hFile);
RTS_SIZE SysFileRead(RTS_HANDLE hFile, void* pBuffer, RTS_SIZE size, RTS_RESULT* pResult);
/* A full disk gives RES_DISK_FULL with the number of bytes that were written. */
RTS_SIZE SysFileWrite(RTS_HANDLE hFile, const void* pBuffer, RTS_SIZE size, RTS_RESULT* pResult);
RTS_RESULT SysFileSetPos(RTS_HANDLE hFile, RTS_SIZE offset);
RTS_RESULT SysFileGetPos(RTS_HANDLE hFile, RTS_SIZE* pPosition);
/* RES_OK only after a short read that left the position at (or past) the end. */
RTS_RESULT SysFileEOF(RTS_HANDLE hFile);
RTS_RESULT SysFileFlush(RTS_HANDLE hFile);
RTS_RESULT SysFileTruncate(RTS_HANDLE hFile, RTS_SIZE size);
RTS_SIZE SysFileGetSizeByHandle(RTS_HANDLE hFile, RTS_RESULT* pResult);
RTS_UI32 SysFileGetStatus(RTS_HANDLE hFile, RTS_RESULT* pResult);
const char* SysFileGetName(RTS_HANDLE hFile, RTS_RESULT* pResult);
RTS_RESULT SysFileDeleteByHandle(RTS_HANDLE hFile);
RTS_RESULT SysFileDelete_(const char* path);
RTS_RESULT SysFileRename_(const char* oldPath, const char* newPath);
RTS_RESULT SysFileCopy_(const char* destPath, const char* sourcePath, RTS_SIZE* pCopied);
RTS_SIZE SysFileGetSize_(const char* path, RTS_RESULT* pResult);
RTS_RESULT SysFileGetTime_(const char* path, SysFileTime* pTime);
/* The final path of an existing file or directory (links resolved) with "/" separators. */
RTS_RESULT SysFileGetRealPath_(const char* path, char* buffer, RTS_SIZE size);
RTS_RESULT SysFileGenerateCRC2_(const char* path, RTS_SIZE maxSize, RTS_UI32* pCrc);
RTS_RESULT SysFileGenerateCRC3_(const char* path, RTS_SIZE maxSize, RTS_UI32* pCrc, int useCache);

/* Parameter records of the lower-case entries: the arguments in order, then the result. */
typedef struct {
    const char* name;
    RTS_UI32 mode;
    RTS_RESULT* pResult;
    RTS_HANDLE result;
} sysfileopen_struct;
typedef struct {
    RTS_HANDLE hFile;
    RTS_RESULT result;
} sysfilehandle_struct; /* sysfileclose, sysfileeof, sysfileflush, sysfiledeletebyhandle */
typedef struct {
    RTS_HANDLE hFile;
    void* pBuffer;
    RTS_SIZE size;
    RTS_RESULT* pResult;
    RTS_SIZE result;
} sysfileread_struct; /* sysfileread, sysfilewrite */
typedef struct {
    const char* name;
    RTS_RESULT result;
} sysfiledelete_struct;
typedef struct {
    const char* oldName;
    const char* newName;
    RTS_RESULT result;
} sysfilerename_struct;
typedef struct {
    const char* destName;
    const char* sourceName;
    RTS_SIZE* pCopied;
    RTS_RESULT result;
} sysfilecopy_struct;
typedef struct {
    const char* name;
    RTS_RESULT* pResult;
    RTS_SIZE result;
} sysfilegetsize_struct;
typedef struct {
    RTS_HANDLE hFile;
    RTS_RESULT* pResult;
    RTS_SIZE result;
} sysfilegetsizebyhandle_struct;
typedef struct {
    const char* name;
    SysFileTime* pTime;
    RTS_RESULT result;
} sysfilegettime_struct;
typedef struct {
    const char* name;
    char* buffer;
    RTS_SIZE size;
    RTS_RESULT result;
} sysfilegetpath_struct;
typedef struct {
    RTS_HANDLE hFile;
    RTS_SIZE* pPosition;
    RTS_RESULT result;
} sysfilegetpos_struct;
typedef struct {
    RTS_HANDLE hFile;
    RTS_SIZE position;
    RTS_RESULT result;
} sysfilesetpos_struct; /* sysfilesetpos, sysfiletruncate */
typedef struct {
    RTS_HANDLE hFile;
    RTS_RESULT* pResult;
    RTS_UI32 result;
} sysfilegetstatus_struct;
typedef struct {
    RTS_HANDLE hFile;
    RTS_RESULT* pResult;
    RTS_UI32 status;
    RTS_RESULT result;
} sysfilegetstatus2_struct; /* the status and the result as fields */
typedef struct {
    RTS_HANDLE hFile;
    RTS_RESULT* pResult;
    const char* result;
} sysfilegetname_struct;
typedef struct {
    RTS_HANDLE hFile;
    char* buffer;
    RTS_SIZE size;
    RTS_RESULT result;
} sysfilegetname2_struct; /* the name copied into the caller's buffer */

void sysfileopen(sysfileopen_struct* p);
void sysfileclose(sysfilehandle_struct* p);
void sysfileread(sysfileread_struct* p);
void sysfilewrite(sysfileread_struct* p);
void sysfiledelete(sysfiledelete_struct* p);
void sysfiledeletebyhandle(sysfilehandle_struct* p);
void sysfilerename(sysfilerename_struct* p);
void sysfilecopy(sysfilecopy_struct* p);
void sysfilegetsize(sysfilegetsize_struct* p);
void sysfilegetsizebyhandle(sysfilegetsizebyhandle_struct* p);
void sysfilegettime(sysfilegettime_struct* p);
void sysfilegetpath(sysfilegetpath_struct* p);
void sysfilegetpos(sysfilegetpos_struct* p);
void sysfilesetpos(sysfilesetpos_struct* p);
void sysfileeof(sysfilehandle_struct* p);
void sysfileflush(sysfilehandle_struct* p);
void sysfiletruncate(sysfilesetpos_struct* p);
void sysfilegetstatus(sysfilegetstatus_struct* p);
void sysfilegetstatus2(sysfilegetstatus2_struct* p);
void sysfilegetname(sysfilegetname_struct* p);
void sysfilegetname2(sysfilegetname2_struct* p);

/* The interface object the component makes for class 260: its query (the fifth pointer-sized
 * field) answers interface 260 with the table below and 0 with the object itself, counting a
 * reference for every answered query. */
#define SYSFILE_CLASS_ID 260u
#define SYSFILE_INTERFACE_ID 260u

typedef struct {
    RTS_HANDLE (*open)(const char* name, RTS_UI32 mode, RTS_RESULT* pResult);
    RTS_RESULT (*close)(RTS_HANDLE hFile);
    RTS_UI32 (*getStatus)(RTS_HANDLE hFile, RTS_RESULT* pResult);
    const char* (*getName)(RTS_HANDLE hFile, RTS_RESULT* pResult);
    RTS_SIZE (*read)(RTS_HANDLE hFile, void* pBuffer, RTS_SIZE size, RTS_RESULT* pResult);
    RTS_SIZE (*write)(RTS_HANDLE hFile, const void* pBuffer, RTS_SIZE size, RTS_RESULT* pResult);
    RTS_RESULT (*remove)(const char* name);
    RTS_RESULT (*removeByHandle)(RTS_HANDLE hFile);
    RTS_RESULT (*rename)(const char* oldName, const char* newName);
    RTS_RESULT (*setPos)(RTS_HANDLE hFile, RTS_SIZE offset);
    RTS_RESULT (*getPos)(RTS_HANDLE hFile, RTS_SIZE* pPosition);
    RTS_SIZE (*getSize)(const char* name, RTS_RESULT* pResult);
    RTS_SIZE (*getSizeByHandle)(RTS_HANDLE hFile, RTS_RESULT* pResult);
    RTS_RESULT (*getTime)(const char* name, SysFileTime* pTime);
    RTS_RESULT (*eof)(RTS_HANDLE hFile);
    RTS_RESULT (*copy)(const char* destName, const char* sourceName, RTS_SIZE* pCopied);
    RTS_RESULT (*getPath)(const char* name, char* buffer, RTS_SIZE size);
} SysFileInterface;

typedef struct {
    void* reserved[4];
    void* (*QueryInterface)(void* object, RTS_UI32 interfaceId, RTS_RESULT* pResult);
    RTS_I32 references;
} SysFileObject;

RTS_END_C

#endif
