/* What the file component asks of its path mapping: the configuration read at CH_INIT and
 * released at CH_EXIT, the mapping of a caller's name through the system or the application
 * list, whether a name is one of the protected configuration files, and the cache of checksums
 * kept in the settings section "SysFileMap". */
#pragma once

#include "rts_types.h"

namespace sysfile_map {

enum class List { system, application };

RTS_RESULT read_configuration();
void release();
/* The real path of name in buffer: RES_OK, RES_NOT_ALLOWED (buffer cleared), RES_BUFFERSIZE,
 * RES_PARAMETER. Before the configuration is read, names stay as they are. */
RTS_RESULT map(const char* name, List list, char* buffer, RTS_SIZE size);
/* Whether an application path list is configured. */
bool has_application_list();
/* Whether the file name of path is a protected configuration file or its temporary file. */
bool is_protected(const char* path);

/* The checksum cache: entries of mapped paths that are not protected. */
void forget_checksum(const char* path);
void move_checksum(const char* oldPath, const char* newPath);
bool cached_checksum(const char* path, RTS_SIZE size, RTS_UI32* pCrc);
void store_checksum(const char* path, RTS_SIZE size, RTS_UI32 crc);

/* The mapping's own exports, registered with the file component's. */
RTS_RESULT export_functions();

} // namespace sysfile_map
