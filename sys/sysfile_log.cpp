/* The log file backend of SysFile: a logger's entries as lines of a file named after the
 * logger, headed by the logger's header block, rotated when the file grows past the logger's
 * MaxFileSize through MaxFiles numbered backups (name_0.ext, name_1.ext, ... reused oldest
 * first) or, with MaxFiles 0, through backups named with the date and time that are never
 * deleted. Each open file has its own lock around every entry and rotation. A rotation that
 * cannot keep the old file still starts a new one, so the log goes on. */
#include <cstring>

#include "cm.h"
#include "cmutils.h"
#include "log/log_store.h"
#include "sys/sysfile_log.h"
#include "sysmem.h"
#include "systimertc.h"

namespace sysfile_log {

namespace {

constexpr const char* kOwner = "SysFile";
constexpr const char* kLogDirectory = "$logfiles$";
constexpr const char* kDefaultExtension = ".csv";
constexpr RTS_SIZE kPathSize = 512;
constexpr RTS_SIZE kExtensionSize = 11; /* at most 10 characters of an extension are used */
constexpr RTS_SIZE kLineRoom = 256;     /* added to the text's length when a line needs more room */
RTS_HANDLE const kInvalid = RTS_INVALID_HANDLE;

struct LogFileRecord {
    RTS_HANDLE file;
    RTS_HANDLE lock;
    RTS_I32 rotation; /* next numbered backup; -1 none */
};

/* Set when the path mapping was configured or changed after a log file was opened. */
bool g_mappingChanged = false;

/* ---- names ----------------------------------------------------------------------------- */

/* The log file's name, and its parts for the backups: the name without its extension, and
 * the extension (".csv" appended when the name has none). */
struct FileName {
    char full[kPathSize];
    char stem[kPathSize];
    char extension[kExtensionSize];
};

bool has_separator(const char* name) {
    return std::strchr(name, '/') != nullptr || std::strchr(name, '\\') != nullptr;
}

void base_name(const LogOptions& o, char* out) {
    char name[sizeof o.Name + 1] = {};
    CMUtlSafeStrNCpy(name, sizeof name, o.Name, sizeof o.Name);
    if (o.Path != nullptr) {
        const RTS_SIZE length = std::strlen(o.Path);
        CMUtlsnprintf(out, kPathSize, "%s%s%s", o.Path, length > 0 && o.Path[length - 1] == '/' ? "" : "/",
                      name);
    } else if (!has_separator(name)) {
        CMUtlsnprintf(out, kPathSize, "%s/%s", kLogDirectory, name);
    } else {
        CMUtlSafeStrCpy(out, kPathSize, name);
    }
}

/* The extension starts at the last "." after the last "/" or ":". */
FileName file_name(const LogOptions& o) {
    FileName n{};
    base_name(o, n.full);
    const char* start = n.full;
    for (const char* p = n.full; *p != '\0'; ++p)
        if (*p == '/' || *p == ':') start = p + 1;
    const char* dot = std::strrchr(start, '.');
    if (dot == nullptr) {
        CMUtlSafeStrCpy(n.stem, sizeof n.stem, n.full);
        CMUtlSafeStrCat(n.full, sizeof n.full, kDefaultExtension);
        dot = kDefaultExtension;
    } else {
        CMUtlSafeStrNCpy(n.stem, sizeof n.stem, n.full, static_cast<RTS_SIZE>(dot - n.full));
    }
    CMUtlSafeStrNCpy(n.extension, sizeof n.extension, dot, kExtensionSize - 1);
    return n;
}

void numbered_name(const FileName& n, RTS_I32 index, char* out) {
    CMUtlsnprintf(out, kPathSize, "%s_%d%s", n.stem, static_cast<int>(index), n.extension);
}

void stamped_name(const FileName& n, char* out) {
    RTS_UI64 now = 0;
    RTS_SYSTIMEDATE d{};
    SysTimeRtcHighResGet(&now);
    SysTimeRtcConvertHighResToDate(&now, &d);
    CMUtlsnprintf(out, kPathSize, "%s_%04u-%02u-%02u_%02u.%02u.%02u%s", n.stem, unsigned{d.wYear},
                  unsigned{d.wMonth}, unsigned{d.wDay}, unsigned{d.wHour}, unsigned{d.wMinute},
                  unsigned{d.wSecond}, n.extension);
}

/* ---- writing -------------------------------------------------------------------------- */

bool write_line(const char* line, RTS_SIZE length, void* file) {
    SysFileWrite(file, line, length, nullptr);
    return true;
}

void write_header(RTS_HANDLE file, const LogOptions& o) {
    if (file != kInvalid) log_store::write_header(o, write_line, file);
}

/* The log file made anew (emptied when it exists), headed by the header block. */
RTS_HANDLE create_file(const FileName& n, const LogOptions& o) {
    RTS_HANDLE file = SysFileOpen(n.full, AM_WRITE, nullptr);
    write_header(file, o);
    return file;
}

/* The numbered backup to use first: the first missing one, else the oldest (the first of
 * equal ones). */
RTS_I32 first_rotation(const FileName& n, RTS_I32 maxFiles) {
    RTS_I32 oldest = 0;
    RTS_UI32 oldestTime = 0;
    for (RTS_I32 i = 0; i < maxFiles; ++i) {
        char backup[kPathSize];
        char path[kPathSize];
        SysFileTime time{};
        numbered_name(n, i, backup);
        if (SysFileGetFullPath(backup, path, sizeof path) != RES_OK || SysFileGetTime_(path, &time) != RES_OK)
            return i;
        if (i == 0 || time.ulLastModification < oldestTime) {
            oldest = i;
            oldestTime = time.ulLastModification;
        }
    }
    return oldest;
}

/* Moves the closed log file from where it was opened to the target's mapped place. */
void move_mapped(const char* openedPath, const char* target) {
    char path[kPathSize];
    if (SysFileGetFullPath(target, path, sizeof path) == RES_OK) SysFileRename_(openedPath, path);
}

/* Keeps the full file as a backup and starts a new one. */
void rotate(LogFileRecord* r, const FileName& n, const LogOptions& o) {
    char opened[kPathSize];
    CMUtlSafeStrCpy(opened, sizeof opened, SysFileGetName(r->file, nullptr));
    SysFileClose(r->file);
    char target[kPathSize];
    if (o.MaxFiles > 0) {
        if (r->rotation < 0 || r->rotation >= o.MaxFiles) r->rotation = 0; /* MaxFiles changed */
        numbered_name(n, r->rotation, target);
        r->rotation = (r->rotation + 1) % o.MaxFiles;
        SysFileDelete(target);
    } else {
        stamped_name(n, target);
    }
    if (g_mappingChanged) {
        g_mappingChanged = false;
        move_mapped(opened, target);
    } else {
        SysFileRename(n.full, target);
    }
    r->file = create_file(n, o);
}

/* A name that stays where it is when the path mapping changes: unchanged by the mapping, or a
 * bare file name. */
bool stays(const char* name, const char* mapped) {
    return std::strcmp(name, mapped) == 0 ||
           (std::strchr(name, '/') == nullptr && std::strchr(name, ':') == nullptr);
}

/* After a change of the path mapping the open file moves to where its name now leads. */
void follow_mapping(LogFileRecord* r, const FileName& n) {
    g_mappingChanged = false;
    char mapped[kPathSize];
    if (SysFileGetFullPath(n.full, mapped, sizeof mapped) != RES_OK || stays(n.full, mapped)) return;
    char opened[kPathSize];
    CMUtlSafeStrCpy(opened, sizeof opened, SysFileGetName(r->file, nullptr));
    SysFileClose(r->file);
    SysFileDelete(n.full);
    SysFileRename_(opened, mapped);
    r->file = SysFileOpen(n.full, AM_APPEND, nullptr);
}

/* Rotates a file grown past MaxFileSize (true), or follows a changed path mapping. A file
 * that could not be opened before is tried again, so the log resumes once it can be written. */
bool check_rotation(LogFileRecord* r, const FileName& n, const LogOptions& o) {
    if (r->file == kInvalid) {
        r->file = create_file(n, o);
        return true;
    }
    if (o.MaxFileSize > 0 &&
        SysFileGetSizeByHandle(r->file, nullptr) > static_cast<RTS_SIZE>(o.MaxFileSize)) {
        rotate(r, n, o);
        return true;
    }
    if (g_mappingChanged) follow_mapping(r, n);
    return false;
}

RTS_RESULT write_entry(LogFileRecord* r, const FileName& n, const LogOptions& o, const LogEntry& e) {
    check_rotation(r, n, o);
    const log_store::EntryLine line(o, e, kOwner, kLineRoom);
    if (line.result() != RES_OK) return line.result();
    const RTS_SIZE written = SysFileWrite(r->file, line.text(), line.length(), nullptr);
    if ((o.Type & LOG_FLUSH_EACH) != 0) SysFileFlush(r->file);
    return written < line.length() ? RES_FAILED : RES_OK;
}

/* ---- the backend table ----------------------------------------------------------------- */

const LogOptions* options_of(RTS_HANDLE hLogger) {
    LogOptions* o = nullptr;
    return LogGetOptions(hLogger, &o) == RES_OK ? o : nullptr;
}

RTS_HANDLE backend_open(LogBackendInstance*, RTS_UI32, RTS_HANDLE hLogger) {
    g_mappingChanged = false;
    const LogOptions* o = options_of(hLogger);
    if (o == nullptr) return kInvalid;
    auto* r = static_cast<LogFileRecord*>(SysMemAllocData(kOwner, sizeof(LogFileRecord), nullptr));
    if (r == nullptr) return kInvalid;
    const FileName n = file_name(*o);
    r->rotation = o->MaxFiles > 0 ? first_rotation(n, o->MaxFiles) : -1;
    r->file = SysFileOpen(n.full, AM_APPEND, nullptr);
    r->lock = CMLockCreate(nullptr);
    if (r->file != kInvalid) {
        if (!check_rotation(r, n, *o)) write_header(r->file, *o);
    } else {
        r->file = create_file(n, *o);
    }
    if (r->file != kInvalid && r->lock != kInvalid) return r;
    if (r->file != kInvalid) SysFileClose(r->file);
    if (r->lock != kInvalid) CMLockDelete(r->lock);
    SysMemFreeData(kOwner, r);
    return kInvalid;
}

RTS_RESULT backend_close(RTS_HANDLE hBackend, ILogBackend*) {
    if (hBackend == nullptr || hBackend == kInvalid) return RES_OK;
    auto* r = static_cast<LogFileRecord*>(hBackend);
    if (r->file != kInvalid) {
        SysFileFlush(r->file);
        SysFileClose(r->file);
    }
    CMLockDelete(r->lock);
    SysMemFreeData(kOwner, r);
    return RES_OK;
}

RTS_HANDLE backend_dump_entry(RTS_HANDLE hBackend, RTS_HANDLE hLogger, const LogEntry* pEntry,
                              RTS_RESULT* pResult) {
    const LogOptions* o = options_of(hLogger);
    RTS_RESULT result = RES_PARAMETER;
    if (hBackend != nullptr && hBackend != kInvalid && o != nullptr && pEntry != nullptr) {
        auto* r = static_cast<LogFileRecord*>(hBackend);
        CMLockEnter(r->lock);
        result = write_entry(r, file_name(*o), *o, *pEntry);
        CMLockLeave(r->lock);
    }
    if (pResult != nullptr) *pResult = result;
    return hBackend;
}

} // namespace

const ILogBackend kOperations = {nullptr, backend_open, backend_close, backend_dump_entry};

void path_mapping_changed() {
    g_mappingChanged = true;
}

} // namespace sysfile_log
