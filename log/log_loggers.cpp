// The loggers: the pool that holds them (one static block, so the standard logger exists before
// the heap is used, then one heap block at a time), creating, finding, walking and deleting
// them, their names, options, enable state and filters, and the per-component filter record.
#include <cstring>
#include <new>

#include "cm.h"
#include "cm/rts_common.h"
#include "cmpsettings.h"
#include "cmutils.h"
#include "log/cmplog_internal.h"
#include "mempool.h"
#include "sysmem.h"
#include "systimertc.h"

using rts::report;

namespace cmplog {

namespace {

// Filter bits a component filter may take over from its logger.
constexpr RTS_UI32 kComponentFilterBits = LOG_DEFAULT_FILTER;
constexpr RTS_UI32 kNoMask = 0x7FFFFFFF;
constexpr RTS_SIZE kCmpNameSize = 33; // a component name of up to 32 characters
constexpr RTS_SIZE kKeySize = 80;
// What the standard logger tells a file backend until its configuration says otherwise.
constexpr RTS_I32 kStdMaxFileSize = 100000;
constexpr RTS_I32 kStdMaxFiles = 3;

bool pool_exists() {
    return g.pool.load(std::memory_order_acquire) != RTS_INVALID_HANDLE;
}

// Takes and releases the pool's lock around one step along the logger list.
class PoolStep {
public:
    PoolStep() : pool_(g.pool.load()) { MemPoolLock(pool_); }
    ~PoolStep() { MemPoolUnlock(pool_); }
    PoolStep(const PoolStep&) = delete;
    PoolStep& operator=(const PoolStep&) = delete;

private:
    RTS_HANDLE pool_;
};

// A handle names a logger only while it is a block in the pool's used list. The list is read
// without the lock, as adds do not take it; loggers come and go only at start-up and shut-down.
bool is_live(RTS_HANDLE hLogger) {
    auto* pcb = static_cast<PoolControlBlock*>(g.pool.load(std::memory_order_acquire));
    if (pcb == RTS_INVALID_HANDLE) return false;
    auto next = [](MemPoolBlockHeader*& link) {
        return std::atomic_ref<MemPoolBlockHeader*>(link).load(std::memory_order_acquire);
    };
    for (MemPoolBlockHeader* b = next(pcb->UsedHead); b != nullptr; b = next(b->Next))
        if (reinterpret_cast<unsigned char*>(b) + MEM_POOL_BLOCK_HEADER_SIZE == hLogger) return true;
    return false;
}

Logger* find_by_name(const char* name) {
    if (std::strcmp(name, LOG_STD_LOGGER_NAME) == 0 || name[0] == '\0') return first_logger();
    for (Logger* l = first_logger(); l != nullptr; l = next_logger(l))
        if (std::strncmp(l->Options.Name, name, sizeof l->Options.Name) == 0) return l;
    return nullptr;
}

Logger* take_block() {
    RTS_HANDLE pool = g.pool.load();
    void* block = MemPoolGetBlock(pool, nullptr);
    if (block == nullptr && MemPoolExtendDynamic(pool, kOwner, 1) == RES_OK)
        block = MemPoolGetBlock(pool, nullptr);
    return block != nullptr ? new (block) Logger() : nullptr;
}

char* copy_path(const char* path) {
    if (path == nullptr) return nullptr;
    RTS_SIZE size = std::strlen(path) + 1;
    auto* copy = static_cast<char*>(SysMemAllocData(kOwner, size, nullptr));
    if (copy != nullptr) std::memcpy(copy, path, size);
    return copy;
}

// The early buffer becomes the ring: its entries stay, stamped with the time of adoption.
void adopt_early_buffer(Logger* logger) {
    int count = g_early.next.load();
    logger->Ring = g_early.slots;
    logger->WriteIndex = count;
    logger->OldestIndex = count > 0 ? 0 : -1;
    RTS_UI64 now = timestamp_now(logger->Options.Type);
    for (int i = 0; i < count; ++i) g_early.slots[i].Entry.Timestamp = now;
}

bool make_ring(Logger* logger) {
    if (std::strcmp(logger->Options.Name, LOG_STD_LOGGER_NAME) == 0) {
        adopt_early_buffer(logger);
        return true;
    }
    if (logger->Options.MaxEntries <= 0) return false;
    RTS_SIZE bytes = static_cast<RTS_SIZE>(logger->Options.MaxEntries) * sizeof(LogRingSlot);
    void* ring = SysMemAllocData(kOwner, bytes, nullptr);
    if (ring == nullptr) return false;
    std::memset(ring, 0, bytes);
    logger->Ring = static_cast<LogRingSlot*>(ring);
    return true;
}

void free_logger_memory(Logger* logger) {
    if (logger->Options.Path != nullptr) SysMemFreeData(kOwner, logger->Options.Path);
    if (logger->Ring != nullptr && logger->Ring != g_early.slots) SysMemFreeData(kOwner, logger->Ring);
    forget_notification(logger);
    std::memset(static_cast<void*>(logger), 0, sizeof *logger);
    MemPoolPutBlock(logger);
}

Logger* create(const LogOptions& options, RTS_RESULT& result) {
    Logger* logger = take_block();
    if (logger == nullptr) return result = RES_NOMEMORY, nullptr;
    logger->OldestIndex = -1;
    logger->Options = options;
    logger->Options.Path = copy_path(options.Path);
    for (BackendSlot& b : logger->Backends) b.Backend = nullptr;
    if (!make_ring(logger)) {
        free_logger_memory(logger);
        return result = RES_NOMEMORY, nullptr;
    }
    logger->CreationTime = SysTimeRtcGet(nullptr);
    {
        PoolStep step;
        MemPoolAppendUsedBlock(logger);
    }
    return result = RES_OK, logger;
}

void log_filter_hint(Logger* logger, const char* name) {
    LogAdd(logger, CMPID_CmpLog, LOG_DEBUG, 0, 0,
           "Component <%s> could log more info with additional setting %s.%s=0xFFFFFFFF!", name, name,
           "Filter");
}

RTS_UI32 read_component_setting(const char* name, const char* word, RTS_UI32 current) {
    char key[kKeySize];
    CMUtlsnprintf(key, sizeof key, "%s.%s", name, word);
    RTS_I32 value = static_cast<RTS_I32>(current);
    SettgGetIntValue(kOwner, key, &value, static_cast<RTS_I32>(current), 0);
    return static_cast<RTS_UI32>(value);
}

} // namespace

Logger* resolve(RTS_HANDLE hLogger) {
    if (hLogger == RTS_INVALID_HANDLE) return nullptr;
    if (hLogger == nullptr) return g.standard.load(std::memory_order_acquire);
    return is_live(hLogger) ? static_cast<Logger*>(hLogger) : nullptr;
}

Logger* first_logger() {
    if (!pool_exists()) return nullptr;
    PoolStep step;
    return static_cast<Logger*>(MemPoolGetFirstBlock(g.pool.load(), nullptr));
}

Logger* next_logger(Logger* logger) {
    PoolStep step;
    return static_cast<Logger*>(MemPoolGetNextBlock(g.pool.load(), logger, nullptr));
}

} // namespace cmplog

using namespace cmplog;

extern "C" RTS_HANDLE LogCreate(const LogOptions* pOptions, RTS_RESULT* pResult) {
    if (pOptions == nullptr) return report(pResult, RES_PARAMETER, RTS_INVALID_HANDLE);
    if (!pool_exists()) return report(pResult, RES_NOTINITIALIZED, RTS_INVALID_HANDLE);
    Logger* existing = find_by_name(pOptions->Name);
    if (existing != nullptr) return report<RTS_HANDLE>(pResult, RES_OK, existing);
    RTS_RESULT result = RES_OK;
    Logger* logger = create(*pOptions, result);
    return report<RTS_HANDLE>(pResult, result, logger != nullptr ? logger : RTS_INVALID_HANDLE);
}

extern "C" RTS_HANDLE LogOpen(const char* name, RTS_RESULT* pResult) {
    if (name == nullptr) return report(pResult, RES_PARAMETER, RTS_INVALID_HANDLE);
    Logger* logger = find_by_name(name);
    if (logger == nullptr) return report(pResult, RES_FAILED, RTS_INVALID_HANDLE);
    return report<RTS_HANDLE>(pResult, RES_OK, logger);
}

extern "C" RTS_RESULT LogClose(RTS_HANDLE hLogger) {
    return hLogger == RTS_INVALID_HANDLE ? RES_PARAMETER : RES_OK;
}

extern "C" RTS_RESULT LogDelete(RTS_HANDLE hLogger) {
    Logger* logger = resolve(hLogger);
    if (logger == nullptr) return RES_PARAMETER;
    logger->Options.Enable = 0;
    if ((logger->Options.Type & LOG_DUMP_ON_CLOSE) != 0) LogDumpEntries(logger);
    unregister_all_backends(logger);
    {
        PoolStep step;
        MemPoolRemoveUsedBlock(logger);
    }
    if (g.standard.load() == logger) g.standard = nullptr;
    free_logger_memory(logger);
    return RES_OK;
}

extern "C" RTS_HANDLE LogGetFirstLogger(RTS_RESULT* pResult) {
    if (!pool_exists()) return report(pResult, RES_NOTINITIALIZED, RTS_INVALID_HANDLE);
    Logger* logger = first_logger();
    if (logger == nullptr) return report(pResult, RES_PARAMETER, RTS_INVALID_HANDLE);
    return report<RTS_HANDLE>(pResult, RES_OK, logger);
}

extern "C" RTS_HANDLE LogGetNextLogger(RTS_HANDLE hLogger, RTS_RESULT* pResult) {
    if (!pool_exists()) return report(pResult, RES_NOTINITIALIZED, RTS_INVALID_HANDLE);
    Logger* logger = resolve(hLogger);
    if (logger == nullptr) return report(pResult, RES_PARAMETER, RTS_INVALID_HANDLE);
    Logger* next = next_logger(logger);
    if (next == nullptr) return report(pResult, RES_NO_OBJECT, RTS_INVALID_HANDLE);
    return report<RTS_HANDLE>(pResult, RES_OK, next);
}

extern "C" RTS_RESULT LogGetName(RTS_HANDLE hLogger, char* buffer, RTS_SIZE size) {
    Logger* logger = resolve(hLogger);
    if (logger == nullptr) return RES_PARAMETER;
    return CMUtlSafeStrCpy(buffer, size, logger->Options.Name);
}

extern "C" RTS_RESULT LogGetOptions(RTS_HANDLE hLogger, LogOptions** ppOptions) {
    Logger* logger = resolve(hLogger);
    if (logger == nullptr || ppOptions == nullptr) return RES_PARAMETER;
    *ppOptions = &logger->Options;
    return RES_OK;
}

namespace {

RTS_RESULT set_enable(RTS_HANDLE hLogger, RTS_UI32 enable) {
    Logger* logger = resolve(hLogger);
    if (logger == nullptr) return RES_PARAMETER;
    if ((logger->Options.Type & LOG_NOT_DISABLEABLE) != 0) return RES_FAILED;
    logger->Options.Enable = enable;
    return RES_OK;
}

} // namespace

extern "C" RTS_RESULT LogEnable(RTS_HANDLE hLogger) {
    return set_enable(hLogger, 1);
}

extern "C" RTS_RESULT LogDisable(RTS_HANDLE hLogger) {
    return set_enable(hLogger, 0);
}

extern "C" RTS_RESULT LogSetFilter(RTS_HANDLE hLogger, RTS_UI32 filter) {
    Logger* logger = resolve(hLogger);
    if (logger == nullptr) return RES_PARAMETER;
    logger->Options.Filter = filter;
    return RES_OK;
}

extern "C" RTS_UI32 LogGetFilter(RTS_HANDLE hLogger) {
    Logger* logger = resolve(hLogger);
    return logger != nullptr ? logger->Options.Filter : 0;
}

extern "C" LogComponentFilter* LogGetFilter2(LogComponentFilter* pFilter, RTS_HANDLE hLogger, RTS_UI32 cmpId,
                                             RTS_RESULT* pResult) {
    if (pFilter == nullptr) return report(pResult, RES_PARAMETER, pFilter);
    *pFilter = LogComponentFilter{hLogger, cmpId, 0, kNoMask};
    Logger* logger = resolve(hLogger);
    if (logger == nullptr) return report(pResult, RES_PARAMETER, pFilter);
    pFilter->Filter = logger->Options.Filter & kComponentFilterBits;
    char name[kCmpNameSize];
    if (cmpId != 0 && CMGetCmpName(cmpId, name, sizeof name) == RES_OK) {
        pFilter->Filter = read_component_setting(name, "Filter", pFilter->Filter);
        pFilter->Mask = read_component_setting(name, "Mask", pFilter->Mask);
        if (pFilter->Filter < logger->Options.Filter) log_filter_hint(logger, name);
    }
    return report(pResult, RES_OK, pFilter);
}

// ---- the component's lifetime -------------------------------------------------------------

namespace cmplog {

namespace {

// The static area of the logger pool: room for exactly one logger, the standard one.
alignas(8) unsigned char g_poolArea[MEM_POOL_AREA_SIZE(sizeof(Logger), 1)];
static_assert(sizeof g_poolArea == 272);

} // namespace

// The pool and the standard logger, which adopts the early buffer.
void create_pool_and_standard_logger() {
    if (!pool_exists()) {
        RTS_HANDLE pool = MemPoolCreateStatic(sizeof(Logger), sizeof g_poolArea, g_poolArea, nullptr);
        if (pool == RTS_INVALID_HANDLE) return;
        MemPoolCreateSyncObject(pool);
        g.pool = pool;
    }
    if (g.standard.load() != nullptr) return;
    LogOptions options{};
    CMUtlSafeStrCpy(options.Name, sizeof options.Name, LOG_STD_LOGGER_NAME);
    options.Enable = 1;
    options.Type = LOG_DEFAULT_TYPE;
    options.Filter = LOG_DEFAULT_FILTER;
    options.MaxEntries = LOG_EARLY_BUFFER_SLOTS;
    options.MaxFileSize = kStdMaxFileSize;
    options.MaxFiles = kStdMaxFiles;
    RTS_HANDLE h = LogCreate(&options, nullptr);
    if (h != RTS_INVALID_HANDLE) g.standard = static_cast<Logger*>(h);
}

// Every logger deleted, the pool gone: from now on entries collect in the early buffer again.
void delete_loggers_and_pool() {
    while (Logger* l = first_logger()) LogDelete(l);
    g.standard = nullptr;
    g_early.next = 0;
    RTS_HANDLE pool = g.pool.exchange(RTS_INVALID_HANDLE);
    if (pool != RTS_INVALID_HANDLE) MemPoolDelete(pool, kOwner);
}

} // namespace cmplog
