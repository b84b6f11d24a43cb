/* SysShm: named blocks of memory shared between processes, and windows onto physical memory.
 * The component owns one record per block open in this process (with its reference count),
 * the lock that guards the record lists, the session enumeration used to find blocks of other
 * desktop sessions, and the security of the mappings it creates.
 *
 * Records are blocks of the component's record pool: its used list holds the open blocks, and
 * a record whose last reference is gone goes back to the pool. Every look at the list happens
 * under an in-process semaphore, so a handle is checked against the used list before it is
 * touched and a handle closed too often is refused instead of pointing into a released record.
 *
 * A record keeps the size its first open or create in this process asked for, on every
 * platform. A platform call that fails is logged once with the operating system's error
 * before the documented result is returned. */
#include <cassert>
#include <cstring>

#include "cm/rts_common.h"
#include "cm.h"
#include "cm/class_entry.h"
#include "cmplog.h"
#include "cmutils.h"
#include "mempool.h"
#include "sys/sysshm_log.h"
#include "sys/sysshm_os.h"
#include "syssem.h"
#include "sysshm.h"
#include "sysmem.h"

using rts::report;
using rts::valid_handle;

namespace {

constexpr const char* kOwner = "SysShm";
constexpr RTS_SIZE kMaxPath = 260;
constexpr RTS_SIZE kNameReserve = 15; /* room the platform needs beside the name */
constexpr const char kGlobalPrefix[] = "Global\\";

struct ShmRecord {
    char* name;
    RTS_UI64 physicalAddress;
    void* address;
    RTS_UI64 size;
    RTS_I32 references;
    sysshm_os::View view; /* named blocks only */
    bool locked;
};

RTS_HANDLE g_lock = RTS_INVALID_HANDLE; /* valid from CH_INIT_SYSTEM to CH_EXIT_SYSTEM */
RTS_HANDLE g_pool = RTS_INVALID_HANDLE; /* the record pool, over the same span */
bool g_sessions = false;
bool g_secured = false;

bool initialised() {
    return g_lock != RTS_INVALID_HANDLE && g_pool != RTS_INVALID_HANDLE;
}
struct ListGuard {
    ListGuard() { SysSemEnter(g_lock); }
    ~ListGuard() { SysSemLeave(g_lock); }
    ListGuard(const ListGuard&) = delete;
    ListGuard& operator=(const ListGuard&) = delete;
};

/* The first open record the predicate accepts, walking the used list newest first. */
template <typename Match> ShmRecord* find_used(Match match) {
    for (void* b = MemPoolGetFirstBlock(g_pool, nullptr); b != nullptr;
         b = MemPoolGetNextBlock(g_pool, b, nullptr))
        if (match(*static_cast<ShmRecord*>(b))) return static_cast<ShmRecord*>(b);
    return nullptr;
}

ShmRecord* find_open(const char* name, RTS_UI64 physicalAddress) {
    return find_used([&](const ShmRecord& r) {
        return r.physicalAddress == physicalAddress && std::strcmp(r.name, name) == 0;
    });
}

bool is_open(RTS_HANDLE h) {
    return find_used([h](const ShmRecord& r) { return &r == h; }) != nullptr;
}

/* A cleared record from the pool, which grows by one record when none is free. */
ShmRecord* take_record() {
    auto* r = static_cast<ShmRecord*>(MemPoolGetBlock2(g_pool, 1, kOwner, nullptr));
    if (r != nullptr) *r = ShmRecord{};
    return r;
}

void put_record(ShmRecord* r) {
    if (r->name != nullptr) SysMemFreeData(kOwner, r->name);
    MemPoolPutBlock(r);
}

char* copy_name(const char* name) {
    const RTS_SIZE length = std::strlen(name) + 1;
    auto* copy = static_cast<char*>(SysMemAllocData(kOwner, length, nullptr));
    if (copy != nullptr) std::memcpy(copy, name, length);
    return copy;
}

/* An open block asked for again: the sizes must agree unless the caller leaves it open. */
RTS_HANDLE reuse(ShmRecord* r, RTS_SIZE* pSize, RTS_RESULT* pResult, RTS_RESULT result) {
    const RTS_SIZE wanted = *pSize;
    *pSize = static_cast<RTS_SIZE>(r->size);
    if (wanted != 0 && wanted != r->size) return report(pResult, RES_BUFFERSIZE, RTS_INVALID_HANDLE);
    ++r->references;
    return report(pResult, result, static_cast<RTS_HANDLE>(r));
}

/* Makes a platform call about the object named (null: none); a failure is logged. */
template <typename Fn, typename... Args> rts::OsError os_call(const char* object, Fn fn, Args... args) {
    return sys_os::call(CMPID_SysShm, object, fn, args...);
}

/* One search for a block made by another process. A miss under one name is the usual way to
 * find a block under the next, so the misses are logged only when the whole search failed and
 * the caller wants to know why. */
class Search {
public:
    explicit Search(sysshm_os::View* view) : view_(view) {}
    Search(const Search&) = delete;
    Search& operator=(const Search&) = delete;

    bool open(const char* name) {
        const char* call = nullptr;
        const rts::OsError error = sysshm_os::calls().mapping_open(name, view_, &call);
        if (error != rts::kOsOk) miss(call, name, error);
        return error == rts::kOsOk;
    }
    void miss(const char* call, const char* name, rts::OsError error) {
        if (count_ == kKept) return;
        Miss& m = misses_[count_++];
        m = Miss{call, error, {}};
        if (name != nullptr) CMUtlSafeStrCpy(m.name, sizeof m.name, name);
    }
    void log_misses() const {
        for (int i = 0; i < count_; ++i)
            rts::log_os_error(CMPID_SysShm, misses_[i].call,
                              misses_[i].name[0] != '\0' ? misses_[i].name : nullptr, misses_[i].error);
    }

private:
    struct Miss {
        const char* call;
        rts::OsError error;
        char name[kMaxPath + 32];
    };
    static constexpr int kKept = 4; /* the global and the local name, and the first sessions */
    sysshm_os::View* view_;
    Miss misses_[kKept];
    int count_ = 0;
};

struct SessionVisit {
    Search* search;
    const char* localName;
    bool found;
};

bool open_in_session(RTS_UI32 sessionId, void* context) {
    auto* visit = static_cast<SessionVisit*>(context);
    char name[kMaxPath + 32];
    visit->found = CMUtlsnprintf(name, sizeof name, "Session\\%u\\%s", static_cast<unsigned>(sessionId),
                                 visit->localName) == RES_OK &&
                   visit->search->open(name);
    return visit->found;
}

/* How a record reaches its block: by a search that tells why it failed, by a search that is
 * only a first try (a create follows when it fails), or by creating the block. */
enum class Attach { open, probe, create };

/* Finds a block made by another process: the global name, the local name, then the local name
 * in each desktop session. */
bool open_existing(const char* globalName, const char* localName, sysshm_os::View* view, Attach how) {
    Search search(view);
    if (search.open(globalName) || search.open(localName)) return true;
    SessionVisit visit{&search, localName, false};
    const char* call = nullptr;
    if (g_sessions) {
        if (const rts::OsError e = sysshm_os::calls().for_each_session(open_in_session, &visit, &call))
            search.miss(call, nullptr, e);
    }
    if (!visit.found && how == Attach::open) search.log_misses();
    return visit.found;
}

/* Keeps the first size bytes of the view in physical memory; a quota refusal is retried once
 * with the process's limits raised. */
bool lock_view(ShmRecord* r, RTS_UI64 size) {
    const sysshm_os::Calls& os = sysshm_os::calls();
    rts::OsError error = os_call(r->name, os.lock, r->address, size);
    if (error != rts::kOsOk && os.quota_exceeded(error)) {
        error = os_call(r->name, os.grow_lock_quota, size);
        if (error == rts::kOsOk) error = os_call(r->name, os.lock, r->address, size);
    }
    r->locked = error == rts::kOsOk;
    return r->locked;
}

RTS_RESULT attach_named(ShmRecord* r, RTS_UI64 wanted, Attach how) {
    const char* name = r->name;
    const RTS_SIZE length = std::strlen(name);
    const char* backslash = std::strchr(name, '\\');
    const char* localName = backslash != nullptr ? backslash + 1 : name;
    if (length + kNameReserve > kMaxPath || *localName == '\0') return RES_PARAMETER;

    if (how == Attach::create) {
        if (os_call(localName, sysshm_os::calls().mapping_create, localName, wanted, &r->view) != rts::kOsOk)
            return RES_NO_OBJECT;
    } else {
        char globalName[kMaxPath + sizeof kGlobalPrefix];
        CMUtlsnprintf(globalName, sizeof globalName, "%s%s",
                      std::strstr(name, kGlobalPrefix) != nullptr ? "" : kGlobalPrefix, name);
        if (!open_existing(globalName, localName, &r->view, how)) return RES_NO_OBJECT;
    }
    if (wanted > r->view.size) {
        /* A block left by another program holds fewer pages than asked: handing it out would
         * let the caller write past its end. */
        os_call(r->name, sysshm_os::calls().mapping_close, &r->view);
        return RES_BUFFERSIZE;
    }
    r->address = r->view.address;
    if (wanted != 0 && !lock_view(r, wanted)) return RES_NOT_LOCKED;
    return RES_OK;
}

/* Runs one request on the driver's device, which is opened for it and closed again; the
 * device that cannot be opened gives RES_FAILED, a refused request the given result. */
template <typename Request> RTS_RESULT on_driver(const ShmRecord* r, RTS_RESULT refused, Request request) {
    const sysshm_os::Calls& os = sysshm_os::calls();
    void* device = nullptr;
    if (os_call(r->name, os.driver_open, &device) != rts::kOsOk) return RES_FAILED;
    const rts::OsError error = request(os, device);
    os_call(r->name, os.driver_close, device);
    return error == rts::kOsOk ? RES_OK : refused;
}

RTS_RESULT attach_physical(ShmRecord* r) {
    return on_driver(r, RES_NO_OBJECT, [r](const sysshm_os::Calls& os, void* device) {
        return os_call(r->name, os.driver_map, device, r->physicalAddress, r->size, &r->address);
    });
}

/* Makes the record of a block that is not open in this process yet. */
RTS_HANDLE new_record(const char* name, RTS_UI64 physicalAddress, RTS_SIZE* pSize, Attach how,
                      RTS_RESULT* pResult) {
    ShmRecord* r = take_record();
    if (r == nullptr) return report(pResult, RES_NOMEMORY, RTS_INVALID_HANDLE);
    r->name = copy_name(name);
    if (r->name == nullptr) {
        put_record(r);
        return report(pResult, RES_NOMEMORY, RTS_INVALID_HANDLE);
    }
    r->references = 1;
    r->size = *pSize;
    r->physicalAddress = physicalAddress;
    const RTS_RESULT result = physicalAddress == 0 ? attach_named(r, *pSize, how) : attach_physical(r);
    if (result != RES_OK && result != RES_NOT_LOCKED) {
        put_record(r);
        return report(pResult, result, RTS_INVALID_HANDLE);
    }
    MemPoolAddUsedBlock(r);
    return report(pResult, result, static_cast<RTS_HANDLE>(r));
}

/* Gives the block back to the platform when its last reference is gone. */
RTS_RESULT detach(ShmRecord* r) {
    if (r->address == nullptr) return RES_FAILED;
    if (r->physicalAddress != 0) {
        return on_driver(r, RES_FAILED, [r](const sysshm_os::Calls& os, void* device) {
            return os_call(r->name, os.driver_unmap, device, r->address, r->size);
        });
    }
    const sysshm_os::Calls& os = sysshm_os::calls();
    if (r->locked) os_call(r->name, os.unlock, r->address, r->size);
    os_call(r->name, os.mapping_close, &r->view);
    return RES_OK;
}

/* What is wrong with a handle before the lists are looked at: RES_OK when nothing is. */
RTS_RESULT precheck(RTS_HANDLE h) {
    if (!valid_handle(h)) return RES_PARAMETER;
    return initialised() ? RES_OK : RES_NOTINITIALIZED;
}

enum class Direction { to_block, from_block };

/* The list lock is held while the bytes move, so a close from another thread cannot unmap the
 * block under the copy. */
RTS_SIZE copy(RTS_HANDLE h, RTS_SIZE offset, unsigned char* data, RTS_SIZE size, Direction direction,
              bool bytewise, RTS_RESULT* pResult) {
    RTS_RESULT result = data == nullptr ? RES_PARAMETER : precheck(h);
    if (result != RES_OK) return report(pResult, result, RTS_SIZE{0});
    ListGuard guard;
    if (!is_open(h)) return report(pResult, RES_PARAMETER, RTS_SIZE{0});
    auto* block = static_cast<unsigned char*>(static_cast<ShmRecord*>(h)->address) + offset;
    if (!bytewise) {
        if (direction == Direction::to_block)
            std::memcpy(block, data, size);
        else
            std::memcpy(data, block, size);
    } else {
        volatile unsigned char* cells = block;
        for (RTS_SIZE i = 0; i < size; ++i) {
            if (direction == Direction::to_block)
                cells[i] = data[i];
            else
                data[i] = cells[i];
        }
    }
    return report(pResult, RES_OK, size);
}

RTS_RESULT close_block(RTS_HANDLE h) {
    const RTS_RESULT checked = precheck(h);
    if (checked != RES_OK) return checked;
    ListGuard guard;
    auto* r = static_cast<ShmRecord*>(h);
    if (!is_open(h)) return RES_PARAMETER;
    assert(r->references > 0 && "a record leaves the used list with its last reference");
    if (--r->references > 0) return RES_OK;
    MemPoolRemoveUsedBlock(r);
    const RTS_RESULT result = detach(r);
    put_record(r);
    return result;
}

/* Blocks still open at the end are reported and released like leaked pool blocks. */
void release_all() {
    while (auto* r = static_cast<ShmRecord*>(MemPoolGetFirstBlock(g_pool, nullptr))) {
        LogAdd(nullptr, CMPID_SysShm, LOG_WARNING, RES_OK, 0, "SysShm: <name>%s</name> still open at exit",
               r->name);
        detach(r);
        MemPoolRemoveUsedBlock(r);
        put_record(r);
    }
    MemPoolDelete(g_pool, kOwner);
    g_pool = RTS_INVALID_HANDLE;
}

/* The session search is on only when the platform can list the sessions. */
void load_sessions() {
    bool available = false;
    g_sessions = os_call(nullptr, sysshm_os::calls().sessions_load, &available) == rts::kOsOk && available;
}

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
    switch (hook) {
        case CH_INIT_SYSTEM:
            if (!initialised()) {
                RTS_RESULT r = RES_OK;
                RTS_HANDLE pool = MemPoolCreateDynamic(kOwner, 1, sizeof(ShmRecord), &r);
                if (pool == RTS_INVALID_HANDLE) return r;
                RTS_HANDLE lock = SysSemCreate(&r);
                if (lock == RTS_INVALID_HANDLE) {
                    MemPoolDelete(pool, kOwner);
                    return r;
                }
                g_pool = pool;
                g_lock = lock;
            }
            load_sessions();
            return RES_OK;
        case CH_INIT:
            /* New mappings get the access list when it could be built, else default security. */
            if (!g_secured) g_secured = os_call(nullptr, sysshm_os::calls().security_init) == rts::kOsOk;
            return RES_OK;
        case CH_EXIT:
            LogUnregisterBackend(RTS_INVALID_HANDLE, SYSSHM_CLASS_ID);
            if (g_secured) os_call(nullptr, sysshm_os::calls().security_exit);
            g_secured = false;
            return RES_OK;
        case CH_EXIT_SYSTEM:
            os_call(nullptr, sysshm_os::calls().sessions_unload);
            g_sessions = false;
            if (initialised()) {
                release_all();
                SysSemDelete(g_lock);
                g_lock = RTS_INVALID_HANDLE;
            }
            return RES_OK;
        default:
            return RES_OK;
    }
}

/* The 32-bit size of a wrapper record travels through a full-width size. */
template <typename F> void forward_open(SysShmOpenParams* p, F function) {
    RTS_SIZE size = p->pulSize != nullptr ? *p->pulSize : 0;
    p->result = function(p->name, p->physicalAddress, p->pulSize != nullptr ? &size : nullptr, p->pResult);
    if (p->pulSize != nullptr) *p->pulSize = static_cast<RTS_UI32>(size);
}

const CMExportEntry kExports[] = {
    CM_EXPORT(SysSharedMemoryOpen),       CM_EXPORT(SysSharedMemoryCreate),
    CM_EXPORT(SysSharedMemoryClose),      CM_EXPORT(SysSharedMemoryDelete),
    CM_EXPORT(SysSharedMemoryGetPointer), CM_EXPORT(SysSharedMemoryRead),
    CM_EXPORT(SysSharedMemoryReadByte),   CM_EXPORT(SysSharedMemoryWrite),
    CM_EXPORT(SysSharedMemoryWriteByte),  CM_EXPORT(syssharedmemoryopen),
    CM_EXPORT(syssharedmemoryopen2),      CM_EXPORT(syssharedmemorycreate),
    CM_EXPORT(syssharedmemoryclose),      CM_EXPORT(syssharedmemorydelete),
    CM_EXPORT(syssharedmemorygetpointer), CM_EXPORT(syssharedmemoryread),
    CM_EXPORT(syssharedmemoryreadbyte),   CM_EXPORT(syssharedmemorywrite),
    CM_EXPORT(syssharedmemorywritebyte),  {nullptr, nullptr, 0, 0},
};

RTS_RESULT export_functions() {
    return CMRegisterAPI(kExports, 0, 0, CMPID_SysShm);
}

const SysShmInterface kInterface = {
    SysSharedMemoryCreate,   SysSharedMemoryDelete,     SysSharedMemoryOpen,
    SysSharedMemoryClose,    SysSharedMemoryGetPointer, SysSharedMemoryRead,
    SysSharedMemoryReadByte, SysSharedMemoryWrite,      SysSharedMemoryWriteByte,
};

/* Interface 22 is the shared-memory log. */
void* query_interface(void* object, RTS_UI32 interfaceId, RTS_RESULT* pResult) {
    return log_backend_query(object, interfaceId, SYSSHM_INTERFACE_ID, &kInterface, pResult);
}

void* create_instance(RTS_UI32 classId) {
    return log_backend_create(kOwner, classId, SYSSHM_CLASS_ID, query_interface, sysshm_log::kOperations);
}

RTS_RESULT delete_instance(void* instance) {
    return SysMemFreeData(kOwner, instance);
}

} // namespace

extern "C" RTS_RESULT SysShm__Entry(ComponentInitRecord* pInit) {
    return rts::fill_class_entry(pInit, CMPID_SysShm, export_functions, hook_function, SYSSHM_CLASS_ID,
                                 create_instance, delete_instance);
}

extern "C" RTS_HANDLE SysSharedMemoryOpen(const char* name, RTS_UINTPTR physicalAddress, RTS_SIZE* pSize,
                                          RTS_RESULT* pResult) {
    if (name == nullptr || pSize == nullptr) return report(pResult, RES_PARAMETER, RTS_INVALID_HANDLE);
    if (!initialised()) return report(pResult, RES_NOTINITIALIZED, RTS_INVALID_HANDLE);
    ListGuard guard;
    ShmRecord* r = find_open(name, physicalAddress);
    if (r != nullptr) return reuse(r, pSize, pResult, RES_OK);
    return new_record(name, physicalAddress, pSize, Attach::open, pResult);
}

extern "C" RTS_HANDLE SysSharedMemoryCreate(const char* name, RTS_UINTPTR physicalAddress, RTS_SIZE* pSize,
                                            RTS_RESULT* pResult) {
    if (name == nullptr || pSize == nullptr) return report(pResult, RES_PARAMETER, RTS_INVALID_HANDLE);
    if (!initialised()) return report(pResult, RES_NOTINITIALIZED, RTS_INVALID_HANDLE);
    ListGuard guard;
    ShmRecord* r = find_open(name, physicalAddress);
    if (r != nullptr) return reuse(r, pSize, pResult, RES_DUPLICATE);

    RTS_RESULT result = RES_OK;
    RTS_HANDLE h = new_record(name, physicalAddress, pSize, Attach::probe, &result);
    if (h != RTS_INVALID_HANDLE) {
        /* It existed already: made by another process (or, for physical memory, always there). */
        const bool named = physicalAddress == 0;
        return report(pResult, named && result == RES_OK ? RES_DUPLICATE : result, h);
    }
    if (result == RES_BUFFERSIZE || result == RES_PARAMETER || result == RES_NOMEMORY) {
        return report(pResult, result, RTS_INVALID_HANDLE);
    }
    return new_record(name, physicalAddress, pSize, Attach::create, pResult);
}

extern "C" RTS_RESULT SysSharedMemoryClose(RTS_HANDLE hShm) {
    return close_block(hShm);
}

extern "C" RTS_RESULT SysSharedMemoryDelete(RTS_HANDLE hShm) {
    return close_block(hShm);
}

extern "C" void* SysSharedMemoryGetPointer(RTS_HANDLE hShm, RTS_RESULT* pResult) {
    const RTS_RESULT checked = precheck(hShm);
    if (checked != RES_OK) return report(pResult, checked, static_cast<void*>(nullptr));
    ListGuard guard;
    if (!is_open(hShm)) return report(pResult, RES_PARAMETER, static_cast<void*>(nullptr));
    return report(pResult, RES_OK, static_cast<ShmRecord*>(hShm)->address);
}

extern "C" RTS_SIZE SysSharedMemoryRead(RTS_HANDLE hShm, RTS_SIZE offset, unsigned char* pbyData,
                                        RTS_SIZE size, RTS_RESULT* pResult) {
    return copy(hShm, offset, pbyData, size, Direction::from_block, false, pResult);
}

extern "C" RTS_SIZE SysSharedMemoryReadByte(RTS_HANDLE hShm, RTS_SIZE offset, unsigned char* pbyData,
                                            RTS_SIZE size, RTS_RESULT* pResult) {
    return copy(hShm, offset, pbyData, size, Direction::from_block, true, pResult);
}

extern "C" RTS_SIZE SysSharedMemoryWrite(RTS_HANDLE hShm, RTS_SIZE offset, const unsigned char* pbyData,
                                         RTS_SIZE size, RTS_RESULT* pResult) {
    return copy(hShm, offset, const_cast<unsigned char*>(pbyData), size, Direction::to_block, false, pResult);
}

extern "C" RTS_SIZE SysSharedMemoryWriteByte(RTS_HANDLE hShm, RTS_SIZE offset, const unsigned char* pbyData,
                                             RTS_SIZE size, RTS_RESULT* pResult) {
    return copy(hShm, offset, const_cast<unsigned char*>(pbyData), size, Direction::to_block, true, pResult);
}

extern "C" void syssharedmemoryopen(SysShmOpenParams* p) {
    forward_open(p, [](const char* name, RTS_UINTPTR physical, RTS_SIZE* pSize, RTS_RESULT* pResult) {
        RTS_HANDLE h = SysSharedMemoryOpen(name, physical, pSize, pResult);
        return h != RTS_INVALID_HANDLE ? h : SysSharedMemoryCreate(name, physical, pSize, pResult);
    });
}
extern "C" void syssharedmemoryopen2(SysShmOpenParams* p) {
    forward_open(p, SysSharedMemoryOpen);
}
extern "C" void syssharedmemorycreate(SysShmOpenParams* p) {
    forward_open(p, SysSharedMemoryCreate);
}
extern "C" void syssharedmemoryclose(SysShmHandleParams* p) {
    p->result = SysSharedMemoryClose(p->hShm);
}
extern "C" void syssharedmemorydelete(SysShmHandleParams* p) {
    p->result = SysSharedMemoryDelete(p->hShm);
}
extern "C" void syssharedmemorygetpointer(SysShmGetPointerParams* p) {
    p->result = SysSharedMemoryGetPointer(p->hShm, p->pResult);
}
extern "C" void syssharedmemoryread(SysShmCopyParams* p) {
    p->result = SysSharedMemoryRead(p->hShm, p->offset, p->pbyData, p->size, p->pResult);
}
extern "C" void syssharedmemoryreadbyte(SysShmCopyParams* p) {
    p->result = SysSharedMemoryReadByte(p->hShm, p->offset, p->pbyData, p->size, p->pResult);
}
extern "C" void syssharedmemorywrite(SysShmCopyParams* p) {
    p->result = SysSharedMemoryWrite(p->hShm, p->offset, p->pbyData, p->size, p->pResult);
}
extern "C" void syssharedmemorywritebyte(SysShmCopyParams* p) {
    p->result = SysSharedMemoryWriteByte(p->hShm, p->offset, p->pbyData, p->size, p->pResult);
}
