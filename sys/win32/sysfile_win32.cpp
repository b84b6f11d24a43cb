/* File access on Windows: CreateFileA with the access and creation of each mode, shared for
 * reading, writing and deleting; ReadFile, WriteFile, SetFilePointer, GetFileSize and
 * GetFileInformationByHandle on the handle; DeleteFileA, MoveFileA (never replacing) and
 * CopyFileA (replacing) on paths; GetFinalPathNameByHandleA for the final path. Errors are
 * GetLastError() values. */
#include <windows.h>

#include "sys/sysfile_os.h"

namespace {

using sys_os::failed;

struct Mode {
    DWORD access;
    DWORD creation;
};

constexpr Mode kModes[] = {
    {GENERIC_READ, OPEN_EXISTING},                 /* read */
    {GENERIC_WRITE, CREATE_ALWAYS},                /* write */
    {GENERIC_WRITE, OPEN_EXISTING},                /* append */
    {GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING}, /* read update */
    {GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS}, /* write update */
    {GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS},   /* append update */
};
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
/* ReadFile and WriteFile move at most this many bytes per call. */
constexpr RTS_SIZE kMaxPiece = 0x40000000;
/* 1601-01-01 to 1970-01-01 in file-time units of 100 ns. */
constexpr ULONGLONG kFileTime1970 = 116444736000000000ULL;
constexpr ULONGLONG kUnitsPerSecond = 10000000ULL;

HANDLE handle(void* file) {
    return static_cast<HANDLE>(file);
}

rts::OsError last_error(const char* call, const char** pCall) {
    return failed(call, GetLastError(), pCall);
}

rts::OsError open_file(const char* path, RTS_UI32 mode, void** pFile, const char** pCall) {
    HANDLE h = CreateFileA(path, kModes[mode].access, kShareAll, nullptr, kModes[mode].creation,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return last_error("CreateFileA", pCall);
    *pFile = h;
    return rts::kOsOk;
}

rts::OsError close_file(void* file, const char** pCall) {
    return CloseHandle(handle(file)) ? rts::kOsOk : last_error("CloseHandle", pCall);
}

rts::OsError read_file(void* file, void* buffer, RTS_SIZE size, RTS_SIZE* pRead, const char** pCall) {
    auto* at = static_cast<char*>(buffer);
    *pRead = 0;
    while (*pRead < size) {
        DWORD n = 0;
        const RTS_SIZE piece = size - *pRead < kMaxPiece ? size - *pRead : kMaxPiece;
        if (!ReadFile(handle(file), at + *pRead, static_cast<DWORD>(piece), &n, nullptr))
            return last_error("ReadFile", pCall);
        if (n == 0) break;
        *pRead += n;
    }
    return rts::kOsOk;
}

rts::OsError write_file(void* file, const void* buffer, RTS_SIZE size, RTS_SIZE* pWritten,
                        const char** pCall) {
    const auto* at = static_cast<const char*>(buffer);
    *pWritten = 0;
    while (*pWritten < size) {
        DWORD n = 0;
        const RTS_SIZE piece = size - *pWritten < kMaxPiece ? size - *pWritten : kMaxPiece;
        const BOOL ok = WriteFile(handle(file), at + *pWritten, static_cast<DWORD>(piece), &n, nullptr);
        *pWritten += n;
        if (!ok) return last_error("WriteFile", pCall);
    }
    return rts::kOsOk;
}

rts::OsError seek(void* file, RTS_I64 offset, sysfile_os::From from, RTS_UI64* pPosition,
                  const char** pCall) {
    const DWORD method = from == sysfile_os::From::start ? FILE_BEGIN
                         : from == sysfile_os::From::end ? FILE_END
                                                         : FILE_CURRENT;
    LONG high = static_cast<LONG>(offset >> 32);
    SetLastError(NO_ERROR);
    const DWORD low = SetFilePointer(handle(file), static_cast<LONG>(offset & 0xFFFFFFFF), &high, method);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return last_error("SetFilePointer", pCall);
    *pPosition = (static_cast<RTS_UI64>(static_cast<DWORD>(high)) << 32) | low;
    return rts::kOsOk;
}

rts::OsError size(void* file, RTS_UI64* pSize, const char** pCall) {
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(handle(file), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return last_error("GetFileSize", pCall);
    *pSize = (static_cast<RTS_UI64>(high) << 32) | low;
    return rts::kOsOk;
}

bool local_seconds(const FILETIME& time, RTS_UI32* pSeconds) {
    FILETIME local{};
    if (!FileTimeToLocalFileTime(&time, &local)) return false;
    const ULONGLONG units = (static_cast<ULONGLONG>(local.dwHighDateTime) << 32) | local.dwLowDateTime;
    *pSeconds = static_cast<RTS_UI32>((units - kFileTime1970) / kUnitsPerSecond);
    return true;
}

rts::OsError times(void* file, RTS_UI32 (*pTimes)[3], const char** pCall) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle(file), &info))
        return last_error("GetFileInformationByHandle", pCall);
    const FILETIME* sources[] = {&info.ftCreationTime, &info.ftLastAccessTime, &info.ftLastWriteTime};
    for (int i = 0; i < 3; ++i) {
        if (!local_seconds(*sources[i], &(*pTimes)[i])) return last_error("FileTimeToLocalFileTime", pCall);
    }
    return rts::kOsOk;
}

rts::OsError set_end(void* file, const char** pCall) {
    return SetEndOfFile(handle(file)) ? rts::kOsOk : last_error("SetEndOfFile", pCall);
}

rts::OsError flush(void* file, const char** pCall) {
    return FlushFileBuffers(handle(file)) ? rts::kOsOk : last_error("FlushFileBuffers", pCall);
}

rts::OsError remove_file(const char* path, const char** pCall) {
    return DeleteFileA(path) ? rts::kOsOk : last_error("DeleteFileA", pCall);
}

rts::OsError rename_file(const char* oldPath, const char* newPath, const char** pCall) {
    return MoveFileA(oldPath, newPath) ? rts::kOsOk : last_error("MoveFileA", pCall);
}

rts::OsError copy_file(const char* sourcePath, const char* destPath, const char** pCall) {
    return CopyFileA(sourcePath, destPath, FALSE) ? rts::kOsOk : last_error("CopyFileA", pCall);
}

/* Directories open too (backup semantics); others may only read the file meanwhile. */
rts::OsError real_path(const char* path, char* buffer, RTS_SIZE size, const char** pCall) {
    HANDLE h =
        CreateFileA(path, 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return last_error("CreateFileA", pCall);
    const DWORD n = GetFinalPathNameByHandleA(h, buffer, static_cast<DWORD>(size), FILE_NAME_NORMALIZED);
    const rts::OsError error = n == 0 ? last_error("GetFinalPathNameByHandleA", pCall)
                               : n >= size
                                   ? failed("GetFinalPathNameByHandleA", ERROR_INSUFFICIENT_BUFFER, pCall)
                                   : rts::kOsOk;
    CloseHandle(h);
    return error;
}

bool variable(const char* name, char* buffer, RTS_SIZE size) {
    const DWORD n = GetEnvironmentVariableA(name, buffer, static_cast<DWORD>(size));
    return n != 0 && n < size;
}

/* Windows before version 6 keeps the data of all users under the profile's AppData. */
bool environment(const char* name, char* buffer, RTS_SIZE size) {
    if (variable(name, buffer, size)) return true;
    constexpr DWORD kFirstWithProgramData = 6;
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const bool old = GetVersionExA(&version) && version.dwMajorVersion < kFirstWithProgramData;
#pragma GCC diagnostic pop
    return old && lstrcmpA(name, "ProgramData") == 0 && variable("AppData", buffer, size);
}

RTS_RESULT result_of(rts::OsError error) {
    switch (error) {
        case NO_ERROR:
            return RES_OK;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return RES_NO_OBJECT;
        case ERROR_ACCESS_DENIED:
            return RES_NO_ACCESS;
        case ERROR_INVALID_HANDLE:
            return RES_INVALID_HANDLE;
        case ERROR_NOT_ENOUGH_MEMORY:
            return RES_NO_RESOURCES;
        case ERROR_WRITE_PROTECT:
            return RES_WRITE_PROTECTED;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return RES_DUPLICATE;
        case ERROR_INVALID_PARAMETER:
            return RES_PARAMETER;
        case ERROR_DISK_FULL:
            return RES_DISK_FULL;
        default:
            return RES_FAILED;
    }
}

const sysfile_os::Calls kCalls = {
    open_file, close_file,  read_file,   write_file, seek,      size,        times,     set_end,
    flush,     remove_file, rename_file, copy_file,  real_path, environment, result_of,
};

} // namespace

const sysfile_os::Calls& sysfile_os::platform_calls() {
    return kCalls;
}
