/* The configuration-file database. It owns the records of the open files (blocks of the pool
 * "CmpSettings", chained in the order of opening), each file's whole text in memory, and the
 * process-wide line end of the lines it writes.
 *
 * The text is never parsed into a tree: sections, keys and values are found by searching the
 * bytes, and every edit splices the bytes of one value or one line, so everything else stays as
 * it was. The text always ends with two zero bytes, so the searches stop inside it whatever the
 * file held. Positions inside the text are offsets, since an edit may move the text.
 *
 * A write-back goes to a temporary file (the name with its last character replaced by "_"),
 * flushed before the file is deleted and the temporary file renamed to it. A crash leaves the
 * old file, or the new one, or only the complete temporary file, which the next load takes back
 * under the file's name.
 *
 * One settings lock guards the list and every search; a database's own lock is entered inside
 * it while that database's text is replaced or edited. */
#include <cstring>
#include <mutex>
#include <string_view>

#include "cm.h"
#include "cmpinifile.h"
#include "cmpsettings.h"
#include "settings/cmpinifile_internal.h"
#include "cmutils.h"
#include "mempool.h"
#include "syssem.h"
#include "sysfile.h"
#include "sysmem.h"

using rts_sv = std::string_view;

namespace {

constexpr const char* kOwner = "CmpSettings";
constexpr RTS_SIZE kNameSize = 512;
constexpr RTS_SIZE kHeaderSize = 255; /* a section header is cut to 254 characters */
constexpr RTS_SIZE kNone = ~RTS_SIZE{0};
constexpr char kTempMark = '_';

std::recursive_mutex g_settings;
RTS_HANDLE g_pool = RTS_INVALID_HANDLE;
/* CR LF until a key line ended by a bare LF is met. */
int g_separatorLength = 2;

rts_sv separator() {
    return rts_sv("\r\n").substr(static_cast<RTS_SIZE>(2 - g_separatorLength));
}

using SettingsGuard = std::lock_guard<std::recursive_mutex>;

struct RecordGuard {
    explicit RecordGuard(const IniDatabase* db) : lock_(db->hLock) { SysSemEnter(lock_); }
    ~RecordGuard() { SysSemLeave(lock_); }
    RecordGuard(const RecordGuard&) = delete;
    RecordGuard& operator=(const RecordGuard&) = delete;

private:
    RTS_HANDLE lock_;
};

/* The database handed back by an open, or null with the result. */
RTS_HANDLE opened(RTS_RESULT* pResult, RTS_RESULT result, IniDatabase* db = nullptr) {
    if (pResult != nullptr) *pResult = result;
    return db;
}

bool valid(RTS_HANDLE h) {
    return h != nullptr && h != RTS_INVALID_HANDLE;
}

IniDatabase* database(RTS_HANDLE h) {
    return static_cast<IniDatabase*>(h);
}

bool blank(char c) {
    return c == ' ' || c == '\t';
}

bool value_end(char c) {
    return c == '\0' || c == '\n' || c == '\r' || c == '"' || c == ';';
}

bool trailing(char c) {
    return blank(c) || c == '\r' || c == '\n' || c == '"';
}

/* ---- searching the text ----------------------------------------------------------------------- */

/* Whether the nearest character before at that is not a blank is ";". */
bool commented(const char* text, RTS_SIZE at) {
    while (at > 0 && blank(text[at - 1])) --at;
    return at > 0 && text[at - 1] == ';';
}

/* The next case-insensitive occurrence of needle at or after from, or kNone. */
RTS_SIZE search(const IniDatabase* db, const char* needle, RTS_SIZE from) {
    if (from >= db->length) return kNone;
    const char* found = CMUtlStrIStr(db->text + from, needle);
    return found != nullptr ? static_cast<RTS_SIZE>(found - db->text) : kNone;
}

void format_header(const char* section, char (&header)[kHeaderSize]) {
    if (section[0] == '[')
        CMUtlSafeStrCpy(header, sizeof header, section);
    else
        CMUtlsnprintf(header, sizeof header, "[%s]", section);
}

/* The "[" of the first header of the section at or after from that is not commented out. */
RTS_SIZE find_section(const IniDatabase* db, const char* section, RTS_SIZE from) {
    char header[kHeaderSize];
    format_header(section, header);
    for (RTS_SIZE at = search(db, header, from); at != kNone; at = search(db, header, at + 1))
        if (!commented(db->text, at)) return at;
    return kNone;
}

/* Where the body after the header at headerAt begins (after its first "]"), or kNone. */
RTS_SIZE body_start(const IniDatabase* db, RTS_SIZE headerAt) {
    if (headerAt >= db->length) return kNone;
    const char* close = std::strchr(db->text + headerAt, ']');
    return close != nullptr ? static_cast<RTS_SIZE>(close - db->text) + 1 : kNone;
}

/* The end of a body by the next "]" (the close of the next header). */
RTS_SIZE body_end_plain(const IniDatabase* db, RTS_SIZE start) {
    const char* close = std::strchr(db->text + start, ']');
    return close != nullptr ? static_cast<RTS_SIZE>(close - db->text) : db->length;
}

/* The end of a body by the next "[" that no ";" earlier on its line comments out. */
RTS_SIZE body_end_aware(const IniDatabase* db, RTS_SIZE start) {
    for (const char* open = std::strchr(db->text + start, '['); open != nullptr;
         open = std::strchr(open + 1, '[')) {
        const char* p = open;
        while (p > db->text + start && p[-1] != '\r' && p[-1] != '\n' && p[-1] != ';') --p;
        if (p == db->text + start || p[-1] != ';') return static_cast<RTS_SIZE>(open - db->text);
    }
    return db->length;
}

/* Whether the key at `at` begins a line: blanks back to a line end. A bare LF switches the
 * line end of new lines to LF when `learn` is set. */
bool begins_line(const char* text, RTS_SIZE at, bool learn) {
    while (at > 0 && blank(text[at - 1])) --at;
    const rts_sv sep = separator();
    if (at >= sep.size() && rts_sv(text + at - sep.size(), sep.size()) == sep) return true;
    if (at == 0 || text[at - 1] != '\n') return false;
    if (learn) g_separatorLength = 1;
    return true;
}

/* The position of the value of key between start and end (after its "="), or kNone. */
RTS_SIZE find_key(const IniDatabase* db, const char* key, RTS_SIZE start, RTS_SIZE end, bool learn) {
    const RTS_SIZE length = std::strlen(key);
    for (RTS_SIZE at = search(db, key, start); at != kNone && at < end; at = search(db, key, at + 1)) {
        if (commented(db->text, at)) continue;
        RTS_SIZE after = at + length;
        while (blank(db->text[after])) ++after;
        if (db->text[after] == '=' && begins_line(db->text, at, learn)) return after + 1;
    }
    return kNone;
}

/* The value of key in any header of the section, the headers searched in text order. */
RTS_SIZE find_value(const IniDatabase* db, const char* section, const char* key) {
    for (RTS_SIZE header = find_section(db, section, 0); header != kNone;
         header = find_section(db, section, header + 1)) {
        const RTS_SIZE start = body_start(db, header);
        if (start == kNone) return kNone;
        const RTS_SIZE value = find_key(db, key, start, body_end_plain(db, start), true);
        if (value != kNone) return value;
    }
    return kNone;
}

/* The length of the value at `at` (no leading skip): up to its end, at most limit - 1
 * characters when a limit is given, without trailing blanks, line ends and quotes. */
RTS_SIZE value_extent(const char* at, RTS_SIZE limit) {
    RTS_SIZE n = 0;
    const bool limited = limit != 0 && limit != kNone;
    while (!value_end(at[n]) && (!limited || n + 1 < limit)) ++n;
    while (n > 0 && trailing(at[n - 1])) --n;
    return n;
}

RTS_SIZE skip_leading(const char* text, RTS_SIZE at) {
    while (blank(text[at]) || text[at] == '"') ++at;
    return at;
}

/* ---- editing the text --------------------------------------------------------------------- */

/* Replaces `remove` bytes at `at` by the parts given; a growing text is reallocated to its exact
 * new size (RES_NOMEMORY keeps the old text), a shrinking one moves down in place. */
RTS_RESULT splice(IniDatabase* db, RTS_SIZE at, RTS_SIZE remove, std::initializer_list<rts_sv> parts) {
    RTS_SIZE added = 0;
    for (const rts_sv& part : parts) added += part.size();
    const RTS_SIZE length = db->length - remove + added;
    if (length > db->length) {
        auto* grown = static_cast<char*>(SysMemReallocData(kOwner, db->text, length + 2, nullptr));
        if (grown == nullptr) return RES_NOMEMORY;
        db->text = grown;
    }
    std::memmove(db->text + at + added, db->text + at + remove, db->length - at - remove);
    for (const rts_sv& part : parts) {
        if (!part.empty()) std::memcpy(db->text + at, part.data(), part.size());
        at += part.size();
    }
    db->length = length;
    db->text[length] = db->text[length + 1] = '\0';
    return RES_OK;
}

bool ends_with(const IniDatabase* db, RTS_SIZE end, rts_sv tail) {
    return end >= tail.size() && rts_sv(db->text + end - tail.size(), tail.size()) == tail;
}

/* Adds the header of a missing section at the end, one blank line after what is there. */
RTS_RESULT append_section(IniDatabase* db, const char* section) {
    const rts_sv sep = separator();
    RTS_SIZE separators = 0;
    if (db->length != 0)
        separators =
            ends_with(db, db->length, sep) ? (ends_with(db, db->length - sep.size(), sep) ? 0 : 1) : 2;
    char header[kHeaderSize];
    if (section[0] == ';')
        CMUtlSafeStrCpy(header, sizeof header, section);
    else
        format_header(section, header);
    RecordGuard guard(db);
    return splice(db, db->length, 0,
                  {separators > 0 ? sep : rts_sv(), separators > 1 ? sep : rts_sv(), header, sep});
}

/* Puts a new key line into the section: before the first empty line of its body, else at its
 * end, starting a line when the text before does not end with one. */
RTS_RESULT insert_key(IniDatabase* db, RTS_SIZE header, rts_sv key, rts_sv value) {
    const rts_sv sep = separator();
    const RTS_SIZE start = body_start(db, header);
    if (start == kNone) return RES_FAILED;
    const char* open = std::strchr(db->text + start, '[');
    const RTS_SIZE limit = open != nullptr ? static_cast<RTS_SIZE>(open - db->text) : db->length;
    for (RTS_SIZE at = start + sep.size(); at + sep.size() <= limit; ++at) {
        if (ends_with(db, at, sep) && rts_sv(db->text + at, sep.size()) == sep)
            return splice(db, at, 0, {key, "=", value, sep});
    }
    return splice(db, limit, 0, {ends_with(db, limit, sep) ? rts_sv() : sep, key, "=", value, sep});
}

/* ---- the file --------------------------------------------------------------------------------- */

/* The name with its last character replaced: the temporary file and the backup it becomes. */
void temp_name(const char* name, char (&out)[kNameSize]) {
    CMUtlSafeStrCpy(out, sizeof out, name);
    const RTS_SIZE length = std::strlen(out);
    if (length > 0) out[length - 1] = kTempMark;
}

IniDatabase* master() {
    return g_pool != RTS_INVALID_HANDLE ? static_cast<IniDatabase*>(MemPoolGetFirstBlock(g_pool, nullptr))
                                        : nullptr;
}

/* A missing file may lie in the master file's directory; else its backup may be there. */
RTS_SIZE size_elsewhere(IniDatabase* db) {
    const IniDatabase* first = master();
    if (first != nullptr && first != db && std::strpbrk(db->fileName, "\\/") == nullptr) {
        const char* cut = std::strrchr(first->fileName, '\\');
        if (cut == nullptr) cut = std::strrchr(first->fileName, '/');
        char path[kNameSize];
        if (cut != nullptr &&
            CMUtlsnprintf(path, sizeof path, "%.*s%s", static_cast<int>(cut - first->fileName + 1),
                          first->fileName, db->fileName) == RES_OK) {
            const RTS_SIZE size = SysFileGetSize(path, nullptr);
            if (size != 0) {
                CMUtlSafeStrCpy(db->fileName, sizeof db->fileName, path);
                return size;
            }
        }
    }
    char backup[kNameSize];
    temp_name(db->fileName, backup);
    return SysFileGetSize(backup, nullptr);
}

/* Opens the file for reading; when it is missing, its backup is renamed back to it first. */
RTS_RESULT open_for_load(IniDatabase* db) {
    db->hFile = SysFileOpen(db->fileName, AM_READ, nullptr);
    if (db->hFile != RTS_INVALID_HANDLE) return RES_OK;
    char backup[kNameSize];
    temp_name(db->fileName, backup);
    RTS_HANDLE h = SysFileOpen(backup, AM_READ, nullptr);
    if (h == RTS_INVALID_HANDLE) return RES_NO_OBJECT;
    SysFileClose(h);
    SysFileRename(backup, db->fileName);
    db->hFile = SysFileOpen(db->fileName, AM_READ, nullptr);
    return db->hFile != RTS_INVALID_HANDLE ? RES_OK : RES_NO_OBJECT;
}

RTS_RESULT close_file(IniDatabase* db) {
    if (db->hFile == RTS_INVALID_HANDLE) return RES_OK;
    const RTS_RESULT result = SysFileClose(db->hFile);
    db->hFile = RTS_INVALID_HANDLE;
    return result;
}

/* Reads the whole file into a new text; the old text stays when anything fails. */
RTS_RESULT load(IniDatabase* db) {
    SettingsGuard settings(g_settings);
    close_file(db);
    RTS_SIZE size = SysFileGetSize(db->fileName, nullptr);
    if (size == 0) size = size_elsewhere(db);
    if (size == 0) return RES_NO_OBJECT;
    RecordGuard guard(db);
    auto* text = static_cast<char*>(SysMemAllocData(kOwner, size + 2, nullptr));
    if (text == nullptr) return RES_NOMEMORY;
    RTS_RESULT result = open_for_load(db);
    if (result == RES_OK && SysFileRead(db->hFile, text, size, nullptr) != size) result = RES_NO_OBJECT;
    const RTS_RESULT closed = close_file(db);
    if (result != RES_OK) {
        SysMemFreeData(kOwner, text);
        return result;
    }
    text[size] = text[size + 1] = '\0';
    SysMemFreeData(kOwner, db->text);
    db->text = text;
    db->length = size;
    return closed;
}

/* Writes the text to the temporary file and puts that in the file's place. */
RTS_RESULT write_back(IniDatabase* db) {
    if (db->length == 0) return RES_PARAMETER;
    close_file(db);
    if (db->writeProtected != 0) return RES_NO_ACCESS;
    if (SettgGetAccessCounter_(nullptr) > 0) {
        db->modified = 1;
        return RES_OK;
    }
    char temp[kNameSize];
    temp_name(db->fileName, temp);
    db->hFile = SysFileOpen(temp, AM_WRITE, nullptr);
    if (db->hFile == RTS_INVALID_HANDLE) return RES_NO_ACCESS;
    if (SysFileWrite(db->hFile, db->text, static_cast<RTS_SIZE>(db->length), nullptr) != db->length) {
        close_file(db);
        return RES_FAILED;
    }
    const RTS_RESULT flushed = SysFileFlush(db->hFile);
    if (flushed != RES_OK) {
        close_file(db);
        return flushed;
    }
    RTS_RESULT result = close_file(db);
    const RTS_RESULT deleted = SysFileDelete(db->fileName);
    if (result == RES_OK) result = deleted;
    const RTS_RESULT renamed = SysFileRename(temp, db->fileName);
    if (result == RES_OK) result = renamed;
    db->modified = 0;
    return result;
}

/* ---- records ------------------------------------------------------------------------------ */

void release(IniDatabase* db) {
    if (db->hLock != RTS_INVALID_HANDLE) SysSemDelete(db->hLock);
    close_file(db);
    if (db->text != nullptr) SysMemFreeData(kOwner, db->text);
    MemPoolPutBlock(db);
}

IniDatabase* find_open(const char* name) {
    const bool prefix = std::strchr(name, '.') == nullptr;
    const RTS_SIZE length = std::strlen(name);
    for (void* b = master(); b != nullptr; b = MemPoolGetNextBlock(g_pool, b, nullptr)) {
        const char* open = static_cast<IniDatabase*>(b)->fileName;
        if (prefix ? std::strncmp(open, name, length) == 0 : std::strcmp(open, name) == 0)
            return static_cast<IniDatabase*>(b);
    }
    return nullptr;
}

void drop_pool_when_empty() {
    if (master() != nullptr) return;
    MemPoolDelete(g_pool, kOwner);
    g_pool = RTS_INVALID_HANDLE;
}

/* A new record with its lock, its name (".cfg" added to a name without ".") and an empty text. */
IniDatabase* new_record(const char* name, RTS_RESULT* pResult) {
    if (g_pool == RTS_INVALID_HANDLE) g_pool = MemPoolCreateDynamic(kOwner, 1, sizeof(IniDatabase), nullptr);
    auto* db = g_pool != nullptr && g_pool != RTS_INVALID_HANDLE
                   ? static_cast<IniDatabase*>(MemPoolGetBlock2(g_pool, 1, kOwner, nullptr))
                   : nullptr;
    if (db == nullptr) {
        opened(pResult, RES_NOMEMORY);
        return nullptr;
    }
    *db = IniDatabase{};
    db->hFile = RTS_INVALID_HANDLE;
    db->hLock = SysSemCreate(pResult);
    db->text = static_cast<char*>(SysMemAllocData(kOwner, 2, nullptr));
    if (db->hLock == RTS_INVALID_HANDLE || db->text == nullptr) {
        if (db->text == nullptr && pResult != nullptr) *pResult = RES_NOMEMORY;
        release(db);
        drop_pool_when_empty();
        return nullptr;
    }
    db->text[0] = db->text[1] = '\0';
    CMUtlSafeStrCpy(db->fileName, sizeof db->fileName, name);
    if (std::strchr(db->fileName, '.') == nullptr) CMUtlSafeStrCat(db->fileName, sizeof db->fileName, ".cfg");
    return db;
}

/* Makes a missing file as the flags ask: RES_OK when one was made or opened. */
RTS_RESULT make_missing(const char* name, RTS_UI32 flags) {
    if ((flags & (INI_CREATE_MISSING | INI_APPEND_MISSING)) == 0) return RES_PARAMETER;
    RTS_HANDLE h = SysFileOpen(name, (flags & INI_CREATE_MISSING) != 0 ? AM_WRITE : AM_APPEND, nullptr);
    if (h == RTS_INVALID_HANDLE) return RES_NO_ACCESS;
    SysFileClose(h);
    return RES_OK;
}

RTS_RESULT open_file(IniDatabase* db, RTS_UI32 flags) {
    if ((flags & INI_DELETE_FIRST) != 0) SysFileDelete(db->fileName);
    const RTS_RESULT result = load(db);
    return result == RES_NO_OBJECT ? make_missing(db->fileName, flags) : result;
}

bool bad_value(rts_sv value) {
    for (char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32 || u == 127 || c == '[' || c == ']') return true;
    }
    return false;
}

/* The header of the section, appended (and the text written) first when it is missing. */
RTS_SIZE ensure_section(IniDatabase* db, const char* section) {
    const RTS_SIZE header = find_section(db, section, 0);
    if (header != kNone) return header;
    append_section(db, section);
    write_back(db);
    return find_section(db, section, 0);
}

RTS_RESULT write_value(IniDatabase* db, const char* section, rts_sv key, rts_sv value) {
    RTS_RESULT result = RES_OK;
    {
        RecordGuard guard(db);
        const RTS_SIZE at = key.empty() ? kNone : find_value(db, section, key.data());
        if (at != kNone) {
            result = splice(db, at, value_extent(db->text + at, kNone), {value});
        } else {
            const RTS_SIZE header = ensure_section(db, section);
            if (header == kNone) return RES_FAILED;
            if (key.empty()) return RES_OK;
            result = insert_key(db, header, key, value);
        }
    }
    return result == RES_OK ? write_back(db) : result;
}

} // namespace

extern "C" RTS_HANDLE IniOpen(const char* fileName, RTS_UI32 flags, RTS_RESULT* pResult) {
    if (fileName == nullptr || fileName[0] == '\0') return opened(pResult, RES_PARAMETER);
    SettingsGuard settings(g_settings);
    IniDatabase* db = g_pool != RTS_INVALID_HANDLE ? find_open(fileName) : nullptr;
    if (db != nullptr) {
        /* A failed re-read keeps the database with its old text for the others holding it. */
        const RTS_RESULT result = open_file(db, flags);
        return result == RES_OK ? opened(pResult, RES_OK, db) : opened(pResult, result);
    }
    db = new_record(fileName, pResult);
    if (db == nullptr) return nullptr;
    const RTS_RESULT result = open_file(db, flags);
    if (result != RES_OK) {
        release(db);
        drop_pool_when_empty();
        return opened(pResult, result);
    }
    MemPoolAppendUsedBlock(db);
    return opened(pResult, RES_OK, db);
}

extern "C" RTS_HANDLE IniOpen2(const char* name, const char* text, RTS_SIZE length, RTS_RESULT* pResult) {
    if (name == nullptr || (text == nullptr && length != 0)) return opened(pResult, RES_PARAMETER);
    SettingsGuard settings(g_settings);
    IniDatabase* db = new_record(name, pResult);
    if (db == nullptr) return nullptr;
    auto* copy = static_cast<char*>(SysMemAllocData(kOwner, length + 2, nullptr));
    if (copy == nullptr) {
        release(db);
        drop_pool_when_empty();
        return opened(pResult, RES_NOMEMORY);
    }
    {
        RecordGuard guard(db);
        if (length != 0) std::memcpy(copy, text, length);
        copy[length] = copy[length + 1] = '\0';
        SysMemFreeData(kOwner, db->text);
        db->text = copy;
        db->length = length;
    }
    MemPoolAppendUsedBlock(db);
    return opened(pResult, RES_OK, db);
}

extern "C" RTS_RESULT IniClose(RTS_HANDLE hDatabase) {
    if (!valid(hDatabase)) return RES_PARAMETER;
    return close_file(database(hDatabase));
}

extern "C" RTS_RESULT IniDelete(RTS_HANDLE hDatabase) {
    if (!valid(hDatabase)) return RES_FAILED;
    SettingsGuard settings(g_settings);
    IniDatabase* db = database(hDatabase);
    MemPoolRemoveUsedBlock(db);
    const RTS_RESULT result = close_file(db);
    release(db);
    drop_pool_when_empty();
    return result;
}

extern "C" RTS_RESULT IniReadValue(RTS_HANDLE hDatabase, const char* section, const char* key, char* buffer,
                                   RTS_I32* pLength) {
    if (!valid(hDatabase)) return RES_FAILED;
    if (section == nullptr || key == nullptr || key[0] == '\0' || pLength == nullptr) return RES_PARAMETER;
    SettingsGuard settings(g_settings);
    const IniDatabase* db = database(hDatabase);
    RTS_SIZE at = find_value(db, section, key);
    if (at == kNone) return RES_NO_OBJECT;
    at = skip_leading(db->text, at);
    const RTS_SIZE whole = value_extent(db->text + at, kNone);
    if (buffer == nullptr) {
        *pLength = static_cast<RTS_I32>(whole + 1);
        return RES_OK;
    }
    const RTS_SIZE limit = *pLength > 0 ? static_cast<RTS_SIZE>(*pLength) : kNone;
    const RTS_SIZE n = value_extent(db->text + at, limit);
    std::memcpy(buffer, db->text + at, n);
    buffer[n] = '\0';
    *pLength = static_cast<RTS_I32>(n);
    return n < whole ? RES_BUFFERSIZE : RES_OK;
}

extern "C" RTS_RESULT IniReadValue2(RTS_HANDLE hDatabase, const char* section, const char* key,
                                    char** ppValue) {
    if (!valid(hDatabase)) return RES_FAILED;
    if (ppValue == nullptr || section == nullptr || key == nullptr || key[0] == '\0') return RES_PARAMETER;
    SettingsGuard settings(g_settings);
    const IniDatabase* db = database(hDatabase);
    if (CMUtlStrIStr(db->fileName, ".cfg") != nullptr) return RES_NOT_ALLOWED;
    const RTS_SIZE at = find_value(db, section, key);
    if (at == kNone) return RES_NO_OBJECT;
    *ppValue = db->text + skip_leading(db->text, at);
    return RES_OK;
}

extern "C" RTS_RESULT IniWriteValue(RTS_HANDLE hDatabase, const char* section, const char* key,
                                    const char* value, RTS_I32 length) {
    if (!valid(hDatabase)) return RES_FAILED;
    const bool sectionOnly = key == nullptr && value == nullptr && length == 0;
    if (section == nullptr || section[0] == '\0' ||
        (!sectionOnly && (key == nullptr || key[0] == '\0' || value == nullptr)))
        return RES_PARAMETER;
    const rts_sv text = value != nullptr
                            ? rts_sv(value, length > 0 ? CMUtlStrNLen(value, static_cast<RTS_SIZE>(length))
                                                       : std::strlen(value))
                            : rts_sv();
    if (bad_value(text)) return RES_NOTSUPPORTED;
    SettingsGuard settings(g_settings);
    IniDatabase* db = database(hDatabase);
    if (IniCheckFilter(hDatabase, section) != 0 || db->writeProtected != 0) {
        close_file(db);
        return RES_NO_ACCESS;
    }
    return write_value(db, section, key != nullptr ? rts_sv(key) : rts_sv(), text);
}

extern "C" RTS_RESULT IniRemoveKey(RTS_HANDLE hDatabase, RTS_SIZE headerAt, const char* key) {
    if (!valid(hDatabase) || key == nullptr || key[0] == '\0') return RES_PARAMETER;
    IniDatabase* db = database(hDatabase);
    const RTS_SIZE start = body_start(db, headerAt);
    if (start == kNone) return RES_NO_OBJECT;
    RTS_SIZE at = find_key(db, key, start, body_end_aware(db, start), false);
    if (at == kNone) return RES_NO_OBJECT;
    at -= 1; /* back over the "=", blanks and the key to the key's first character */
    while (blank(db->text[at - 1])) --at;
    at -= std::strlen(key);
    RTS_SIZE end = at;
    while (db->text[end] != '\0' && db->text[end] != '\r' && db->text[end] != '\n') ++end;
    if (rts_sv(db->text + end, std::strlen(db->text + end)).substr(0, separator().size()) == separator())
        end += separator().size();
    return splice(db, at, end - at, {});
}

extern "C" RTS_RESULT IniRemoveAllKeys(RTS_HANDLE hDatabase, RTS_SIZE headerAt) {
    if (!valid(hDatabase)) return RES_PARAMETER;
    IniDatabase* db = database(hDatabase);
    const RTS_SIZE start = body_start(db, headerAt);
    if (start == kNone) return RES_PARAMETER;
    RTS_SIZE end = body_end_aware(db, start);
    while (end > start && (db->text[end - 1] == '\r' || db->text[end - 1] == '\n')) --end;
    return splice(db, start, end - start, {});
}

extern "C" int IniIsWriteProtected(RTS_HANDLE hDatabase, RTS_RESULT* pResult) {
    if (!valid(hDatabase)) {
        if (pResult != nullptr) *pResult = RES_PARAMETER;
        return 0;
    }
    if (pResult != nullptr) *pResult = RES_OK;
    return database(hDatabase)->writeProtected != 0 ? 1 : 0;
}

extern "C" RTS_RESULT IniSetWriteProtected(RTS_HANDLE hDatabase, RTS_UI32 writeProtected) {
    if (!valid(hDatabase)) return RES_PARAMETER;
    database(hDatabase)->writeProtected = writeProtected;
    return RES_OK;
}

extern "C" RTS_RESULT IniSetFilter(RTS_HANDLE hDatabase, const char* filter) {
    if (!valid(hDatabase)) return RES_PARAMETER;
    CMUtlSafeStrCpy(database(hDatabase)->filter, sizeof database(hDatabase)->filter,
                    filter != nullptr ? filter : "");
    return RES_OK;
}

extern "C" RTS_RESULT IniCheckFilter(RTS_HANDLE hDatabase, const char* section) {
    if (!valid(hDatabase) || section == nullptr) return RES_PARAMETER;
    const char* filter = database(hDatabase)->filter;
    if (filter[0] == '\0') return 0;
    char header[kHeaderSize];
    CMUtlsnprintf(header, sizeof header, "[%s]", section);
    return CMUtlStrIStr(filter, header) != nullptr ? 0 : 1;
}

extern "C" void IniDeleteAll(void) {
    SettingsGuard settings(g_settings);
    while (IniDatabase* db = master()) IniDelete(db);
}

extern "C" void IniResetLineSeparator(void) {
    SettingsGuard settings(g_settings);
    g_separatorLength = 2;
}

/* ---- for the settings ----------------------------------------------------------------------- */

namespace ini {

std::recursive_mutex& settings_lock() {
    return g_settings;
}

IniDatabase* first_database() {
    return master();
}

IniDatabase* next_database(IniDatabase* db) {
    return static_cast<IniDatabase*>(MemPoolGetNextBlock(g_pool, db, nullptr));
}

RTS_SIZE section_header(const IniDatabase* db, const char* section) {
    return find_section(db, section, 0);
}

RTS_SIZE key_value(const IniDatabase* db, RTS_SIZE header, const char* key) {
    const RTS_SIZE start = body_start(db, header);
    return start == kNone ? kNone : find_key(db, key, start, body_end_aware(db, start), true);
}

rts_sv value_at(const IniDatabase* db, RTS_SIZE at, RTS_SIZE limit) {
    at = skip_leading(db->text, at);
    return rts_sv(db->text + at, value_extent(db->text + at, limit));
}

RTS_RESULT replace_value(IniDatabase* db, RTS_SIZE at, rts_sv value) {
    RecordGuard guard(db);
    return splice(db, at, value_extent(db->text + at, kNone), {value});
}

RTS_RESULT insert_value(IniDatabase* db, const char* section, rts_sv key, rts_sv value) {
    const RTS_SIZE header = ensure_section(db, section);
    if (header == kNone) return RES_FAILED;
    RecordGuard guard(db);
    return insert_key(db, header, key, value);
}

RTS_RESULT write_back(IniDatabase* db) {
    return ::write_back(db);
}

RTS_RESULT reload(IniDatabase* db) {
    return load(db);
}

RTS_RESULT close_file(IniDatabase* db) {
    return ::close_file(db);
}

} // namespace ini
