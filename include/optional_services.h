/* The calls this system makes to services that are not part of the program: a command shell, a
 * communication server, a tag reader and writer, and a user management. Components import them
 * by name at run time (each may be missing); the prototypes here fix the types both sides agree
 * on, so an import is checked against them at compile time. Our own versions of these services,
 * for tests and the developer shell, live in tools/collaborators. */
#ifndef OPTIONAL_SERVICES_H
#define OPTIONAL_SERVICES_H

#include "rts_types.h"
#include "events.h"

RTS_BEGIN_C

/* ---- command shell --------------------------------------------------------------------------
 * The shell hands every command line to every registered handler; a handler answers only its
 * own command and appends its answer text to the output context. */
typedef struct {
    const char* command;   /* the first word of the line */
    const char* arguments; /* the rest of the line after one blank, never null */
    RTS_HANDLE output;     /* the answer being built */
} PlcShellRequest;
typedef RTS_RESULT (*PF_PLC_SHELL_HANDLER)(PlcShellRequest* pRequest);

RTS_RESULT PlcShellRegister(const char* command, const char* help, PF_PLC_SHELL_HANDLER handler,
                            RTS_UI32 reserved);
RTS_RESULT PlcShellUnregister(PF_PLC_SHELL_HANDLER handler);
RTS_RESULT PlcShellAppend(const char* text, RTS_HANDLE output);

/* ---- tag writer and reader ------------------------------------------------------------------
 * A tag is an 8-byte header (u32 tag id, u32 content length, both little-endian) and its
 * content. Ids of 128 and above are containers whose content is a sequence of tags. */
#define BTAG_HEADER_SIZE 8u
#define BTAG_MAX_DEPTH 8u
/* Start-tag flag: the content is followed by zero bytes up to a multiple of 4 (counted in the
 * content length). Other flag bits are accepted and carry no meaning here. */
#define BTAG_FLAG_ALIGN4 0x4u

typedef struct {
    RTS_UI8* buffer;
    RTS_UI32 size;
    RTS_UI32 pos;
    RTS_UI32 depth;
    RTS_UI32 open[BTAG_MAX_DEPTH];  /* header offsets of the open tags */
    RTS_UI32 flags[BTAG_MAX_DEPTH]; /* their start flags */
    RTS_RESULT error;               /* first failure since the last save point */
} BTagWriter;

typedef struct {
    RTS_UI32 pos;
    RTS_UI32 depth;
} BTagSavepoint;

/* RES_PARAMETER for a null writer or a buffer without room for one header. */
RTS_RESULT BTagWriterInit(BTagWriter* pWriter, RTS_UI8* buffer, RTS_UI32 size);
/* RES_BUFFERSIZE when the header does not fit, RES_OVERFLOW past BTAG_MAX_DEPTH. */
RTS_RESULT BTagWriterStartTag(BTagWriter* pWriter, RTS_UI32 tagId, RTS_UI32 flags);
/* Appends content to the open tag; the data may lie in the writer's own free room. */
RTS_RESULT BTagWriterAppendBlob(BTagWriter* pWriter, const void* data, RTS_UI32 size);
/* Closes the innermost open tag (its id must match: else RES_INVALID_FORMAT). */
RTS_RESULT BTagWriterEndTag(BTagWriter* pWriter, RTS_UI32 tagId);
/* Where the next content byte goes and how many bytes are left. */
RTS_RESULT BTagWriterGetAvailableBuffer(BTagWriter* pWriter, RTS_UI8** ppBuffer, RTS_UI32* pSize);
RTS_RESULT BTagWriterCreateSavepoint(BTagWriter* pWriter, BTagSavepoint* pSavepoint);
/* Drops everything written after the save point, and the failure since. */
RTS_RESULT BTagWriterRestoreSavepoint(BTagWriter* pWriter, const BTagSavepoint* pSavepoint);
/* Closes open tags and gives the length of the answer; the first failure, if any. */
RTS_RESULT BTagWriterFinish(BTagWriter* pWriter, RTS_UI32* pSize);

typedef struct {
    const RTS_UI8* data;
    RTS_UI32 size;
    RTS_UI32 pos;
} BTagReader;

typedef struct {
    RTS_UI32 tagId;
    const RTS_UI8* content;
    RTS_UI32 size;
} BTagItem;

RTS_RESULT BTagReaderInit(BTagReader* pReader, const RTS_UI8* data, RTS_UI32 size);
/* The next tag of the reader's range: RES_NOMOREENTRIES at its end, RES_INVALID_FORMAT for a
 * header or content that leaves the range. A container is read by a reader on its content. */
RTS_RESULT BTagReaderMoveNext(BTagReader* pReader, BTagItem* pItem);

/* ---- communication server --------------------------------------------------------------------
 * Requests of a service group go to the handler registered for it; a handler that answers
 * calls ServerFinishRequest with the channel and the answer it wrote. */
typedef struct {
    RTS_UI16 serviceGroup;
    RTS_UI16 command;
    RTS_UI32 sessionId;
    RTS_UI32 contentSize;
} ServerRequestHeader;

typedef struct {
    RTS_UI8* pData;
    RTS_UI32 size;
} ServerBuffer;

typedef RTS_RESULT (*PF_SERVER_HANDLER)(RTS_UI32 channelId, ServerRequestHeader* pHeader,
                                        ServerBuffer* pRequest, ServerBuffer* pAnswer);

RTS_RESULT ServerRegisterServiceHandler(RTS_UI32 serviceGroup, PF_SERVER_HANDLER handler);
RTS_RESULT ServerUnRegisterServiceHandler(RTS_UI32 serviceGroup, PF_SERVER_HANDLER handler);
RTS_RESULT ServerFinishRequest(RTS_UI32 channelId, ServerBuffer* pAnswer);

/* Adds the user notifications that wait for an online client to an answer being written. */
RTS_RESULT SrvGetUserNotificationService(BTagWriter* pWriter);

/* ---- events: the calls of events.h ---------------------------------------------------------- */

/* The settings' events as the online settings service posts them (component 26). */
#define SETTG_EVENT_READ 0x10001u    /* SettgReadEvent: a listener may replace the result */
#define SETTG_EVENT_CHANGE 0x10002u  /* SettgChangeEvent: a listener may refuse the change */
#define SETTG_EVENT_LISTING 0x10003u /* SettgListingEvent: listeners add SettgListingEntry blocks */
#define SETTG_VALUE_TEXT 1u
#define SETTG_VALUE_INT 2u

/* One setting and its value: an RTS_I32 or a text of `size` bytes (without a terminator). */
typedef struct {
    const char* component;
    const char* key;
    RTS_UI32 kind;
    const void* value;
    RTS_UI32 size;
} SettgChange;
typedef struct {
    SettgChange setting;
    RTS_RESULT result;
} SettgReadEvent;
typedef struct {
    const char* text; /* what the client sent along, or null */
    RTS_UI32 sessionId;
    const SettgChange* change;
    RTS_RESULT result; /* RES_OK when posted; RES_ALREADY: nothing to write */
} SettgChangeEvent;
typedef struct {
    const char* text;
    RTS_UI32 sessionId;
    RTS_HANDLE pool; /* blocks of 64 bytes, each a SettgListingEntry on the used list */
} SettgListingEvent;
/* A listed setting: its component and key, and the further tags of its listing (encoded with
 * the tag writer) that the lister keeps alive until the listing is done. */
typedef struct {
    const char* component;
    const char* key;
    const RTS_UI8* tags;
    RTS_UI32 tagsSize;
} SettgListingEntry;

/* ---- device packages -------------------------------------------------------------------------
 * A device backup posts event 0x10001 of component 154 to its listeners, which put the files
 * they own into packages of the backup. */
#define DM_CMPID 154u
#define DM_EVENT_BACKUP 0x10001u
#define DM_ACTION_BACKUP 2u
#define DM_ACTION_RESTORE 6u
typedef struct {
    RTS_UI32 action;
    void* context;
    RTS_RESULT result; /* a listener sets it only while it is still RES_OK */
} DMBackupEvent;
RTS_HANDLE DMPackageCreate(void* context, RTS_UI32 cmpId, const char* name, RTS_RESULT* pResult);
RTS_RESULT DMPackageBackupFile(RTS_HANDLE hPackage, const char* fileName, const char* key);
RTS_RESULT DMPackageClose(RTS_HANDLE hPackage);

/* ---- user management ------------------------------------------------------------------------ */
#define USERMGR_RIGHT_VIEW 1u
#define USERMGR_RIGHT_MODIFY 2u
/* The tag UserMgrAddOnlineAccessError writes: the 16-bit refusal, the u32 right, the object. */
#define USERMGR_TAG_ACCESS_ERROR 0x7Eu

/* RES_OK when the session holds the rights on the object, else RES_NO_ACCESS. */
RTS_RESULT UserMgrHasAccessRights(const char* object, RTS_UI32 sessionId, RTS_UI32 rights);
RTS_RESULT UserMgrAddOnlineAccessError(BTagWriter* pWriter, const char* object, RTS_UI32 rights,
                                       RTS_UI32 sessionId);
RTS_HANDLE UserMgrObjectAdd(const char* object, RTS_RESULT* pResult);
RTS_RESULT UserMgrObjectSetUsedRights(RTS_HANDLE hObject, RTS_UI32 usedRights);
RTS_HANDLE UserMgrObjectOpen(const char* object, RTS_RESULT* pResult);
RTS_RESULT UserMgrObjectRemove(RTS_HANDLE hObject);

RTS_END_C

#endif
