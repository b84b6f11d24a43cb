/* The platform side of file access: opening a path in one of the six access modes, moving bytes
 * and the position, sizes and times, removing, renaming and copying by path, the final path of
 * a file, the environment for %VAR% names, and what the platform's errors mean as results.
 *
 * Every call that can fail hands back the operating system's error (0 on success) and, when it
 * fails, the name of the platform call that failed through pCall, so that the core can log
 * both. The core reaches the platform only through calls(); tests put a fake table in place
 * with set_calls. */
#ifndef SYSFILE_OS_H
#define SYSFILE_OS_H

#include "sys/os_seam.h"

namespace sysfile_os {

/* Where a position is counted from. */
enum class From { start, current, end };

struct Calls {
    /* Opens path with the access and creation of mode (AM_READ ... AM_APPEND_UPDATE, checked by
     * the core); the position is at the start. */
    rts::OsError (*open)(const char* path, RTS_UI32 mode, void** pFile, const char** pCall);
    rts::OsError (*close)(void* file, const char** pCall);
    /* Reads up to size bytes; fewer only at the end of the file. */
    rts::OsError (*read)(void* file, void* buffer, RTS_SIZE size, RTS_SIZE* pRead, const char** pCall);
    /* Writes size bytes; *pWritten says how many went out, also when it fails. */
    rts::OsError (*write)(void* file, const void* buffer, RTS_SIZE size, RTS_SIZE* pWritten,
                          const char** pCall);
    /* Moves to offset counted from `from` and gives the new position from the start. */
    rts::OsError (*seek)(void* file, RTS_I64 offset, From from, RTS_UI64* pPosition, const char** pCall);
    rts::OsError (*size)(void* file, RTS_UI64* pSize, const char** pCall);
    /* Creation, last access and last write in local-time seconds since 1970. */
    rts::OsError (*times)(void* file, RTS_UI32 (*pTimes)[3], const char** pCall);
    /* Makes the current position the end of the file. */
    rts::OsError (*set_end)(void* file, const char** pCall);
    rts::OsError (*flush)(void* file, const char** pCall);
    rts::OsError (*remove)(const char* path, const char** pCall);
    /* Never replaces an existing newPath. */
    rts::OsError (*rename)(const char* oldPath, const char* newPath, const char** pCall);
    /* Replaces an existing destPath. */
    rts::OsError (*copy)(const char* sourcePath, const char* destPath, const char** pCall);
    /* The final path of an existing file or directory as the platform writes it, into size bytes. */
    rts::OsError (*real_path)(const char* path, char* buffer, RTS_SIZE size, const char** pCall);

    /* The value of an environment variable for a %VAR% name, into size bytes; false when the
     * platform knows no value for it (the name then stays as it was). */
    bool (*environment)(const char* variable, char* buffer, RTS_SIZE size);
    /* The result an error of this platform stands for (RES_NO_OBJECT for a missing file, ...). */
    RTS_RESULT (*result_of)(rts::OsError error);
};

/* The table of this platform (sys/posix or sys/win32). */
const Calls& platform_calls();
/* The table in use: a fake put in place by set_calls, else the platform's. */
inline const Calls& calls() {
    return sys_os::current(platform_calls());
}
/* Puts a fake table in place; null restores the platform's. */
inline void set_calls(const Calls* fake) {
    sys_os::replace(fake);
}

} // namespace sysfile_os

#endif
