/* The shared-memory log of SysShm: the block "ShmLog", sized for as many lines as the standard
 * logger keeps entries (152 bytes each), into which a logger's entries are written as the lines
 * of its log file, round and round: a line that does not fit before the end goes on at the
 * start. Another process reads the block to see the latest lines. Every open blanks the block
 * and writes the header block first, a new block too, so that a reader always finds the
 * logger's name and options. The write position is one for the program. */
#include <cstring>

#include "cmpsettings.h"
#include "log/log_store.h"
#include "sys/sysshm_log.h"
#include "sysmem.h"

namespace sysshm_log {

namespace {

constexpr const char* kOwner = "SysShm";
constexpr const char* kBlockName = "ShmLog";
constexpr RTS_I32 kDefaultEntries = 500;
constexpr RTS_I32 kFewestEntries = 1;
constexpr RTS_I32 kMostEntries = 100000;
constexpr RTS_SIZE kBytesPerEntry = sizeof(LogEntry);
constexpr RTS_SIZE kLineRoom = 259; /* added to the text's length when a line needs more room */
constexpr unsigned char kBlank = 0x20;

RTS_SIZE g_position = 0;
RTS_SIZE g_size = 0;

RTS_SIZE block_size() {
    RTS_I32 entries = kDefaultEntries;
    SettgGetIntValue("CmpLog", "Logger.0.MaxEntries", &entries, kDefaultEntries, 0);
    if (entries < kFewestEntries) entries = kFewestEntries;
    if (entries > kMostEntries) entries = kMostEntries;
    return static_cast<RTS_SIZE>(entries) * kBytesPerEntry;
}

/* Writes at the position, the rest from the start when the end comes first; answers the bytes
 * written. A line as long as the block is cut to one byte less. */
RTS_SIZE write_around(RTS_HANDLE block, const char* data, RTS_SIZE& length) {
    if (g_position >= g_size) g_position = g_size - 1;
    if (length >= g_size) length = g_size - 1;
    RTS_SIZE written = 0;
    while (written < length) {
        const RTS_SIZE room = g_size - g_position;
        const RTS_SIZE piece = length - written < room ? length - written : room;
        const auto* bytes = reinterpret_cast<const unsigned char*>(data + written);
        written += SysSharedMemoryWrite(block, g_position, bytes, piece, nullptr);
        g_position += piece;
        if (g_position >= g_size) g_position = 0;
    }
    return written;
}

/* A header line goes in only while it fits before the end of the block. */
bool header_line(const char* line, RTS_SIZE length, void* context) {
    if (g_position + length > g_size) return false;
    SysSharedMemoryWrite(context, g_position, reinterpret_cast<const unsigned char*>(line), length, nullptr);
    g_position += length;
    return true;
}

void blank_with_header(RTS_HANDLE block, const LogOptions& o) {
    auto* area = static_cast<unsigned char*>(SysSharedMemoryGetPointer(block, nullptr));
    if (area != nullptr) std::memset(area, kBlank, g_size);
    log_store::write_header(o, header_line, block);
}

RTS_HANDLE backend_open(LogBackendInstance*, RTS_UI32, RTS_HANDLE hLogger) {
    LogOptions* o = nullptr;
    if (LogGetOptions(hLogger, &o) != RES_OK) return RTS_INVALID_HANDLE;
    RTS_SIZE size = block_size();
    RTS_HANDLE block = SysSharedMemoryCreate(kBlockName, 0, &size, nullptr);
    if (block == RTS_INVALID_HANDLE) return RTS_INVALID_HANDLE;
    g_size = size;
    blank_with_header(block, *o);
    return block;
}

RTS_RESULT backend_close(RTS_HANDLE hBackend, ILogBackend*) {
    if (hBackend != nullptr && hBackend != RTS_INVALID_HANDLE) SysSharedMemoryClose(hBackend);
    return RES_OK;
}

RTS_RESULT write_entry(RTS_HANDLE block, const LogOptions& o, const LogEntry& e) {
    const log_store::EntryLine line(o, e, kOwner, kLineRoom);
    if (line.result() != RES_OK) return line.result();
    RTS_SIZE length = line.length();
    return write_around(block, line.text(), length) < length ? RES_FAILED : RES_OK;
}

RTS_HANDLE backend_dump_entry(RTS_HANDLE hBackend, RTS_HANDLE hLogger, const LogEntry* pEntry,
                              RTS_RESULT* pResult) {
    LogOptions* o = nullptr;
    RTS_RESULT result = RES_PARAMETER;
    if (hBackend != nullptr && hBackend != RTS_INVALID_HANDLE && pEntry != nullptr && g_size > 0 &&
        LogGetOptions(hLogger, &o) == RES_OK)
        result = write_entry(hBackend, *o, *pEntry);
    if (pResult != nullptr) *pResult = result;
    return hBackend;
}

} // namespace

const ILogBackend kOperations = {nullptr, backend_open, backend_close, backend_dump_entry};

} // namespace sysshm_log
