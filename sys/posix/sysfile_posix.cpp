/* File access on POSIX. A file is an open descriptor; the access modes become open flags with
 * the same create, truncate and existing-only meaning as on Windows (appending is done by the
 * core, which moves to the end before each write, so no O_APPEND). A directory never opens as
 * a file, as on Windows. A rename never replaces its target and is one atomic step. Errors are errno values,
 * and they mean the results the Windows errors of the same kind mean. */
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sys/sysfile_os.h"

namespace {

using sys_os::failed;

constexpr int kOpenFlags[] = {
    O_RDONLY,                     /* read */
    O_WRONLY | O_CREAT | O_TRUNC, /* write */
    O_WRONLY,                     /* append */
    O_RDWR,                       /* read update */
    O_RDWR | O_CREAT | O_TRUNC,   /* write update */
    O_RDWR | O_CREAT,             /* append update */
};

int descriptor(void* file) {
    return static_cast<int>(reinterpret_cast<intptr_t>(file)) - 1;
}

/* Descriptors travel as descriptor + 1, so that no open file is the null pointer. */
void* token(int fd) {
    return reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1);
}

rts::OsError open_file(const char* path, RTS_UI32 mode, void** pFile, const char** pCall) {
    const int fd = open(path, kOpenFlags[mode] | O_CLOEXEC, 0666);
    if (fd < 0) return failed("open", errno, pCall);
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        return failed("open", EISDIR, pCall);
    }
    *pFile = token(fd);
    return rts::kOsOk;
}

rts::OsError close_file(void* file, const char** pCall) {
    return close(descriptor(file)) == 0 ? rts::kOsOk : failed("close", errno, pCall);
}

rts::OsError read_file(void* file, void* buffer, RTS_SIZE size, RTS_SIZE* pRead, const char** pCall) {
    auto* at = static_cast<char*>(buffer);
    *pRead = 0;
    while (*pRead < size) {
        const ssize_t n = read(descriptor(file), at + *pRead, size - *pRead);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failed("read", errno, pCall);
        if (n == 0) break;
        *pRead += static_cast<RTS_SIZE>(n);
    }
    return rts::kOsOk;
}

rts::OsError write_file(void* file, const void* buffer, RTS_SIZE size, RTS_SIZE* pWritten,
                        const char** pCall) {
    const auto* at = static_cast<const char*>(buffer);
    *pWritten = 0;
    while (*pWritten < size) {
        const ssize_t n = write(descriptor(file), at + *pWritten, size - *pWritten);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failed("write", errno, pCall);
        *pWritten += static_cast<RTS_SIZE>(n);
    }
    return rts::kOsOk;
}

rts::OsError seek(void* file, RTS_I64 offset, sysfile_os::From from, RTS_UI64* pPosition,
                  const char** pCall) {
    const int whence = from == sysfile_os::From::start ? SEEK_SET
                       : from == sysfile_os::From::end ? SEEK_END
                                                       : SEEK_CUR;
    const off_t position = lseek(descriptor(file), static_cast<off_t>(offset), whence);
    if (position < 0) return failed("lseek", errno, pCall);
    *pPosition = static_cast<RTS_UI64>(position);
    return rts::kOsOk;
}

rts::OsError size(void* file, RTS_UI64* pSize, const char** pCall) {
    struct stat st {};
    if (fstat(descriptor(file), &st) != 0) return failed("fstat", errno, pCall);
    *pSize = static_cast<RTS_UI64>(st.st_size);
    return rts::kOsOk;
}

/* Seconds since 1970 as a local clock shows them: the UTC seconds plus the zone's offset then. */
RTS_UI32 local_seconds(time_t utc) {
    struct tm local {};
    localtime_r(&utc, &local);
    return static_cast<RTS_UI32>(utc + local.tm_gmtoff);
}

rts::OsError times(void* file, RTS_UI32 (*pTimes)[3], const char** pCall) {
    struct stat st {};
    if (fstat(descriptor(file), &st) != 0) return failed("fstat", errno, pCall);
    /* The status change stands in for the creation, which POSIX does not keep. */
    (*pTimes)[0] = local_seconds(st.st_ctime);
    (*pTimes)[1] = local_seconds(st.st_atime);
    (*pTimes)[2] = local_seconds(st.st_mtime);
    return rts::kOsOk;
}

rts::OsError set_end(void* file, const char** pCall) {
    const off_t position = lseek(descriptor(file), 0, SEEK_CUR);
    if (position < 0) return failed("lseek", errno, pCall);
    return ftruncate(descriptor(file), position) == 0 ? rts::kOsOk : failed("ftruncate", errno, pCall);
}

rts::OsError flush(void* file, const char** pCall) {
    return fsync(descriptor(file)) == 0 ? rts::kOsOk : failed("fsync", errno, pCall);
}

rts::OsError remove_file(const char* path, const char** pCall) {
    return unlink(path) == 0 ? rts::kOsOk : failed("unlink", errno, pCall);
}

/* One atomic step that fails when newPath exists, so that no moment has both names on one file
 * (a later truncation of the old name would reach the new one). */
rts::OsError rename_file(const char* oldPath, const char* newPath, const char** pCall) {
    return renameat2(AT_FDCWD, oldPath, AT_FDCWD, newPath, RENAME_NOREPLACE) == 0
               ? rts::kOsOk
               : failed("renameat2", errno, pCall);
}

rts::OsError copy_bytes(int from, int to, const char** pCall) {
    char chunk[65536];
    for (;;) {
        const ssize_t n = read(from, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failed("read", errno, pCall);
        if (n == 0) return rts::kOsOk;
        RTS_SIZE written = 0;
        if (const rts::OsError e = write_file(token(to), chunk, static_cast<RTS_SIZE>(n), &written, pCall))
            return e;
    }
}

rts::OsError copy_file(const char* sourcePath, const char* destPath, const char** pCall) {
    void* source = nullptr;
    void* dest = nullptr;
    if (const rts::OsError e = open_file(sourcePath, 0, &source, pCall)) return e;
    rts::OsError error = open_file(destPath, 1, &dest, pCall);
    if (error == rts::kOsOk) {
        error = copy_bytes(descriptor(source), descriptor(dest), pCall);
        const char* ignored = nullptr;
        const rts::OsError closed = close_file(dest, &ignored);
        if (error == rts::kOsOk && closed != rts::kOsOk) error = failed("close", closed, pCall);
    }
    close(descriptor(source));
    return error;
}

rts::OsError real_path(const char* path, char* buffer, RTS_SIZE size, const char** pCall) {
    char* resolved = realpath(path, nullptr);
    if (resolved == nullptr) return failed("realpath", errno, pCall);
    const int n = std::snprintf(buffer, size, "%s", resolved);
    std::free(resolved);
    return n >= 0 && static_cast<RTS_SIZE>(n) < size ? rts::kOsOk : failed("realpath", ENAMETOOLONG, pCall);
}

bool environment(const char* variable, char* buffer, RTS_SIZE size) {
    const char* value = std::getenv(variable);
    return value != nullptr && std::snprintf(buffer, size, "%s", value) >= 0;
}

RTS_RESULT result_of(rts::OsError error) {
    switch (error) {
        case 0:
            return RES_OK;
        case ENOENT:
        case ENOTDIR:
            return RES_NO_OBJECT;
        case EACCES:
        case EPERM:
        case EISDIR:
            return RES_NO_ACCESS;
        case EBADF:
            return RES_INVALID_HANDLE;
        case ENOMEM:
            return RES_NO_RESOURCES;
        case EROFS:
            return RES_WRITE_PROTECTED;
        case EEXIST:
            return RES_DUPLICATE;
        case EINVAL:
            return RES_PARAMETER;
        case ENOSPC:
        case EDQUOT:
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
