/* SysFile: the one way the system touches files. The component owns the records of the open
 * files, the pool they come from, and the turning of a caller's name into the path the
 * platform opens (%VAR% taken from the environment).
 *
 * A file handle is a record of the pool "SysFile", made on first use and growing by one record
 * at a time; the pool's used list is the list of open files. Closing checks under the pool's
 * lock that the handle is an open record and keeps the lock until the record is back in the
 * pool, so a handle closed twice, or closed by two threads at once, is refused instead of
 * touching a released record. Reads, writes and moves on one handle are the caller's to order.
 *
 * Operations with a trailing underscore take the path as it is; the others take the caller's
 * name and map it to its path first (sysfile_map.cpp), keeping the cache of checksums true. A platform call
 * that fails is logged once with the operating system's error before the documented result is given. */
#include <atomic>
#include <cstring>
#include <mutex>

#include "checksum.h"
#include "cm.h"
#include "cm/class_entry.h"
#include "cm/optional_import.h"
#include "cm/rts_common.h"
#include "cmplog.h"
#include "cmutils.h"
#include "mempool.h"
#include "sys/sysfile_log.h"
#include "sys/sysfile_map.h"
#include "sys/sysfile_os.h"
#include "sysfile.h"
#include "sysfilepath.h"
#include "sysmem.h"

using rts::report;
using rts::valid_handle;

namespace {

constexpr const char* kOwner = "SysFile";
constexpr RTS_SIZE kPathSize = 512;
constexpr RTS_SIZE kCrcPiece = 256;
constexpr RTS_SIZE kDriveLimit = 10;
constexpr RTS_UI32 kWrapperVersion = 0x03051100u;
constexpr RTS_I32 kWholePathMode = 2; /* modes 2 and 3 of the path queries keep the file's name */

struct FileRecord {
    char name[kPathSize];
    RTS_UI32 mode;
    RTS_UI32 status;
    void* os; /* the platform's file; null while not open */
};

std::mutex g_poolMaking;
std::atomic<RTS_HANDLE> g_pool{RTS_INVALID_HANDLE};

/* The record pool, made by the first caller that needs it. */
RTS_HANDLE record_pool() {
    RTS_HANDLE pool = g_pool.load(std::memory_order_acquire);
    if (pool != RTS_INVALID_HANDLE) return pool;
    std::lock_guard<std::mutex> guard(g_poolMaking);
    pool = g_pool.load(std::memory_order_relaxed);
    if (pool == RTS_INVALID_HANDLE) {
        pool = MemPoolCreateDynamic(kOwner, 1, sizeof(FileRecord), nullptr);
        if (pool == nullptr) pool = RTS_INVALID_HANDLE;
        g_pool.store(pool, std::memory_order_release);
    }
    return pool;
}

FileRecord* record(RTS_HANDLE h) {
    return static_cast<FileRecord*>(h);
}

bool appending(RTS_UI32 mode) {
    return mode == AM_APPEND || mode == AM_APPEND_UPDATE;
}

/* Makes a platform call about the object named (null: none); a failure is logged. */
template <typename Fn, typename... Args> rts::OsError os_call(const char* object, Fn fn, Args... args) {
    return sys_os::call(CMPID_SysFile, object, fn, args...);
}

RTS_RESULT result_of(rts::OsError error) {
    return sysfile_os::calls().result_of(error);
}

/* A name with its first %VAR% replaced by the variable's value, cut to fit out. */
void expand(const char* name, char* out, RTS_SIZE size) {
    const char* first = std::strchr(name, '%');
    const char* second = first != nullptr ? std::strchr(first + 1, '%') : nullptr;
    if (second != nullptr) {
        char variable[kPathSize];
        char value[kPathSize];
        CMUtlSafeStrNCpy(variable, sizeof variable, first + 1, static_cast<RTS_SIZE>(second - first - 1));
        if (sysfile_os::calls().environment(variable, value, sizeof value)) {
            CMUtlSafeStrNCpy(out, size, name, static_cast<RTS_SIZE>(first - name));
            CMUtlSafeStrCat(out, size, value);
            CMUtlSafeStrCat(out, size, second + 1);
            return;
        }
    }
    CMUtlSafeStrCpy(out, size, name);
}

/* The path the platform gets for a name, in a buffer from the heap held only for one call. */
class PlatformPath {
public:
    explicit PlatformPath(const char* name)
        : text_(static_cast<char*>(SysMemAllocData(kOwner, kPathSize, nullptr))) {
        if (text_ != nullptr) expand(name, text_, kPathSize);
    }
    ~PlatformPath() {
        if (text_ != nullptr) SysMemFreeData(kOwner, text_);
    }
    PlatformPath(const PlatformPath&) = delete;
    PlatformPath& operator=(const PlatformPath&) = delete;
    const char* text() const { return text_; }

private:
    char* text_;
};

/* Runs a call on the platform path of a name: RES_NOMEMORY when no buffer was to be had. */
template <typename Act> RTS_RESULT on_path(const char* name, Act act) {
    if (name == nullptr) return RES_PARAMETER;
    PlatformPath path(name);
    return path.text() != nullptr ? act(path.text()) : RES_NOMEMORY;
}

rts::OsError seek(FileRecord* r, RTS_I64 offset, sysfile_os::From from, RTS_UI64* pPosition) {
    return os_call(r->name, sysfile_os::calls().seek, r->os, offset, from, pPosition);
}

RTS_RESULT seek_result(FileRecord* r, RTS_I64 offset, sysfile_os::From from) {
    RTS_UI64 position = 0;
    return seek(r, offset, from, &position) == rts::kOsOk ? RES_OK : RES_FAILED;
}

/* Takes an open record out of the list and gives it back to the pool, under the pool's lock
 * from the check to the release; `last` runs on the record (still closed) before it goes. */
template <typename Last> RTS_RESULT release(RTS_HANDLE h, Last last) {
    RTS_HANDLE pool = g_pool.load(std::memory_order_acquire);
    if (!valid_handle(h) || pool == RTS_INVALID_HANDLE) return RES_PARAMETER;
    if (MemPoolIsValidBlock(pool, h) != RES_OK) return RES_PARAMETER; /* holds the lock when valid */
    FileRecord* r = record(h);
    MemPoolRemoveUsedBlock(r);
    r->status = FS_NO_FILE;
    RTS_RESULT result =
        os_call(r->name, sysfile_os::calls().close, r->os) == rts::kOsOk ? RES_OK : RES_FAILED;
    r->os = nullptr;
    if (result == RES_OK) result = last(r);
    MemPoolPutBlock(r);
    MemPoolUnlock(pool);
    return result;
}

void close_all() {
    RTS_HANDLE pool = g_pool.load(std::memory_order_acquire);
    if (pool == RTS_INVALID_HANDLE) return;
    while (void* open = MemPoolGetFirstBlock(pool, nullptr)) SysFileClose(open);
    MemPoolDelete(pool, kOwner);
    g_pool.store(RTS_INVALID_HANDLE, std::memory_order_release);
}

/* Services of components outside this program, looked up by name at start-up: an event
 * service that hears of opened and closed files, and directory functions that make the missing
 * directory of a file being created. Every step that needs a missing one is skipped. */
struct Imports {
    RTS_HANDLE (*EventCreate2)(RTS_UI32 eventId, RTS_UI32 cmpId, RTS_RESULT* pResult);
    RTS_RESULT (*EventPost2)(RTS_HANDLE hEvent, RTS_UI32 paramId, RTS_UI32 version, void* pParam);
    RTS_RESULT (*EventDelete)(RTS_HANDLE hEvent);
    RTS_RESULT (*SysDirCreate2)(const char* directory, RTS_I32 flags);
};
Imports g_imports{};
RTS_HANDLE g_events[2] = {RTS_INVALID_HANDLE, RTS_INVALID_HANDLE}; /* opened, closing */
constexpr RTS_UI32 kEventIds[2] = {SYSFILE_EVENT_OPENED, SYSFILE_EVENT_CLOSING};

void import_optional() {
    rts::import_optional("EventCreate2", g_imports.EventCreate2);
    rts::import_optional("EventPost2", g_imports.EventPost2);
    rts::import_optional("EventDelete", g_imports.EventDelete);
    rts::import_optional("SysDirCreate2", g_imports.SysDirCreate2);
}

void post(int event, void* argument) {
    if (g_imports.EventPost2 != nullptr && g_events[event] != RTS_INVALID_HANDLE)
        g_imports.EventPost2(g_events[event], 1, 1, argument);
}

void events_create() {
    for (int i = 0; i < 2 && g_imports.EventCreate2 != nullptr; ++i)
        g_events[i] = g_imports.EventCreate2(kEventIds[i], CMPID_SysFile, nullptr);
}

void events_delete() {
    for (RTS_HANDLE& event : g_events) {
        if (g_imports.EventDelete != nullptr && event != RTS_INVALID_HANDLE) g_imports.EventDelete(event);
        event = RTS_INVALID_HANDLE;
    }
}

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
    switch (hook) {
        case CH_INIT_SYSTEM:
            import_optional();
            break;
        case CH_INIT: {
            import_optional();
            RTS_RESULT result = sysfile_map::read_configuration();
            sysfile_log::path_mapping_changed();
            return result;
        }
        case CH_INIT2:
            events_create();
            break;
        case CH_EXIT2:
            events_delete();
            break;
        case CH_EXIT:
            LogUnregisterBackend(RTS_INVALID_HANDLE, SYSFILE_CLASS_ID);
            close_all();
            sysfile_map::release();
            break;
        default:
            break;
    }
    return RES_OK;
}

/* Makes the directory of path when a directory service is there: whether it was made. */
bool make_directory(const char* path) {
    const char* slash = std::strrchr(path, '/');
    if (g_imports.SysDirCreate2 == nullptr || slash == nullptr) return false;
    char directory[kPathSize];
    CMUtlSafeStrNCpy(directory, sizeof directory, path, static_cast<RTS_SIZE>(slash - path));
    return g_imports.SysDirCreate2(directory, 1) == RES_OK;
}

/* A wrapper under its own name with the wrappers' version. */
#define SYSFILE_WRAPPER(function)                                                                            \
    { reinterpret_cast<RTS_VOID_FCTPTR>(function), #function, 0, kWrapperVersion }

const CMExportEntry kExports[] = {
    CM_EXPORT(SysFileOpen),
    CM_EXPORT(SysFileClose),
    CM_EXPORT(SysFileRead),
    CM_EXPORT(SysFileWrite),
    CM_EXPORT(SysFileDelete),
    CM_EXPORT(SysFileDeleteByHandle),
    CM_EXPORT(SysFileRename),
    CM_EXPORT(SysFileCopy),
    CM_EXPORT(SysFileGetSize),
    CM_EXPORT(SysFileGetSizeByHandle),
    CM_EXPORT(SysFileGetTime),
    CM_EXPORT(SysFileGetPath),
    CM_EXPORT(SysFileGetPath2),
    CM_EXPORT(SysFileGetFullPath),
    CM_EXPORT(SysFileGetFullPath2),
    CM_EXPORT(SysFileGetIecPath),
    CM_EXPORT(SysFileGetIecPath2),
    CM_EXPORT(SysFileGetPos),
    CM_EXPORT(SysFileSetPos),
    CM_EXPORT(SysFileEOF),
    CM_EXPORT(SysFileFlush),
    CM_EXPORT(SysFileTruncate),
    CM_EXPORT(SysFileGetStatus),
    CM_EXPORT(SysFileGetName),
    CM_EXPORT(SysFileGenerateCRC),
    CM_EXPORT(SysFileGenerateCRC2),
    CM_EXPORT(SysFileGenerateCRC3),
    CM_EXPORT(SysFileOpen_),
    CM_EXPORT(SysFileClose_),
    CM_EXPORT(SysFileDelete_),
    CM_EXPORT(SysFileRename_),
    CM_EXPORT(SysFileCopy_),
    CM_EXPORT(SysFileGetSize_),
    CM_EXPORT(SysFileGetTime_),
    CM_EXPORT(SysFileGetRealPath_),
    CM_EXPORT(SysFileGenerateCRC2_),
    CM_EXPORT(SysFileGenerateCRC3_),
    SYSFILE_WRAPPER(sysfileopen),
    SYSFILE_WRAPPER(sysfileclose),
    SYSFILE_WRAPPER(sysfileread),
    SYSFILE_WRAPPER(sysfilewrite),
    SYSFILE_WRAPPER(sysfiledelete),
    SYSFILE_WRAPPER(sysfiledeletebyhandle),
    SYSFILE_WRAPPER(sysfilerename),
    SYSFILE_WRAPPER(sysfilecopy),
    SYSFILE_WRAPPER(sysfilegetsize),
    SYSFILE_WRAPPER(sysfilegetsizebyhandle),
    SYSFILE_WRAPPER(sysfilegettime),
    SYSFILE_WRAPPER(sysfilegetpath),
    SYSFILE_WRAPPER(sysfilegetpos),
    SYSFILE_WRAPPER(sysfilesetpos),
    SYSFILE_WRAPPER(sysfileeof),
    SYSFILE_WRAPPER(sysfileflush),
    SYSFILE_WRAPPER(sysfiletruncate),
    SYSFILE_WRAPPER(sysfilegetstatus),
    SYSFILE_WRAPPER(sysfilegetstatus2),
    SYSFILE_WRAPPER(sysfilegetname),
    SYSFILE_WRAPPER(sysfilegetname2),
    {nullptr, nullptr, 0, 0},
};

RTS_RESULT export_functions() {
    const RTS_RESULT result = CMRegisterAPI(kExports, 0, 0, CMPID_SysFile);
    return result == RES_OK ? sysfile_map::export_functions() : result;
}

const SysFileInterface kInterface = {
    SysFileOpen,   SysFileClose,   SysFileGetStatus,       SysFileGetName, SysFileRead,
    SysFileWrite,  SysFileDelete,  SysFileDeleteByHandle,  SysFileRename,  SysFileSetPos,
    SysFileGetPos, SysFileGetSize, SysFileGetSizeByHandle, SysFileGetTime, SysFileEOF,
    SysFileCopy,   SysFileGetPath,
};

/* Interface 22 is the log file backend. */
void* query_interface(void* object, RTS_UI32 interfaceId, RTS_RESULT* pResult) {
    return log_backend_query(object, interfaceId, SYSFILE_INTERFACE_ID, &kInterface, pResult);
}

void* create_instance(RTS_UI32 classId) {
    return log_backend_create(kOwner, classId, SYSFILE_CLASS_ID, query_interface, sysfile_log::kOperations);
}

RTS_RESULT delete_instance(void* instance) {
    return SysMemFreeData(kOwner, instance);
}

/* A file opened for one question about it and closed again; an open failure is RES_NO_OBJECT. */
template <typename Ask> RTS_RESULT ask_file(const char* path, Ask ask) {
    if (path == nullptr) return RES_PARAMETER;
    RTS_HANDLE h = SysFileOpen_(path, AM_READ, nullptr);
    if (h == RTS_INVALID_HANDLE) return RES_NO_OBJECT;
    const RTS_RESULT result = ask(record(h));
    SysFileClose_(h);
    return result;
}

/* The CRC-32 of the first maxSize bytes (0: all) read in pieces of 256 bytes. Chained: each
 * piece continues from the finished value of the one before; else the standard CRC-32. */
RTS_RESULT file_crc(const char* path, RTS_SIZE maxSize, RTS_UI32* pCrc, bool chained) {
    if (path == nullptr || pCrc == nullptr) return RES_PARAMETER;
    RTS_HANDLE h = SysFileOpen_(path, AM_READ, nullptr);
    if (h == RTS_INVALID_HANDLE) return RES_PARAMETER;
    RTS_SIZE length = SysFileGetSizeByHandle(h, nullptr);
    if (maxSize != 0 && maxSize <= length) length = maxSize;
    RTS_UI32 crc = CRC32Init();
    RTS_RESULT result = RES_OK;
    unsigned char piece[kCrcPiece];
    for (RTS_SIZE done = 0; done < length && result == RES_OK;) {
        const RTS_SIZE wanted = length - done < kCrcPiece ? length - done : kCrcPiece;
        const RTS_SIZE got = SysFileRead(h, piece, wanted, &result);
        const auto n = static_cast<RTS_UI32>(got);
        crc = chained ? CRC32Update(crc, piece, n) : CRC32Update2(crc, piece, n);
        done += got;
        if (got < wanted) break; /* the file shrank under the reader */
    }
    SysFileClose_(h);
    if (result == RES_OK) *pCrc = chained ? CRC32Finish(crc) : CRC32Finish2(crc);
    return result;
}

void log_copy(const char* format, RTS_RESULT result) {
    LogAdd(nullptr, CMPID_SysFile, LOG_DEBUG, result, 0, format, result);
}

/* Opens the destination of a copy as the copy needs it: appended to when it exists, else
 * created; the failures are logged and give RES_PARAMETER. */
RTS_RESULT probe_destination(const char* path) {
    RTS_RESULT result = RES_OK;
    RTS_HANDLE h = SysFileOpen_(path, AM_READ, &result);
    if (h != RTS_INVALID_HANDLE) {
        SysFileClose_(h);
        h = SysFileOpen_(path, AM_APPEND, &result);
        if (h == RTS_INVALID_HANDLE)
            log_copy("SysFileCopy: SysFileOpen_ returned %d with AM_APPEND for destination file", result);
    } else if (result == RES_NO_OBJECT) {
        h = SysFileOpen_(path, AM_WRITE, &result);
        if (h == RTS_INVALID_HANDLE)
            log_copy("SysFileCopy: SysFileOpen_ returned %d with AM_WRITE for destination file", result);
    } else {
        log_copy("SysFileCopy: SysFileOpen_ returned %d with AM_READ for destination file", result);
    }
    if (h == RTS_INVALID_HANDLE) return RES_PARAMETER;
    SysFileClose_(h);
    return RES_OK;
}

bool empty(const char* name) {
    return name == nullptr || name[0] == '\0';
}

/* The drive and directory part of a path, in place: up to the first ":" and then up to the
 * last "/" after it. */
RTS_RESULT directory_part(char* path) {
    const RTS_SIZE length = std::strlen(path);
    const char* colon = std::strchr(path, ':');
    const char* slash = std::strrchr(path, '/');
    if (colon == nullptr && slash == nullptr) return RES_FAILED;
    const RTS_SIZE drive = colon != nullptr ? static_cast<RTS_SIZE>(colon - path) + 1 : 0;
    const RTS_SIZE end = slash != nullptr && static_cast<RTS_SIZE>(slash - path) >= drive
                             ? static_cast<RTS_SIZE>(slash - path) + 1
                             : drive;
    if (drive >= kDriveLimit || end - drive >= kPathSize) return RES_BUFFERSIZE;
    if (end < length) path[end] = '\0';
    return RES_OK;
}

} // namespace

extern "C" RTS_RESULT SysFile__Entry(ComponentInitRecord* pInit) {
    return rts::fill_class_entry(pInit, CMPID_SysFile, export_functions, hook_function, SYSFILE_CLASS_ID,
                                 create_instance, delete_instance);
}

/* ---- handles ------------------------------------------------------------------------------ */

extern "C" RTS_HANDLE SysFileOpen_(const char* path, RTS_UI32 mode, RTS_RESULT* pResult) {
    if (path == nullptr) return report(pResult, RES_PARAMETER, RTS_INVALID_HANDLE);
    RTS_HANDLE pool = record_pool();
    if (pool == RTS_INVALID_HANDLE) return report(pResult, RES_NOMEMORY, RTS_INVALID_HANDLE);
    auto* r = static_cast<FileRecord*>(MemPoolGetBlock2(pool, 1, kOwner, nullptr));
    if (r == nullptr) return report(pResult, RES_NOMEMORY, RTS_INVALID_HANDLE);
    *r = FileRecord{};
    CMUtlSafeStrCpy(r->name, sizeof r->name, path);
    r->mode = mode;
    r->status = FS_NO_FILE;
    RTS_RESULT result = mode > AM_APPEND_UPDATE ? RES_FAILED : on_path(path, [r, mode](const char* real) {
        return result_of(os_call(real, sysfile_os::calls().open, real, mode, &r->os));
    });
    if (result == RES_OK && appending(mode) && seek_result(r, 0, sysfile_os::From::end) != RES_OK) {
        os_call(r->name, sysfile_os::calls().close, r->os);
        result = RES_FAILED;
    }
    if (result != RES_OK) {
        MemPoolPutBlock(r);
        return report(pResult, result, RTS_INVALID_HANDLE);
    }
    r->status = FS_OK;
    MemPoolAddUsedBlock(r);
    return report(pResult, RES_OK, static_cast<RTS_HANDLE>(r));
}

extern "C" RTS_RESULT SysFileClose_(RTS_HANDLE hFile) {
    return release(hFile, [](FileRecord*) { return RES_OK; });
}

extern "C" RTS_RESULT SysFileClose(RTS_HANDLE hFile) {
    SysFileClosingEvent closing{hFile};
    if (valid_handle(hFile)) post(1, &closing);
    return SysFileClose_(hFile);
}

extern "C" RTS_RESULT SysFileDeleteByHandle(RTS_HANDLE hFile) {
    return release(hFile, [](FileRecord* r) { return SysFileDelete_(r->name); });
}

extern "C" RTS_SIZE SysFileRead(RTS_HANDLE hFile, void* pBuffer, RTS_SIZE size, RTS_RESULT* pResult) {
    if (!valid_handle(hFile) || pBuffer == nullptr) return report(pResult, RES_PARAMETER, RTS_SIZE{0});
    FileRecord* r = record(hFile);
    if (r->status == FS_NO_FILE) return report(pResult, RES_FAILED, RTS_SIZE{0});
    RTS_SIZE got = 0;
    if (os_call(r->name, sysfile_os::calls().read, r->os, pBuffer, size, &got) != rts::kOsOk) {
        r->status = FS_EOF;
        return report(pResult, RES_FAILED, RTS_SIZE{0});
    }
    if (got < size) r->status = FS_EOF;
    return report(pResult, RES_OK, got);
}

extern "C" RTS_SIZE SysFileWrite(RTS_HANDLE hFile, const void* pBuffer, RTS_SIZE size, RTS_RESULT* pResult) {
    if (!valid_handle(hFile) || pBuffer == nullptr || size == 0)
        return report(pResult, RES_PARAMETER, RTS_SIZE{0});
    FileRecord* r = record(hFile);
    if (r->status == FS_NO_FILE) return report(pResult, RES_FAILED, RTS_SIZE{0});
    r->status = FS_OK;
    if (appending(r->mode) && seek_result(r, 0, sysfile_os::From::end) != RES_OK)
        return report(pResult, RES_FAILED, RTS_SIZE{0});
    RTS_SIZE written = 0;
    const rts::OsError error = os_call(r->name, sysfile_os::calls().write, r->os, pBuffer, size, &written);
    if (error == rts::kOsOk) return report(pResult, RES_OK, written);
    return report(pResult, result_of(error) == RES_DISK_FULL ? RES_DISK_FULL : RES_FAILED, written);
}

extern "C" RTS_RESULT SysFileSetPos(RTS_HANDLE hFile, RTS_SIZE offset) {
    if (!valid_handle(hFile)) return RES_PARAMETER;
    record(hFile)->status = FS_OK;
    return seek_result(record(hFile), static_cast<RTS_I64>(offset), sysfile_os::From::start);
}

extern "C" RTS_RESULT SysFileGetPos(RTS_HANDLE hFile, RTS_SIZE* pPosition) {
    if (!valid_handle(hFile) || pPosition == nullptr) return RES_PARAMETER;
    RTS_UI64 position = 0;
    if (seek(record(hFile), 0, sysfile_os::From::current, &position) != rts::kOsOk) return RES_FAILED;
    *pPosition = static_cast<RTS_SIZE>(position);
    return RES_OK;
}

extern "C" RTS_SIZE SysFileGetSizeByHandle(RTS_HANDLE hFile, RTS_RESULT* pResult) {
    if (!valid_handle(hFile)) return report(pResult, RES_PARAMETER, RTS_SIZE{0});
    RTS_UI64 size = 0;
    if (os_call(record(hFile)->name, sysfile_os::calls().size, record(hFile)->os, &size) != rts::kOsOk)
        return report(pResult, RES_FAILED, RTS_SIZE{0});
    return report(pResult, RES_OK, static_cast<RTS_SIZE>(size));
}

extern "C" RTS_RESULT SysFileEOF(RTS_HANDLE hFile) {
    if (!valid_handle(hFile)) return RES_PARAMETER;
    RTS_SIZE position = 0;
    RTS_RESULT result = RES_OK;
    if (record(hFile)->status != FS_EOF || SysFileGetPos(hFile, &position) != RES_OK) return RES_FAILED;
    const RTS_SIZE size = SysFileGetSizeByHandle(hFile, &result);
    return result == RES_OK && position >= size ? RES_OK : RES_FAILED;
}

extern "C" RTS_RESULT SysFileFlush(RTS_HANDLE hFile) {
    if (!valid_handle(hFile)) return RES_PARAMETER;
    return os_call(record(hFile)->name, sysfile_os::calls().flush, record(hFile)->os) == rts::kOsOk
               ? RES_OK
               : RES_FAILED;
}

extern "C" RTS_RESULT SysFileTruncate(RTS_HANDLE hFile, RTS_SIZE size) {
    if (!valid_handle(hFile)) return RES_PARAMETER;
    FileRecord* r = record(hFile);
    RTS_UI64 kept = 0;
    RTS_UI64 end = 0;
    if (seek(r, 0, sysfile_os::From::current, &kept) != rts::kOsOk ||
        seek(r, static_cast<RTS_I64>(size), sysfile_os::From::start, &end) != rts::kOsOk)
        return RES_FAILED;
    const rts::OsError error = os_call(r->name, sysfile_os::calls().set_end, r->os);
    const RTS_RESULT back = seek_result(r, static_cast<RTS_I64>(kept), sysfile_os::From::start);
    return error == rts::kOsOk ? back : RES_FAILED;
}

extern "C" RTS_UI32 SysFileGetStatus(RTS_HANDLE hFile, RTS_RESULT* pResult) {
    if (!valid_handle(hFile)) return report(pResult, RES_PARAMETER, FS_NO_FILE);
    if (record(hFile)->os == nullptr) return report(pResult, RES_NO_OBJECT, FS_NO_FILE);
    return report(pResult, RES_OK, record(hFile)->status);
}

extern "C" const char* SysFileGetName(RTS_HANDLE hFile, RTS_RESULT* pResult) {
    if (!valid_handle(hFile)) return report(pResult, RES_PARAMETER, static_cast<const char*>(nullptr));
    return report(pResult, RES_OK, static_cast<const char*>(record(hFile)->name));
}

/* ---- paths as they are ---------------------------------------------------------------------- */

extern "C" RTS_RESULT SysFileDelete_(const char* path) {
    return on_path(path, [](const char* real) {
        return os_call(real, sysfile_os::calls().remove, real) == rts::kOsOk ? RES_OK : RES_FAILED;
    });
}

extern "C" RTS_RESULT SysFileRename_(const char* oldPath, const char* newPath) {
    if (newPath == nullptr) return RES_PARAMETER;
    return on_path(oldPath, [newPath](const char* oldReal) {
        return on_path(newPath, [oldReal](const char* newReal) {
            return os_call(oldReal, sysfile_os::calls().rename, oldReal, newReal) == rts::kOsOk ? RES_OK
                                                                                                : RES_FAILED;
        });
    });
}

extern "C" RTS_RESULT SysFileCopy_(const char* destPath, const char* sourcePath, RTS_SIZE* pCopied) {
    if (destPath == nullptr) return RES_PARAMETER;
    RTS_RESULT result = RES_OK;
    const RTS_SIZE size = SysFileGetSize_(sourcePath, &result);
    if (result != RES_OK) return result;
    result = on_path(sourcePath, [destPath](const char* sourceReal) {
        return on_path(destPath, [sourceReal](const char* destReal) {
            return os_call(sourceReal, sysfile_os::calls().copy, sourceReal, destReal) == rts::kOsOk
                       ? RES_OK
                       : RES_FAILED;
        });
    });
    if (result == RES_OK && pCopied != nullptr) *pCopied = size;
    return result;
}

extern "C" RTS_SIZE SysFileGetSize_(const char* path, RTS_RESULT* pResult) {
    RTS_SIZE size = 0;
    const RTS_RESULT result = ask_file(path, [&size](FileRecord* r) {
        RTS_RESULT got = RES_OK;
        size = SysFileGetSizeByHandle(r, &got);
        return got;
    });
    return report(pResult, result, size);
}

extern "C" RTS_RESULT SysFileGetTime_(const char* path, SysFileTime* pTime) {
    if (pTime == nullptr) return RES_PARAMETER;
    return ask_file(path, [pTime](FileRecord* r) {
        RTS_UI32 times[3] = {};
        if (os_call(r->name, sysfile_os::calls().times, r->os, &times) != rts::kOsOk) return RES_FAILED;
        *pTime = SysFileTime{times[0], times[1], times[2]};
        return RES_OK;
    });
}

extern "C" RTS_RESULT SysFileGetRealPath_(const char* path, char* buffer, RTS_SIZE size) {
    if (buffer == nullptr || size == 0) return RES_PARAMETER;
    return on_path(path, [buffer, size](const char* real) {
        char final[kPathSize];
        const rts::OsError error = os_call(real, sysfile_os::calls().real_path, real, final, sizeof final);
        if (error != rts::kOsOk) return result_of(error);
        constexpr char kLongPrefix[] = "\\\\?\\";
        const bool prefixed = std::strncmp(final, kLongPrefix, sizeof kLongPrefix - 1) == 0;
        const RTS_RESULT copied =
            CMUtlSafeStrCpy(buffer, size, final + (prefixed ? sizeof kLongPrefix - 1 : 0));
        for (char* c = buffer; *c != '\0'; ++c)
            if (*c == '\\') *c = '/';
        return copied;
    });
}

extern "C" RTS_RESULT SysFileGenerateCRC2_(const char*, RTS_SIZE, RTS_UI32*) {
    return RES_NOTIMPLEMENTED;
}

extern "C" RTS_RESULT SysFileGenerateCRC3_(const char* path, RTS_SIZE maxSize, RTS_UI32* pCrc, int useCache) {
    if (path == nullptr || pCrc == nullptr) return RES_PARAMETER;
    if (useCache != 0 && sysfile_map::cached_checksum(path, maxSize, pCrc)) return RES_OK;
    if (SysFileGenerateCRC2_(path, maxSize, pCrc) == RES_OK) return RES_OK;
    const RTS_RESULT result = file_crc(path, maxSize, pCrc, false);
    if (result == RES_OK && useCache != 0) {
        const RTS_SIZE size = SysFileGetSize_(path, nullptr);
        sysfile_map::store_checksum(path, maxSize != 0 && maxSize < size ? maxSize : size, *pCrc);
    }
    return result;
}

/* ---- names -------------------------------------------------------------------------------- */

namespace {

/* A caller's name mapped to its path, by the system list unless said otherwise. */
struct Mapped {
    explicit Mapped(const char* name, sysfile_map::List list = sysfile_map::List::system)
        : result(name == nullptr ? RES_PARAMETER : sysfile_map::map(name, list, path, sizeof path)) {}
    char path[kPathSize] = "";
    RTS_RESULT result;
};

} // namespace

extern "C" RTS_HANDLE SysFileOpen(const char* name, RTS_UI32 mode, RTS_RESULT* pResult) {
    if (name == nullptr) return report(pResult, RES_PARAMETER, RTS_INVALID_HANDLE);
    if (name[0] == '\0') return report(pResult, RES_NO_OBJECT, RTS_INVALID_HANDLE);
    const Mapped m(name);
    if (m.result != RES_OK) return report(pResult, m.result, RTS_INVALID_HANDLE);
    if (mode != AM_READ && mode != AM_READ_UPDATE) sysfile_map::forget_checksum(m.path);
    RTS_RESULT result = RES_OK;
    RTS_HANDLE h = SysFileOpen_(m.path, mode, &result);
    const bool creating = mode == AM_WRITE || mode == AM_WRITE_UPDATE || mode == AM_APPEND_UPDATE;
    if (h == RTS_INVALID_HANDLE && result == RES_NO_OBJECT && creating && make_directory(m.path))
        h = SysFileOpen_(m.path, mode, &result);
    SysFileOpenedEvent opened{h, m.path, mode};
    if (h != RTS_INVALID_HANDLE) post(0, &opened);
    return report(pResult, result, h);
}

extern "C" RTS_RESULT SysFileDelete(const char* name) {
    const Mapped m(name);
    if (m.result != RES_OK) return m.result;
    sysfile_map::forget_checksum(m.path);
    return SysFileDelete_(m.path);
}

extern "C" RTS_RESULT SysFileRename(const char* oldName, const char* newName) {
    if (empty(oldName) || empty(newName)) return RES_PARAMETER;
    const Mapped from(oldName);
    if (from.result != RES_OK) return from.result;
    RTS_HANDLE h = SysFileOpen_(from.path, AM_READ, nullptr);
    if (h == RTS_INVALID_HANDLE) return RES_NO_OBJECT;
    SysFileClose_(h);
    const Mapped to(newName);
    if (to.result != RES_OK) return to.result;
    h = SysFileOpen_(to.path, AM_READ, nullptr);
    if (h != RTS_INVALID_HANDLE) {
        SysFileClose_(h);
        return RES_DUPLICATE;
    }
    const RTS_RESULT result = SysFileRename_(from.path, to.path);
    if (result == RES_OK) sysfile_map::move_checksum(from.path, to.path);
    return result;
}

extern "C" RTS_RESULT SysFileCopy(const char* destName, const char* sourceName, RTS_SIZE* pCopied) {
    if (destName == nullptr || sourceName == nullptr) return RES_PARAMETER;
    const Mapped dest(destName), source(sourceName);
    for (const Mapped* m : {&dest, &source}) {
        if (m->result == RES_OK) continue;
        LogAdd(nullptr, CMPID_SysFile, LOG_DEBUG, m->result, 0,
               "SysFileCopy: FileGetPath() returned %d for %s", m->result,
               m == &dest ? destName : sourceName);
        return RES_FAILED;
    }
    RTS_RESULT result = RES_OK;
    RTS_HANDLE h = SysFileOpen_(source.path, AM_READ, &result);
    if (h == RTS_INVALID_HANDLE) {
        log_copy("SysFileCopy: SysFileOpen_ returned %d for the source file", result);
        return RES_NO_OBJECT;
    }
    SysFileClose_(h);
    if (probe_destination(dest.path) != RES_OK) return RES_PARAMETER;
    return SysFileCopy_(dest.path, source.path, pCopied);
}

extern "C" RTS_SIZE SysFileGetSize(const char* name, RTS_RESULT* pResult) {
    const Mapped m(name);
    return m.result == RES_OK ? SysFileGetSize_(m.path, pResult) : report(pResult, m.result, RTS_SIZE{0});
}

extern "C" RTS_RESULT SysFileGetTime(const char* name, SysFileTime* pTime) {
    const Mapped m(name);
    return m.result == RES_OK ? SysFileGetTime_(m.path, pTime) : m.result;
}

extern "C" RTS_RESULT SysFileGenerateCRC(const char* name, RTS_SIZE maxSize, RTS_UI32* pCrc) {
    const Mapped m(name);
    return m.result == RES_OK ? file_crc(m.path, maxSize, pCrc, true) : m.result;
}

extern "C" RTS_RESULT SysFileGenerateCRC3(const char* name, RTS_SIZE maxSize, RTS_UI32* pCrc, int useCache) {
    const Mapped m(name);
    return m.result == RES_OK ? SysFileGenerateCRC3_(m.path, maxSize, pCrc, useCache) : m.result;
}

extern "C" RTS_RESULT SysFileGenerateCRC2(const char* name, RTS_SIZE maxSize, RTS_UI32* pCrc) {
    return SysFileGenerateCRC3(name, maxSize, pCrc, 1);
}

extern "C" RTS_RESULT SysFileGetFullPath2(const char* name, RTS_I32, char* buffer, RTS_SIZE size) {
    return sysfile_map::map(name, sysfile_map::List::system, buffer, size);
}

extern "C" RTS_RESULT SysFileGetPath2(const char* name, RTS_I32 mode, char* buffer, RTS_SIZE size) {
    const RTS_RESULT mapped = SysFileGetFullPath2(name, mode, buffer, size);
    if (mapped != RES_OK) return mapped;
    const RTS_SIZE length = std::strlen(buffer);
    if (length == 0 || buffer[length - 1] == '%' || mode == kWholePathMode || mode == kWholePathMode + 1)
        return RES_OK;
    return directory_part(buffer);
}

extern "C" RTS_RESULT SysFileGetPath(const char* name, char* buffer, RTS_SIZE size) {
    return SysFileGetPath2(name, 0, buffer, size);
}

extern "C" RTS_RESULT SysFileGetFullPath(const char* name, char* buffer, RTS_SIZE size) {
    return SysFileGetFullPath2(name, 0, buffer, size);
}

extern "C" RTS_RESULT SysFileGetIecPath2(const char* name, RTS_I32 mode, char* buffer, RTS_SIZE size) {
    const Mapped m(name, sysfile_map::List::application);
    return m.result == RES_OK ? SysFileGetPath2(m.path, mode, buffer, size) : m.result;
}

extern "C" RTS_RESULT SysFileGetIecPath(const char* name, char* buffer, RTS_SIZE size) {
    return SysFileGetIecPath2(name, 0, buffer, size);
}

/* ---- lower-case entries ----------------------------------------------------------------------- */

namespace {

/* A name as application code gave it, ready for the upper-case operation: a blacklisted name is
 * refused with RES_NOT_ALLOWED, and with an application path list the name is mapped through it
 * first. An empty or missing name is passed on for the operation to answer. */
struct ApplicationName {
    explicit ApplicationName(const char* given) : name(given) {
        if (given == nullptr || given[0] == '\0') return;
        if (SysFileIsBlacklisted(given) == RES_OK) {
            result = RES_NOT_ALLOWED;
        } else if (sysfile_map::has_application_list()) {
            result = sysfile_map::map(given, sysfile_map::List::application, path, sizeof path);
            name = path;
        }
    }
    const char* name;
    char path[kPathSize] = "";
    RTS_RESULT result = RES_OK;
};

} // namespace

extern "C" void sysfileopen(sysfileopen_struct* p) {
    const ApplicationName n(p->name);
    p->result = n.result != RES_OK ? report(p->pResult, n.result, RTS_INVALID_HANDLE)
                                   : SysFileOpen(n.name, p->mode, p->pResult);
}
extern "C" void sysfileclose(sysfilehandle_struct* p) {
    p->result = SysFileClose(p->hFile);
}
extern "C" void sysfileread(sysfileread_struct* p) {
    p->result = SysFileRead(p->hFile, p->pBuffer, p->size, p->pResult);
}
extern "C" void sysfilewrite(sysfileread_struct* p) {
    p->result = SysFileWrite(p->hFile, p->pBuffer, p->size, p->pResult);
}
extern "C" void sysfiledelete(sysfiledelete_struct* p) {
    const ApplicationName n(p->name);
    p->result = n.result != RES_OK ? n.result : SysFileDelete(n.name);
}
extern "C" void sysfiledeletebyhandle(sysfilehandle_struct* p) {
    p->result = SysFileDeleteByHandle(p->hFile);
}
extern "C" void sysfilerename(sysfilerename_struct* p) {
    const ApplicationName from(p->oldName), to(p->newName);
    const RTS_RESULT refused = from.result != RES_OK ? from.result : to.result;
    p->result = refused != RES_OK ? refused : SysFileRename(from.name, to.name);
}
extern "C" void sysfilecopy(sysfilecopy_struct* p) {
    const ApplicationName to(p->destName), from(p->sourceName);
    const RTS_RESULT refused = to.result != RES_OK ? to.result : from.result;
    p->result = refused != RES_OK ? refused : SysFileCopy(to.name, from.name, p->pCopied);
}
extern "C" void sysfilegetsize(sysfilegetsize_struct* p) {
    const ApplicationName n(p->name);
    p->result =
        n.result != RES_OK ? report(p->pResult, n.result, RTS_SIZE{0}) : SysFileGetSize(n.name, p->pResult);
}
extern "C" void sysfilegetsizebyhandle(sysfilegetsizebyhandle_struct* p) {
    p->result = SysFileGetSizeByHandle(p->hFile, p->pResult);
}
extern "C" void sysfilegettime(sysfilegettime_struct* p) {
    const ApplicationName n(p->name);
    p->result = n.result != RES_OK ? n.result : SysFileGetTime(n.name, p->pTime);
}
extern "C" void sysfilegetpath(sysfilegetpath_struct* p) {
    const ApplicationName n(p->name);
    p->result = n.result != RES_OK ? n.result : SysFileGetPath(n.name, p->buffer, p->size);
}
extern "C" void sysfilegetpos(sysfilegetpos_struct* p) {
    p->result = SysFileGetPos(p->hFile, p->pPosition);
}
extern "C" void sysfilesetpos(sysfilesetpos_struct* p) {
    p->result = SysFileSetPos(p->hFile, p->position);
}
extern "C" void sysfileeof(sysfilehandle_struct* p) {
    p->result = SysFileEOF(p->hFile);
}
extern "C" void sysfileflush(sysfilehandle_struct* p) {
    p->result = SysFileFlush(p->hFile);
}
extern "C" void sysfiletruncate(sysfilesetpos_struct* p) {
    p->result = SysFileTruncate(p->hFile, p->position);
}
extern "C" void sysfilegetstatus(sysfilegetstatus_struct* p) {
    p->result = SysFileGetStatus(p->hFile, p->pResult);
}
extern "C" void sysfilegetstatus2(sysfilegetstatus2_struct* p) {
    p->status = SysFileGetStatus(p->hFile, &p->result);
    rts::set_result(p->pResult, p->result);
}
extern "C" void sysfilegetname(sysfilegetname_struct* p) {
    p->result = SysFileGetName(p->hFile, p->pResult);
}
extern "C" void sysfilegetname2(sysfilegetname2_struct* p) {
    const char* name = SysFileGetName(p->hFile, &p->result);
    if (name != nullptr)
        p->result = p->buffer != nullptr ? CMUtlSafeStrCpy(p->buffer, p->size, name) : RES_PARAMETER;
}
