/* Hook delivery: the hook table, forward and reverse delivery with the resume cursor, masked
 * delivery, broadcasts, the extra communication cycle, hook and option queries, classes and
 * instances, and the manager's locks. */
#include <cassert>

#include "cm/rts_common.h"
#include "cm/cm_internal.h"
#include "cmplog.h"
#include "syssem.h"
#include "sysmem.h"
#include "systime.h"

using rts::valid_handle;

namespace cm {

namespace {

constexpr RTS_SIZE kClassPoolGrowth = 10;

/* A row of the hook table under the hook's own name. */
#define CM_HOOK_ROW(hook)                                                                                    \
    { hook, #hook }
constexpr CMHookEntry kHookTable[] = {
    CM_HOOK_ROW(CH_INIT_SYSTEM),
    CM_HOOK_ROW(CH_INIT_SYSTEM2),
    CM_HOOK_ROW(CH_INIT),
    CM_HOOK_ROW(CH_POST_INIT),
    CM_HOOK_ROW(CH_PRE_INIT2),
    CM_HOOK_ROW(CH_INIT2),
    CM_HOOK_ROW(CH_PRE_INIT3),
    CM_HOOK_ROW(CH_INIT3),
    CM_HOOK_ROW(CH_INIT_SYSTEM_TASKS),
    CM_HOOK_ROW(CH_INIT_TASKS),
    CM_HOOK_ROW(CH_INIT_COMM),
    CM_HOOK_ROW(CH_INIT_FINISHED),
    CM_HOOK_ROW(CH_COMM_CYCLE),
    CM_HOOK_ROW(CH_EXIT_COMM),
    CM_HOOK_ROW(CH_EXIT_TASKS),
    CM_HOOK_ROW(CH_EXIT_SYSTEM_TASKS),
    CM_HOOK_ROW(CH_EXIT3),
    CM_HOOK_ROW(CH_EXIT2),
    CM_HOOK_ROW(CH_EXIT),
    CM_HOOK_ROW(CH_EXIT_SYSTEM2),
    CM_HOOK_ROW(CH_EXIT_SYSTEM),
    CM_HOOK_ROW(CH_EXIT_GARBAGEMEMORY),
    CM_HOOK_ROW(CH_ON_IMPORT),
    CM_HOOK_ROW(CH_ON_IMPORT_RELEASE),
    CM_HOOK_ROW(CH_ON_LOAD_COMPONENT),
    CM_HOOK_ROW(CH_ON_UNLOAD_COMPONENT),
    CM_HOOK_ROW(CH_ON_REGISTER_INSTANCE),
    CM_HOOK_ROW(CH_ON_UNREGISTER_INSTANCE),
    CM_HOOK_ROW(CH_RESERVED_29),
    CM_HOOK_ROW(CH_RESERVED_290),
    CM_HOOK_ROW(CH_RESERVED_30),
    CM_HOOK_ROW(CH_RESERVED_40),
    CM_HOOK_ROW(CH_SAFEMODE),
    CM_HOOK_ROW(CH_SETTINGS_CHANGED),
};
#undef CM_HOOK_ROW
constexpr int kHookRows = static_cast<int>(sizeof kHookTable / sizeof kHookTable[0]);
static_assert(kHookRows == 34);

/* The notifications from CH_ON_IMPORT to CH_SETTINGS_CHANGED leave the current hook alone. */
bool keeps_current_hook(RTS_UI32 hook) {
    return (hook >= CH_ON_IMPORT && hook <= CH_SETTINGS_CHANGED) || hook == CH_RESERVED_290;
}
bool instance_hook(RTS_UI32 hook) {
    return hook == CH_ON_REGISTER_INSTANCE || hook == CH_ON_UNREGISTER_INSTANCE;
}

/* Ends a delivery: last hook, and safe mode when an init hook left failures behind. */
void finish_delivery(RTS_UI32 hook) {
    if (hook != CH_SAFEMODE) g.lastHook = hook;
    if (is_init_hook(hook) && g.failedInit > 0) CMSetSafeMode(1, 1);
}

/* One step of a delivery: calls the component when eligible, else counts a failure. */
RTS_RESULT visit(ComponentRecord& rec, RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) {
    if (!eligible(rec, hook)) {
        if (rec.hookFunction != nullptr) count_failed_init(rec, hook);
        return RES_OK;
    }
    return call_hook_on(rec, hook, param1, param2);
}

ComponentNode* tail() {
    ComponentNode* last = first_node();
    while (last != nullptr && next_of(last) != nullptr) last = next_of(last);
    return last;
}

RTS_RESULT deliver_forward(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR* pCursor) {
    const bool useCursor = pCursor != nullptr && !instance_hook(hook);
    RTS_UINTPTR resume = useCursor ? *pCursor : 0;
    bool pending = false;
    ListWalk walk(first_node(), next_of);
    while (ComponentNode* n = walk.next()) {
        if (resume != 0) {
            if (reinterpret_cast<RTS_UINTPTR>(&n->rec) == resume) resume = 0;
            continue;
        }
        if (useCursor) *pCursor = reinterpret_cast<RTS_UINTPTR>(&n->rec);
        RTS_RESULT r = visit(n->rec, hook, param1, reinterpret_cast<RTS_UINTPTR>(pCursor));
        if (r == RES_PENDING)
            pending = true;
        else if (is_stop_result(r)) {
            finish_delivery(hook);
            return r;
        } else if (r != RES_OK && walk.listed())
            count_failed_init(n->rec, hook);
    }
    finish_delivery(hook);
    return pending ? RES_PENDING : RES_OK;
}

RTS_RESULT deliver_reverse(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR* pCursor) {
    const bool useCursor = pCursor != nullptr && !instance_hook(hook);
    ComponentNode* last = tail();
    ComponentNode* start = last;
    if (useCursor && *pCursor != 0) {
        ComponentNode* resume = node_of(reinterpret_cast<RTS_HANDLE>(*pCursor));
        start = resume != nullptr ? previous_of(resume) : nullptr;
    }
    bool pending = false;
    RTS_RESULT stop = RES_OK;
    ListWalk walk(start, previous_of);
    while (ComponentNode* n = walk.next()) {
        if (useCursor) *pCursor = reinterpret_cast<RTS_UINTPTR>(&n->rec);
        RTS_RESULT r = visit(n->rec, hook, param1, reinterpret_cast<RTS_UINTPTR>(pCursor));
        if (r == RES_PENDING)
            pending = true;
        else if (n == last && is_stop_result(r))
            stop = r;
        else if (r != RES_OK && walk.listed())
            count_failed_init(n->rec, hook);
    }
    finish_delivery(hook);
    if (stop != RES_OK) return stop;
    return pending ? RES_PENDING : RES_OK;
}

InstanceEntry* find_instance(void* instance) {
    for (InstanceEntry* e = first_block<InstanceEntry>(g.instancePool); e != nullptr; e = next_block(e))
        if (e->instance == instance) return e;
    return nullptr;
}

ClassEntry* find_class(RTS_UI32 classId) {
    for (ClassEntry* c = first_block<ClassEntry>(g.classPool); c != nullptr; c = next_block(c))
        if (c->classId == classId) return c;
    return nullptr;
}

} // namespace

/* The hooks from CH_INIT_SYSTEM (1) to CH_INIT_SYSTEM2 (8) and CH_INIT_SYSTEM_TASKS. */
bool is_init_hook(RTS_UI32 hook) {
    return (hook >= CH_INIT_SYSTEM && hook <= CH_INIT_SYSTEM2) || hook == CH_INIT_SYSTEM_TASKS;
}

bool is_stop_result(RTS_RESULT r) {
    return r == CM_HOOK_STOP || r == CM_HOOK_ILLEGAL_INSTRUCTION || r == CM_HOOK_ACCESS_VIOLATION;
}

bool eligible(const ComponentRecord& rec, RTS_UI32 hook) {
    if (rec.hookFunction == nullptr) return false;
    if (hook == CH_COMM_CYCLE) return rec.state == CM_STATE_RUNNING;
    return rec.state == CM_STATE_REGISTERED || rec.state == CM_STATE_INITIALIZED ||
           rec.state == CM_STATE_RUNNING;
}

void call_host(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) {
    if (g.hostCallback != nullptr) g.hostCallback(hook, param1, param2, g.hostUserParam);
}

void count_failed_init(const ComponentRecord& rec, RTS_UI32 hook) {
    if (!is_init_hook(hook) || rec.hookFunction == nullptr) return;
    ++g.failedInit;
    log(LOG_ERROR, 1, 78, "Error: Component <cmp>%s</cmp> init (%ld) failed", rec.name,
        static_cast<long>(hook));
}

RTS_RESULT call_hook_on(ComponentRecord& rec, RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) {
    return rec.hookFunction(hook, param1, param2);
}

RTS_RESULT startup_pass(RTS_UI32 hook) {
    call_host(hook, 0, 0);
    g.currentHook = hook;
    RTS_RESULT result = RES_OK;
    ListWalk walk(first_node(), next_of);
    while (ComponentNode* n = walk.next()) {
        ComponentRecord& rec = n->rec;
        if (rec.hookFunction == nullptr) continue;
        if (!eligible(rec, hook)) {
            count_failed_init(rec, hook);
            continue;
        }
        RTS_RESULT r = rec.hookFunction(hook, 0, 0);
        if (r == RES_PENDING)
            result = RES_PENDING;
        else if (is_stop_result(r)) {
            result = r;
            break;
        } else if (r != RES_OK && walk.listed())
            count_failed_init(rec, hook);
    }
    g.lastHook = hook;
    if (g.failedInit > 0) CMSetSafeMode(1, 1);
    return result;
}

RTS_RESULT broadcast(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) {
    call_host(hook, param1, param2);
    RTS_RESULT result = RES_OK;
    ListWalk walk(first_node(), next_of);
    while (ComponentNode* n = walk.next()) {
        if (!eligible(n->rec, hook)) continue;
        RTS_RESULT r = n->rec.hookFunction(hook, param1, param2);
        if (is_stop_result(r)) {
            result = r;
            break;
        }
    }
    g.lastHook = hook;
    return result;
}

int hook_row(RTS_UI32 hook) {
    for (int i = 0; i < kHookRows; ++i)
        if (kHookTable[i].hook == hook) return i;
    return -1;
}

RTS_UI32 hook_at_row(int row) {
    assert(is_table_range(row, 1));
    return kHookTable[row].hook;
}

bool is_table_range(int firstRow, int count) {
    return firstRow >= 0 && count >= 0 && count <= kHookRows - firstRow;
}

} // namespace cm

using namespace cm;

extern "C" RTS_RESULT CMCallHook(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR* pCursor, int reverse) {
    if (!g.pools) return RES_FAILED;
    if (hook == CH_COMM_CYCLE) g.lastCommCycle = SysTimeGetMs();
    call_host(hook, param1, reinterpret_cast<RTS_UINTPTR>(pCursor));
    if (!keeps_current_hook(hook)) g.currentHook = hook;
    return reverse != 0 ? deliver_reverse(hook, param1, pCursor) : deliver_forward(hook, param1, pCursor);
}

extern "C" RTS_RESULT CMCallHook2(RTS_UI32 mask, RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) {
    if (!g.pools) return RES_FAILED;
    call_host(hook, param1, param2);
    RTS_RESULT result = RES_OK;
    ListWalk walk(first_node(), next_of);
    while (ComponentNode* n = walk.next()) {
        ComponentRecord& rec = n->rec;
        if (!flags_match(rec.flags, mask)) continue;
        RTS_RESULT r = eligible(rec, hook) ? rec.hookFunction(hook, param1, param2) : RES_FAILED;
        if (r == RES_OK) continue;
        if (r == RES_PENDING) {
            result = RES_PENDING;
            continue;
        }
        result = RES_FAILED;
        if (walk.listed()) count_failed_init(rec, hook);
    }
    if (is_init_hook(hook) && g.failedInit > 0) CMSetSafeMode(1, 1);
    return result;
}

extern "C" RTS_RESULT CMCallExtraCommCycleHook(RTS_UINTPTR param1, RTS_UINTPTR* pCursor) {
    if (g.currentHook != CH_COMM_CYCLE || g.extraCycleRunning) return RES_FAILED;
    RTS_UI32 now = SysTimeGetMs();
    if (now - g.lastCommCycle < static_cast<RTS_UI32>(g.minimalCommCycleInterval)) return RES_OK;
    g.extraCycleRunning = true;
    g.lastCommCycle = now;
    call_host(CH_COMM_CYCLE, param1, reinterpret_cast<RTS_UINTPTR>(pCursor));
    RTS_RESULT r = deliver_forward(CH_COMM_CYCLE, param1, pCursor);
    g.extraCycleRunning = false;
    return r;
}

extern "C" RTS_UI32 CMGetCurrentHook(void) {
    return g.currentHook;
}
extern "C" RTS_UI32 CMGetLastCommCycle(void) {
    return g.lastCommCycle;
}

extern "C" const char* CMGetHookName(RTS_UI32 hook, RTS_RESULT* pResult) {
    int row = hook_row(hook);
    if (pResult != nullptr) *pResult = row >= 0 ? RES_OK : RES_NO_OBJECT;
    return row >= 0 ? kHookTable[row].name : nullptr;
}

extern "C" const CMHookEntry* CMGetHookEntries(RTS_UI32 firstHook, RTS_UI32 endHook, int* pCount) {
    int first = hook_row(firstHook);
    int end = hook_row(endHook);
    int count = first >= 0 && end > first ? end - first : 0;
    if (pCount != nullptr) *pCount = count > 0 ? count : 1;
    return first >= 0 ? &kHookTable[first] : nullptr;
}

extern "C" RTS_RESULT CMIsOptionSupported(RTS_UI32 options) {
    const RTS_UI32 taskOptions = CM_INIT_HOOKS_ON_TASK | CM_INIT_COMM_CYCLE_TASK | CM_INIT_EXIT_ON_TASK;
    if ((options & taskOptions) != 0 && !imports.tasksAndEvents) return RES_NOTSUPPORTED;
    return (g.initFlags & options) == options ? RES_OK : RES_NOTSUPPORTED;
}

extern "C" int CMIsOptionSet(RTS_UI32 options) {
    return 0;
}
extern "C" int CMProfiling(const char* name, RTS_UI32 value) {
    return 0;
}

extern "C" RTS_RESULT CMIsOperationDisabled(RTS_UI32 operation, RTS_UI32 parameter, RTS_UI32* pDisabled) {
    if (g.disablingOperations == 0 || imports.EventPost2 == nullptr) return RES_NOTSUPPORTED;
    struct {
        RTS_UI32 operation, parameter, disabled, handled;
    } query{operation, parameter, 0, 0};
    post_event(kEventOperationQuery, &query);
    if (pDisabled != nullptr) *pDisabled = query.handled != 0 ? query.disabled : 0;
    return query.handled != 0 ? RES_OK : RES_FAILED;
}

extern "C" RTS_RESULT CMDebugOutArg(const char* format, va_list* pArgs) {
    if (imports.SysOutVPrintf == nullptr || pArgs == nullptr) return RES_NOTSUPPORTED;
    return imports.SysOutVPrintf(format, *pArgs);
}

extern "C" RTS_RESULT CMDebugOut(const char* format, ...) {
    va_list args;
    va_start(args, format);
    RTS_RESULT r = CMDebugOutArg(format, &args);
    va_end(args);
    return r;
}

extern "C" RTS_HANDLE CMRegisterClass(RTS_UI32 cmpId, RTS_UI32 classId) {
    ClassEntry* entry = find_class(classId);
    if (entry == nullptr) {
        if (!g.pools) return RTS_INVALID_HANDLE;
        entry = static_cast<ClassEntry*>(take_block(g.classPool, kClassPoolGrowth));
        if (entry == nullptr) return RTS_INVALID_HANDLE;
        MemPoolAppendUsedBlock(entry);
    }
    entry->classId = classId;
    entry->cmpId = cmpId;
    entry->owner = CMGetComponent(cmpId);
    ++g.classCount;
    return entry;
}

extern "C" void* CMCreateInstance(RTS_UI32 classId) {
    ClassEntry* c = find_class(classId);
    if (c == nullptr || c->owner == nullptr || c->owner->createInstance == nullptr) return nullptr;
    return c->owner->createInstance(classId);
}

extern "C" RTS_RESULT CMDeleteInstance(void* instance) {
    if (!g.pools) return RES_FAILED;
    InstanceEntry* e = find_instance(instance);
    if (e == nullptr) return RES_PARAMETER;
    ComponentRecord* owner = e->cls != nullptr ? e->cls->owner : nullptr;
    if (owner == nullptr || owner->deleteInstance == nullptr) return RES_FAILED;
    return owner->deleteInstance(instance);
}

extern "C" RTS_RESULT CMDeleteInstance2(RTS_UI32 classId, void* instance) {
    ClassEntry* c = find_class(classId);
    if (c == nullptr) return RES_PARAMETER;
    if (c->owner == nullptr || c->owner->deleteInstance == nullptr) return RES_FAILED;
    return c->owner->deleteInstance(instance);
}

extern "C" RTS_RESULT CMRegisterInstance(RTS_UI32 classId, RTS_UI32 instanceId, void* instance) {
    if (!g.pools) return RES_FAILED;
    auto* e = static_cast<InstanceEntry*>(take_block(g.instancePool, 1));
    if (e == nullptr) return RES_NOMEMORY;
    e->cls = find_class(classId);
    e->instanceId = instanceId;
    e->instance = instance;
    {
        PoolLock lock(g.instancePool);
        MemPoolAddUsedBlock(e);
    }
    CMCallHook(CH_ON_REGISTER_INSTANCE, classId, reinterpret_cast<RTS_UINTPTR*>(instance), 0);
    return RES_OK;
}

extern "C" RTS_RESULT CMUnregisterInstance(void* instance) {
    InstanceEntry* e = find_instance(instance);
    if (e == nullptr) return RES_FAILED;
    RTS_UI32 classId = e->cls != nullptr ? e->cls->classId : 0;
    CMCallHook(CH_ON_UNREGISTER_INSTANCE, classId, reinterpret_cast<RTS_UINTPTR*>(instance), 0);
    {
        PoolLock lock(g.instancePool);
        MemPoolRemoveUsedBlock(e);
    }
    MemPoolPutBlock(e);
    return RES_OK;
}

extern "C" void* CMGetInstance(RTS_UI32 classId, RTS_UI32 instanceId, RTS_RESULT* pResult) {
    if (!g.pools) return nullptr;
    for (InstanceEntry* e = first_block<InstanceEntry>(g.instancePool); e != nullptr; e = next_block(e)) {
        if (e->cls != nullptr && e->cls->classId == classId && e->instanceId == instanceId) {
            if (pResult != nullptr) *pResult = RES_OK;
            return e->instance;
        }
    }
    if (pResult != nullptr) *pResult = RES_FAILED;
    return nullptr;
}

/* Fills the caller's pool with one block per registered instance that supports the class:
 * each block holds the interface pointer the instance's class query returned and is appended
 * to the pool's used list, newest instance first. */
extern "C" RTS_RESULT CMGetInstanceList(RTS_UI32 classId, RTS_HANDLE pool) {
    if (!g.pools) return RES_FAILED;
    using ClassQuery = void* (*)(void* instance, RTS_UI32 classId, RTS_RESULT* pResult);
    PoolLock lock(g.instancePool);
    for (InstanceEntry* e = first_block<InstanceEntry>(g.instancePool); e != nullptr; e = next_block(e)) {
        auto query = reinterpret_cast<ClassQuery>(static_cast<void**>(e->instance)[4]);
        void* itf = query != nullptr ? query(e->instance, classId, nullptr) : nullptr;
        if (itf == nullptr) continue;
        auto* block = static_cast<void**>(MemPoolGetBlock2(pool, 1, "CM", nullptr));
        if (block == nullptr) return RES_NOMEMORY;
        *block = itf;
        MemPoolAppendUsedBlock(block);
    }
    return RES_OK;
}

extern "C" RTS_HANDLE CMLockCreate(RTS_RESULT* pResult) {
    if (pResult != nullptr) *pResult = RES_OK;
    return SysSemCreate(pResult);
}

extern "C" RTS_RESULT CMLockDelete(RTS_HANDLE lock) {
    return valid_handle(lock) ? SysSemDelete(lock) : RES_OK;
}

extern "C" RTS_RESULT CMLockEnter(RTS_HANDLE lock) {
    if (!g.lockingOn) return RES_NOTINITIALIZED;
    return valid_handle(lock) ? SysSemEnter(lock) : RES_NOTSUPPORTED;
}

extern "C" RTS_RESULT CMLockLeave(RTS_HANDLE lock) {
    if (!g.lockingOn) return RES_NOTINITIALIZED;
    return valid_handle(lock) ? SysSemLeave(lock) : RES_NOTSUPPORTED;
}
