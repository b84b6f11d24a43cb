/* State shared by the units of the component manager: the component list, the class and
 * instance registries, the manager's globals and the optional services it imported. */
#ifndef CM_INTERNAL_H
#define CM_INTERNAL_H

#include <cstdarg>

#include "cm.h"
#include "mempool.h"
#include "systask.h"

namespace cm {

/* A component record: a block of the component pool, listed in the pool's used list in list
 * order; the handle is the address of the record. */
struct ComponentNode {
    ComponentRecord rec;
};

/* A block of the class pool. */
struct ClassEntry {
    ComponentRecord* owner;
    RTS_UI32 classId;
    RTS_UI32 cmpId;
};

/* A block of the instance pool; the used list holds the newest first. */
struct InstanceEntry {
    ClassEntry* cls;
    RTS_UI32 instanceId;
    void* instance;
};

/* Optional services found by name at import time; all absent in this program. */
struct OptionalImports {
    RTS_RESULT (*SysOutPrintf)(const char* format, ...);
    RTS_RESULT (*SysOutVPrintf)(const char* format, va_list args);
    RTS_RESULT (*SysTargetGetDeviceName)(RTS_WCHAR* buffer, RTS_SIZE* pLength);
    RTS_RESULT (*SysTargetGetOperatingSystemId)(RTS_UI32* pId);
    RTS_RESULT (*SysTargetGetProcessorId)(RTS_UI32* pId);
    RTS_RESULT (*SysTargetGetAPI)(CMApiToResolve* pInfo, RTS_VOID_FCTPTR* ppFunction);
    RTS_HANDLE (*EventCreate)(RTS_UI32 eventId, RTS_UI32 cmpId, RTS_RESULT* pResult);
    RTS_RESULT (*EventPost2)(RTS_HANDLE hEvent, RTS_UI32 paramId, RTS_UI32 version, void* pParam);
    RTS_RESULT (*EventDelete)(RTS_HANDLE hEvent);
    PF_SYS_TASK_CREATE SysTaskCreate;
    PF_SYS_TASK_HANDLE SysTaskEnter;
    PF_SYS_TASK_HANDLE SysTaskLeave;
    PF_SYS_TASK_END SysTaskEnd;
    PF_SYS_TASK_WAIT_SLEEP SysTaskWaitSleep;
    PF_SYS_TASK_HANDLE SysTaskSetExit;
    PF_SYS_TASK_EXIT SysTaskExit;
    PF_SYS_TASK_HANDLE SysTaskResume;
    PF_SYS_EVENT_CREATE SysEventCreate;
    PF_SYS_EVENT_SET SysEventSet;
    PF_SYS_EVENT_WAIT SysEventWait;
    PF_SYS_EVENT_DELETE SysEventDelete;
    bool tasksAndEvents; /* every task and event-object function was found */
};

/* The manager's nine events, of component 1, with the ids kFirstEventId + event. The last two
 * are created for listeners and never posted by the manager. */
enum ManagerEvent : int {
    kEventShutdown,       /* CMExit begins */
    kEventExitComm,       /* before CH_EXIT_COMM */
    kEventExitTasks,      /* before CH_EXIT_TASKS */
    kEventExit3,          /* before CH_EXIT3 */
    kEventExit2,          /* before CH_EXIT2 */
    kEventOperationQuery, /* CMIsOperationDisabled asks the listeners */
    kEventMoreCycles,     /* before CH_EXIT_COMM, until no listener asks for another cycle */
    kEventListener8,
    kEventListener9,
    kEventCount
};
constexpr RTS_UI32 kFirstEventId = 0x00010001u;

struct Manager {
    bool pools; /* component, class and instance pools exist */
    RTS_HANDLE componentPool;
    RTS_HANDLE classPool;
    RTS_HANDLE instancePool;
    int count;
    int classCount;
    RTS_UI32 initFlags;
    RTS_UI32 currentHook;
    RTS_UI32 lastHook;
    RTS_UI32 failedInit;
    RTS_UI32 haltFlag;
    RTS_UI32 exitFlag;
    bool initEndDone;
    bool safeMode;
    RTS_UI32 safeModeReason;
    PF_HOST_CALLBACK hostCallback;
    RTS_UINTPTR hostUserParam;
    RTS_UI32 lastCommCycle;
    bool extraCycleRunning;
    bool lockingOn;
    RTS_I32 disablingOperations;
    RTS_I32 overloadableFunctions;
    RTS_I32 minimalCommCycleInterval;
    RTS_I32 commCycleInterval;
    RTS_HANDLE events[kEventCount];
    RTS_UI32 listChanges; /* counts additions to and removals from the component list */
};

extern Manager g;
extern OptionalImports imports;

/* Takes a pool's lock once it has one (from CMInitEnd on), for the life of the guard. */
class PoolLock {
public:
    explicit PoolLock(RTS_HANDLE pool = g.componentPool);
    ~PoolLock();
    PoolLock(const PoolLock&) = delete;
    PoolLock& operator=(const PoolLock&) = delete;

private:
    RTS_HANDLE pool_;
    bool locked_;
};

/* Walks a pool's used list in order without its lock: start-up, shut-down and hook delivery
 * are the only writers while they walk. */
template <typename T> T* block_after(const MemPoolBlockHeader* h) {
    return h != nullptr ? reinterpret_cast<T*>(reinterpret_cast<RTS_UINTPTR>(h) + MEM_POOL_BLOCK_HEADER_SIZE)
                        : nullptr;
}
template <typename T> T* first_block(RTS_HANDLE pool) {
    if (!g.pools) return nullptr;
    return block_after<T>(static_cast<const PoolControlBlock*>(pool)->UsedHead);
}
template <typename T> T* next_block(const T* block) {
    auto* h = reinterpret_cast<const MemPoolBlockHeader*>(reinterpret_cast<RTS_UINTPTR>(block) -
                                                          MEM_POOL_BLOCK_HEADER_SIZE);
    return block_after<T>(h->Next);
}
inline ComponentNode* first_node() {
    return first_block<ComponentNode>(g.componentPool);
}
inline ComponentNode* next_of(const ComponentNode* node) {
    return next_block(node);
}
/* The listed node before this one (walked from the head under the pool lock), or null. */
ComponentNode* previous_of(const ComponentNode* node);

/* A walk over the component list while the components' hooks run. A hook may add or remove
 * components, its own included, so the neighbour of each node is taken before its hook runs
 * and taken again afterwards when the list changed meanwhile. */
class ListWalk {
public:
    using Step = ComponentNode* (*)(const ComponentNode*);
    ListWalk(ComponentNode* first, Step step) : neighbour_(first), step_(step) {}
    /* The next node to visit, or null at the end. */
    ComponentNode* next();
    /* Whether the node returned last is still listed after its hook. */
    bool listed() const;

private:
    ComponentNode* node_ = nullptr;
    ComponentNode* neighbour_;
    Step step_;
    RTS_UI32 changes_ = 0;
};
/* A block of the pool, taken from the free list; the pool grows by `grow` blocks when empty. */
void* take_block(RTS_HANDLE pool, RTS_SIZE grow);

/* Log line of the manager on the standard logger (component id 1). */
void log(RTS_UI32 classId, RTS_RESULT errorId, RTS_UI32 infoId, const char* format, ...);

/* ---- records ---- */
ComponentNode* node_of(RTS_HANDLE component); /* the listed node of a handle, else null */
ComponentNode* find_by_name(const char* name);
/* A registering pass skips a name whose record is registered, initialised or disabled: a
 * component that failed once is not registered a second time. */
bool counts_as_present(const ComponentRecord& rec);
bool already_present(const char* name);
RTS_RESULT create_record(const char* name, PF_COMPONENT_ENTRY entry, RTS_HANDLE moduleHandle, RTS_UI16 flags,
                         RTS_UI16 staticName, ComponentNode** ppNode);
RTS_RESULT call_entries(bool withLogging);
RTS_RESULT call_entry(ComponentNode* node, bool withLogging);
RTS_RESULT import_pass(RTS_UI32 mask);
bool flags_match(RTS_UI16 flags, RTS_UI32 mask);
void log_listing_line(const ComponentRecord& rec);
/* Classes belong to the first listed record of their component id: a record that is not
 * listed, or shares its id with an earlier one, takes none. */
void point_classes_at(ComponentRecord* rec);
void free_registries();
RTS_RESULT host_load(const char* name, RTS_HANDLE* pModule, PF_COMPONENT_ENTRY* pEntry);
RTS_RESULT host_unload(const char* name, RTS_HANDLE module);

/* ---- hooks ---- */
bool is_init_hook(RTS_UI32 hook);
bool is_stop_result(RTS_RESULT r);
bool eligible(const ComponentRecord& rec, RTS_UI32 hook);
void call_host(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2);
void count_failed_init(const ComponentRecord& rec, RTS_UI32 hook);
RTS_RESULT startup_pass(RTS_UI32 hook);
RTS_RESULT broadcast(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2);
RTS_RESULT call_hook_on(ComponentRecord& rec, RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2);
int hook_row(RTS_UI32 hook);
RTS_UI32 hook_at_row(int row);
/* Whether rows firstRow .. firstRow + count - 1 all lie in the hook table. */
bool is_table_range(int firstRow, int count);
void post_event(ManagerEvent event, void* param);

/* ---- tasks (only with an optional task service) ---- */
/* How far the delivery of a range has come: the row being delivered, the end row, the cursor
 * (used only when withCursor is set) and whether the events before an exit row went out. A
 * delivery cut short by an exception goes on from here after the component in the cursor. */
struct RangeProgress {
    int row;
    int end;
    RTS_UINTPTR cursor = 0;
    bool exitDirection = false;
    bool withCursor = false;
    bool begun = false;
    RTS_RESULT result = RES_OK;
};
RTS_RESULT deliver_rows(RangeProgress& progress);
RTS_RESULT deliver_init_rows(int firstRow, int count);
RTS_RESULT deliver_exit_rows(int firstRow, int count);
/* Runs a range on "CMHooksTask" and waits for it; creates the task on first use. */
RTS_RESULT run_range_on_hooks_task(int firstRow, int count, bool exitDirection);
void stop_hooks_task();
void start_comm_cycle_task();
void stop_comm_cycle_task();

/* ---- lookups ---- */
RTS_RESULT import_optional(const char* name, RTS_VOID_FCTPTR* ppFunction);

} // namespace cm

#endif
