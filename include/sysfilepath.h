/* File path mapping (SysFile): placeholders, the application path, the protected configuration
 * files and the blacklist, the tests of what an online client may touch, and the configured
 * directories. The "Is" operations answer RES_OK for yes and RES_FAILED for no. */
#ifndef SYSFILEPATH_H
#define SYSFILEPATH_H

#include "rts_types.h"

RTS_BEGIN_C

/* Attributes of a configured directory. */
#define SYSFILE_ATTR_VIEW 0x1u
#define SYSFILE_ATTR_VOLATILE 0x2u
#define SYSFILE_ATTR_CREATE_ON_WRITE 0x4u
#define SYSFILE_ATTR_TEMPORARY 0x8u
#define SYSFILE_ATTR_VPARENT 0x10u

/* RES_DUPLICATE when the name exists; the attributes keep their low 4 bits. */
RTS_RESULT SysFileRegisterPlaceholder(const char* name, const char* path, RTS_UI8 attributes);
/* The path (empty: the current one) mapped and ending in "/" becomes the application path. */
RTS_RESULT SysFileSetIecPath(const char* path);
/* "" or "$PlcLogic$". */
const char* SysFileGetPlcLogicPrefix(void);
/* buffer = [prefix "/" [subDirectory "/"]] fileName suffix; the prefix part only when the prefix
 * is set and the file name has no "/". */
RTS_RESULT SysFilePlcLogicPrefix(char* buffer, RTS_SIZE size, const char* subDirectory, const char* fileName,
                                 const char* suffix);
RTS_RESULT SysFileIsBlacklisted(const char* name);
RTS_RESULT SysFileAddToBlacklist(const char* name);
RTS_RESULT SysFileIsOnlineAccessDenied(const char* name);
RTS_RESULT SysFileIsOnlineModifyAccessDenied(const char* name);
RTS_RESULT SysFileIsInvisible(const char* name);
/* The placeholders listed with View: a handle per entry, the invalid handle with
 * RES_NOMOREENTRIES at the end. Without buffers the first call gives a start handle. Option 1
 * lists entries without View too, option 2 gives a parent's name instead of the path. */
RTS_HANDLE SysFileGetFirstConfiguredPath(char* path, RTS_SIZE pathSize, char* name, RTS_SIZE nameSize,
                                         RTS_RESULT* pResult);
RTS_HANDLE SysFileGetNextConfiguredPath(RTS_HANDLE h, char* path, RTS_SIZE pathSize, char* name,
                                        RTS_SIZE nameSize, RTS_RESULT* pResult);
RTS_HANDLE SysFileGetNextConfiguredPath2(RTS_HANDLE h, char* path, RTS_SIZE pathSize, char* name,
                                         RTS_SIZE nameSize, RTS_UI32 options, RTS_RESULT* pResult);

RTS_END_C

#endif
