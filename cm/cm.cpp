/* Component manager start-up and shut-down: registering the core and listed components,
 * entry and import passes, the init and exit hook sequences, configuration discovery, the
 * component listing and banner, safe mode and unloading in groups. */
#include <algorithm>
#include <cassert>
#include <chrono>
#include <cstring>
#include <initializer_list>
#include <thread>

#include "cm/rts_common.h"
#include "cm/cm_internal.h"
#include "cmplog.h"
#include "cmpsettings.h"
#include "cmutils.h"
#include "syssem.h"
#include "systime.h"

using rts::valid_handle;

extern "C" RTS_RESULT CM__Entry(ComponentInitRecord* pInit);

namespace cm {

Manager g{};
OptionalImports imports{};

PoolLock::PoolLock(RTS_HANDLE pool) : pool_(pool), locked_(g.pools && MemPoolLock(pool) == RES_OK) {}

PoolLock::~PoolLock() {
    if (locked_) MemPoolUnlock(pool_);
}

void* take_block(RTS_HANDLE pool, RTS_SIZE grow) {
    void* block = MemPoolGetBlock(pool, nullptr);
    if (block == nullptr && MemPoolExtendDynamic(pool, "CM", grow) == RES_OK)
        block = MemPoolGetBlock(pool, nullptr);
    return block;
}

void log(RTS_UI32 classId, RTS_RESULT errorId, RTS_UI32 infoId, const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogAddArg(nullptr, CMPID_CM, classId, errorId, infoId, format, &args);
    va_end(args);
}

namespace {

constexpr const char* kProductTitle = "KELVARO Control";
constexpr const char* kCoreList[] = {"CM", "CmpMemPool", "CmpLog", "CmpSettings", "SysFile", nullptr};
constexpr RTS_UI32 kKeptIds[] = {0x1, 0x13, 0x1E, 0x1F, 0x101, 0x108, 0x10B};
constexpr RTS_I32 kMaxCommCycleInterval = 10000;
/* An interval of 0 would make the communication cycle task spin. */
constexpr RTS_I32 kMinCommCycleInterval = 1;
constexpr RTS_UI32 kExitPendingLimitMs = 10000;
constexpr RTS_UI32 kMoreCyclesLimitMs = 32000;
constexpr auto kMoreCyclesPause = std::chrono::milliseconds(10);
/* A component that answers an exit hook with RES_PENDING is asked again after this pause, so a
 * slow one does not keep a processor busy for the whole limit. */
constexpr auto kExitPendingPause = std::chrono::milliseconds(10);

/* Event parameter through which listeners of the cycle-request event ask for more cycles. */
struct MoreCyclesParam {
    RTS_UI32 moreCycles;
};

/* A list entry stands for a core name when it is that name, or that name followed by exactly
 * "Embedded" or "Flash". */
bool stands_for(const char* entryName, const char* coreName) {
    RTS_SIZE len = std::strlen(coreName);
    if (std::strncmp(entryName, coreName, len) != 0) return false;
    const char* rest = entryName + len;
    return *rest == '\0' || std::strcmp(rest, "Embedded") == 0 || std::strcmp(rest, "Flash") == 0;
}

bool begins_with(const char* s, const char* prefix) {
    return std::strncmp(s, prefix, std::strlen(prefix)) == 0;
}
bool listed(const StaticComponent& e) {
    return e.name != nullptr && e.name[0] != '\0';
}

/* A listed name counts as present when a present record has it, or stands for it. */
bool already_registered(const char* name) {
    for (ComponentNode* n = first_node(); n != nullptr; n = next_of(n))
        if (counts_as_present(n->rec) && stands_for(name, n->rec.name)) return true;
    return false;
}

void keep_first_failure(RTS_RESULT& kept, RTS_RESULT r) {
    if (kept == RES_OK && r != RES_OK) kept = r;
}

RTS_RESULT register_core(const StaticComponent* list) {
    RTS_RESULT result = RES_OK;
    for (const char* const* core = kCoreList; *core != nullptr; ++core) {
        if (already_present(*core)) continue;
        PF_COMPONENT_ENTRY entry = nullptr;
        RTS_HANDLE module = RTS_INVALID_HANDLE;
        RTS_UI16 flags = CM_FLAG_STATIC | CM_FLAG_SYSTEM;
        for (const StaticComponent* e = list; e != nullptr && listed(*e) && entry == nullptr; ++e)
            if (e->entry != nullptr && stands_for(e->name, *core)) entry = e->entry;
        if (entry == nullptr && std::strcmp(*core, "CM") == 0) entry = CM__Entry;
        if (entry == nullptr) {
            RTS_RESULT r = host_load(*core, &module, &entry);
            if (r != RES_OK) {
                keep_first_failure(result, r);
                continue;
            }
            if (valid_handle(module)) flags = CM_FLAG_DYNAMIC | CM_FLAG_SYSTEM;
        }
        create_record(*core, entry, module, flags, 1, nullptr);
    }
    return result;
}

bool is_system_entry(const StaticComponent& e) {
    return e.flags != 0 || begins_with(e.name, "Sys") || std::strcmp(e.name, "CmpMemGC") == 0;
}

RTS_RESULT register_list(const StaticComponent* list, bool systemPass) {
    RTS_RESULT result = RES_OK;
    for (const StaticComponent* e = list; e != nullptr && listed(*e); ++e) {
        if (systemPass && !is_system_entry(*e)) continue;
        if (already_registered(e->name)) continue;
        PF_COMPONENT_ENTRY entry = e->entry;
        RTS_HANDLE module = RTS_INVALID_HANDLE;
        RTS_UI16 flags = systemPass ? CM_FLAG_STATIC | CM_FLAG_SYSTEM : CM_FLAG_STATIC;
        if (entry == nullptr) {
            RTS_RESULT r = host_load(e->name, &module, &entry);
            if (r != RES_OK) {
                keep_first_failure(result, r);
                continue;
            }
            flags = valid_handle(module) ? CM_FLAG_DYNAMIC : CM_FLAG_STATIC;
            if (e->flags != 0 || begins_with(e->name, "Sys")) flags |= CM_FLAG_SYSTEM;
        }
        if (std::strcmp(e->name, "CmpMemGC") == 0) flags |= CM_FLAG_SYSTEM;
        keep_first_failure(result, create_record(e->name, entry, module, flags, 1, nullptr));
    }
    return result;
}

RTS_RESULT discover_configuration(const char* cfgFile, RTS_UI32 flags) {
    const bool optional = (flags & CM_INIT_NO_CONFIG_REQUIRED) != 0;
    RTS_RESULT r = RES_OK;
    if (cfgFile == nullptr) {
        if (optional) return RES_OK;
        for (const char* name : {"KELVAROControl", "KeLvAroSP", "KeLvAroControl"})
            if ((r = SettgSetDatabaseName(name)) == RES_OK) return RES_OK;
        log(LOG_ERROR, r, 3, "Cannot find configuration <file>%s</file>", "KELVAROControl");
        return RES_FAILED;
    }
    if ((r = SettgSetDatabaseName(cfgFile)) == RES_OK) return RES_OK;
    if (!optional)
        for (const char* name : {"KELVAROControl", "KeLvAroControl"})
            if ((r = SettgSetDatabaseName(name)) == RES_OK) return RES_OK;
    if (std::strstr(cfgFile, "GWClient.cfg") != nullptr) return r;
    if (optional) return RES_OK;
    log(LOG_ERROR, r, 3, "Cannot find configuration <file>%s</file>", cfgFile);
    return RES_FAILED;
}

/* A missing key is no failure here: the default stands. Only a settings error counts. */
RTS_RESULT read_setting(const char* key, RTS_I32* pValue, RTS_I32 defaultValue) {
    RTS_RESULT r = SettgGetIntValue("ComponentManager", key, pValue, defaultValue, 0);
    return r == RES_FAILED ? RES_OK : r;
}

RTS_RESULT read_manager_settings() {
    RTS_RESULT result = RES_OK;
    keep_first_failure(result, read_setting("DisablingOperations", &g.disablingOperations, 1));
    keep_first_failure(result, read_setting("OverloadableFunctions", &g.overloadableFunctions, 1));
    keep_first_failure(result,
                       read_setting("MinimalCommCycleHookInterval", &g.minimalCommCycleInterval, 250));
    g.minimalCommCycleInterval = std::max(g.minimalCommCycleInterval, 0); // negative: no minimum
    return result;
}

void add_components_from_settings() {
    for (int n = 0;; ++n) {
        char key[32];
        char name[32];
        RTS_I32 length = sizeof name;
        CMUtlsnprintf(key, sizeof key, "%s.%d", "Component", n);
        RTS_RESULT r = SettgGetStringValue("ComponentManager", key, name, &length, "", 0);
        if ((r != RES_OK && r != RES_BUFFERSIZE) || name[0] == '\0') {
            if (n >= 2) return;
            continue;
        }
        if (already_present(name)) continue;
        RTS_HANDLE module;
        PF_COMPONENT_ENTRY entry;
        if ((r = host_load(name, &module, &entry)) != RES_OK) {
            log(LOG_ERROR, r, 12, "*** Error: Component <cmp>%s</cmp> NOT loaded", name);
            continue;
        }
        RTS_UI16 flags = begins_with(name, "Sys") ? CM_FLAG_DYNAMIC | CM_FLAG_SYSTEM : CM_FLAG_DYNAMIC;
        create_record(name, entry, module, flags, 0, nullptr);
    }
}

void print_console_banner() {
    if (imports.SysOutPrintf == nullptr) return;
    imports.SysOutPrintf("\n"
                         "  _/    _/ _/_/_/_/ _/       _/    _/   _/_/   _/_/_/     _/_/\n"
                         "  _/  _/   _/       _/       _/    _/ _/    _/ _/    _/ _/    _/\n"
                         "  _/_/     _/_/_/   _/       _/    _/ _/_/_/_/ _/_/_/   _/    _/\n"
                         "  _/  _/   _/       _/        _/  _/  _/    _/ _/    _/ _/    _/\n"
                         "  _/    _/ _/_/_/_/ _/_/_/_/    _/    _/    _/ _/    _/   _/_/\n"
                         "\n\n");
}

void log_listing() {
    struct Group {
        RTS_UI16 mask, value;
    };
    constexpr Group groups[] = {{5, 5}, {6, 6}, {5, 1}, {6, 2}};
    for (const Group& grp : groups)
        for (ComponentNode* n = first_node(); n != nullptr; n = next_of(n))
            if ((n->rec.flags & grp.mask) == grp.value) log_listing_line(n->rec);
}

const char* os_name(RTS_UI32 id) {
    constexpr const char* names[] = {"---",   "---",     "Windows", "Windows RTE", "Windows CE",
                                     "Linux", "VxWorks", "QNX",     "UCOS"};
    return id < sizeof names / sizeof names[0] ? names[id] : "---";
}

const char* cpu_name(RTS_UI32 id) {
    constexpr const char* names[] = {"---",      "x86",     "ARM",      "PPC",       "MIPS",   "SH",
                                     "BLACKFIN", "TRICORE", "NIOS",     "C16X",      "CORTEX", "DSP",
                                     "V850",     "RX6",     "COLDFIRE", "LOONGSON64"};
    return id < sizeof names / sizeof names[0] ? names[id] : "---";
}

void device_name(char* buffer, RTS_SIZE size) {
    RTS_WCHAR wide[101] = {};
    RTS_SIZE length = 100;
    if (imports.SysTargetGetDeviceName != nullptr &&
        imports.SysTargetGetDeviceName(wide, &length) == RES_OK) {
        wide[100] = 0;
        CMUtlWToStr(wide, buffer, size);
        return;
    }
    CMUtlsnprintf(buffer, size, "%s V3", kProductTitle);
}

void log_banner() {
    char rule[74];
    std::memset(rule, '=', 73);
    rule[73] = '\0';
    char device[101];
    device_name(device, sizeof device);
    RTS_UI32 os = 0, cpu = 0;
    if (imports.SysTargetGetOperatingSystemId != nullptr) imports.SysTargetGetOperatingSystemId(&os);
    if (imports.SysTargetGetProcessorId != nullptr) imports.SysTargetGetProcessorId(&cpu);
    log(LOG_INFO, 0, 0, "%s", rule);
    log(LOG_INFO, 0, 4, "%s", device);
    log(LOG_INFO, 0, 4, "OS=%s, CPU=%s, Arch=%s, Coding=%s", os_name(os), cpu_name(cpu), "64Bit", "C");
    log(LOG_INFO, 0, 6, "<version>%s</version> <builddate>%s</builddate>", "3.5.21.10", "May 20 2025");
    log(LOG_INFO, 0, 5, "%s", "Gateway control framework started on the caller's thread");
    log(LOG_INFO, 0, 0, "%s", rule);
}

/* Delivers an exit hook again while a component answers RES_PENDING; each delivery begins at
 * the head of the list. */
RTS_RESULT deliver_exit_row(RTS_UI32 hook, RTS_UINTPTR* pCursor) {
    RTS_UI32 start = SysTimeGetMs();
    RTS_RESULT r;
    while ((r = CMCallHook(hook, 0, pCursor, 0)) == RES_PENDING &&
           SysTimeGetMs() - start < kExitPendingLimitMs) {
        std::this_thread::sleep_for(kExitPendingPause);
        if (pCursor != nullptr) *pCursor = 0;
    }
    return r;
}

/* Before CH_EXIT_COMM: keeps cycling while a listener of the cycle-request event asks. */
void drain_comm_cycles() {
    RTS_UI32 start = SysTimeGetMs();
    for (;;) {
        MoreCyclesParam more{0};
        post_event(kEventMoreCycles, &more);
        if (more.moreCycles == 0 || SysTimeGetMs() - start >= kMoreCyclesLimitMs) return;
        CMCallHook(CH_COMM_CYCLE, 0, nullptr, 0);
        std::this_thread::sleep_for(kMoreCyclesPause);
    }
}

void before_exit_row(RTS_UI32 hook) {
    switch (hook) {
        case CH_EXIT_COMM:
            post_event(kEventExitComm, nullptr);
            drain_comm_cycles();
            break;
        case CH_EXIT_TASKS:
            post_event(kEventExitTasks, nullptr);
            break;
        case CH_EXIT3:
            post_event(kEventExit3, nullptr);
            break;
        case CH_EXIT2:
            post_event(kEventExit2, nullptr);
            break;
        default:
            break;
    }
}

/* Creates the manager's events; the first failure is the result, a failed event stays unset. */
RTS_RESULT create_events() {
    RTS_RESULT result = RES_OK;
    for (int i = 0; i < kEventCount && imports.EventCreate != nullptr; ++i) {
        RTS_RESULT r = RES_OK;
        RTS_HANDLE event = imports.EventCreate(kFirstEventId + i, CMPID_CM, &r);
        g.events[i] = r == RES_OK ? event : RTS_INVALID_HANDLE;
        keep_first_failure(result, r);
    }
    return result;
}

void delete_events() {
    for (RTS_HANDLE& e : g.events) {
        if (imports.EventDelete != nullptr && e != RTS_INVALID_HANDLE) imports.EventDelete(e);
        e = RTS_INVALID_HANDLE;
    }
}

/* The row of a hook the manager delivers itself: every such hook has one. */
int row_of(RTS_UI32 hook) {
    const int row = hook_row(hook);
    assert(row >= 0);
    return row;
}

bool is_kept(RTS_UI32 id) {
    for (RTS_UI32 k : kKeptIds)
        if (k == id) return true;
    return false;
}

/* Unloads every component of a group, restarting at the head after each unload. */
void unload_group(RTS_UI16 mask, RTS_UI16 value, bool kept) {
    bool again = true;
    while (again) {
        again = false;
        for (ComponentNode* n = first_node(); n != nullptr; n = next_of(n)) {
            if ((n->rec.flags & mask) != value || is_kept(n->rec.id) != kept) continue;
            if (CMUnloadComponent(&n->rec) == RES_OK) {
                again = true;
                break;
            }
        }
    }
}

/* The three pools start over static areas, so the manager needs no heap to register the
 * components of a small program. */
alignas(8) unsigned char g_componentArea[5480];
alignas(8) unsigned char g_classArea[280];
alignas(8) unsigned char g_instanceArea[320];

void create_pools() {
    g.componentPool =
        MemPoolCreateStatic(sizeof(ComponentNode), sizeof g_componentArea, g_componentArea, nullptr);
    g.classPool = MemPoolCreateStatic(sizeof(ClassEntry), sizeof g_classArea, g_classArea, nullptr);
    g.instancePool =
        MemPoolCreateStatic(sizeof(InstanceEntry), sizeof g_instanceArea, g_instanceArea, nullptr);
    g.pools = g.componentPool != RTS_INVALID_HANDLE && g.classPool != RTS_INVALID_HANDLE &&
              g.instancePool != RTS_INVALID_HANDLE;
}

void for_each_pool(RTS_RESULT (*action)(RTS_HANDLE)) {
    for (RTS_HANDLE pool : {g.componentPool, g.classPool, g.instancePool}) action(pool);
}

void reset_globals() {
    g = Manager{};
    g.componentPool = g.classPool = g.instancePool = RTS_INVALID_HANDLE;
    g.disablingOperations = 1;
    g.overloadableFunctions = 1;
    g.minimalCommCycleInterval = 250;
    g.commCycleInterval = 10;
    for (RTS_HANDLE& e : g.events) e = RTS_INVALID_HANDLE;
}

} // namespace

void post_event(ManagerEvent event, void* param) {
    assert(event >= 0 && event < kEventCount);
    if (imports.EventPost2 != nullptr && g.events[event] != RTS_INVALID_HANDLE)
        imports.EventPost2(g.events[event], 1, 2, param);
}

} // namespace cm

using namespace cm;

extern "C" RTS_RESULT CMInit3(const char* cfgFile, const StaticComponent* staticList, RTS_UI32 flags) {
    PF_HOST_CALLBACK callback = g.hostCallback;
    RTS_UINTPTR userParam = g.hostUserParam;
    reset_globals();
    g.hostCallback = callback;
    g.hostUserParam = userParam;
    create_pools();
    RTS_RESULT R = RES_OK;
    RTS_RESULT C = register_core(staticList);
    keep_first_failure(R, call_entries(false));
    if (C == RES_OK) C = import_pass(CM_FLAG_STARTUP_IMPORT | CM_FLAG_LATE_IMPORT);
    if (C == RES_OK) C = register_list(staticList, true);
    keep_first_failure(R, call_entries(false));
    import_pass(CM_FLAG_STARTUP_IMPORT | CM_FLAG_LATE_IMPORT);
    if (CMBasicChecks() == 0) {
        log(LOG_ERROR, 1, 2, "RtsBasicChecks failed. Cannot start the runtime system");
        return RES_FAILED;
    }
    g.initFlags = flags;
    register_list(staticList, false);
    keep_first_failure(R, call_entries(false));
    keep_first_failure(R, startup_pass(CH_INIT_SYSTEM));
    keep_first_failure(R, discover_configuration(cfgFile, flags));
    keep_first_failure(R, read_manager_settings());
    add_components_from_settings();
    keep_first_failure(R, call_entries(false));
    import_pass(CM_FLAG_SYSTEM);
    keep_first_failure(R, CMCallHook2(CM_FLAG_DYNAMIC, CH_INIT_SYSTEM, 0, 0));
    print_console_banner();
    keep_first_failure(R, startup_pass(CH_INIT_SYSTEM2));
    log_listing();
    C = import_pass(CM_FLAG_STARTUP_IMPORT | CM_FLAG_LATE_IMPORT);
    if (C != RES_OK) CMSetSafeMode(1, C);
    CMInitSequence(row_of(CH_INIT), 1); // not part of the result: CH_INIT stops with the halt flag
    keep_first_failure(R, create_events());
    if (g.haltFlag == 0 && (flags & CM_INIT_STOP_BEFORE_INIT_END) == 0) keep_first_failure(R, CMInitEnd());
    return C != RES_OK ? C : R;
}

extern "C" RTS_RESULT CMInit(const char* cfgFile, const StaticComponent* staticList) {
    return CMInit3(cfgFile, staticList, 0);
}

extern "C" RTS_RESULT CMInit2(const char* cfgFile, const StaticComponent* staticList, int noConfigRequired) {
    return CMInit3(cfgFile, staticList, noConfigRequired != 0 ? CM_INIT_NO_CONFIG_REQUIRED : 0);
}

extern "C" RTS_RESULT CMInit4(const char* cfgFile, const StaticComponent* staticList, RTS_UI32 flags,
                              PF_HOST_CALLBACK hostCallback, RTS_UINTPTR userParam) {
    if (hostCallback != nullptr) {
        g.hostCallback = hostCallback;
        g.hostUserParam = userParam;
    }
    return CMInit3(cfgFile, staticList, flags);
}

extern "C" RTS_RESULT CMInitEnd(void) {
    if (g.initEndDone || g.lastHook >= CH_POST_INIT) return RES_DUPLICATE;
    for_each_pool(MemPoolCreateSyncObject);
    CMInitSequence(row_of(CH_POST_INIT), row_of(CH_INIT_SYSTEM_TASKS) - row_of(CH_POST_INIT));
    log_banner();
    CMInitSequence(row_of(CH_INIT_SYSTEM_TASKS), row_of(CH_COMM_CYCLE) - row_of(CH_INIT_SYSTEM_TASKS));
    for (ComponentNode* n = first_node(); n != nullptr; n = next_of(n))
        if (n->rec.state == CM_STATE_INITIALIZED) n->rec.state = CM_STATE_RUNNING;
    RTS_I32 interval = 10;
    SettgGetIntValue("CM", "CommCycleInterval", &interval, 10, 0);
    g.commCycleInterval = std::clamp(interval, kMinCommCycleInterval, kMaxCommCycleInterval);
    g.lastCommCycle = SysTimeGetMs();
    if ((g.initFlags & CM_INIT_COMM_CYCLE_TASK) != 0 && imports.tasksAndEvents) start_comm_cycle_task();
    log(LOG_INFO, 0, 34, "%s ready", kProductTitle);
    g.initEndDone = true;
    return RES_OK;
}

namespace cm {

RTS_RESULT deliver_rows(RangeProgress& p) {
    assert(is_table_range(p.row, p.end - p.row));
    RTS_UINTPTR* pCursor = p.withCursor ? &p.cursor : nullptr;
    for (; p.row < p.end; ++p.row, p.cursor = 0, p.begun = false) {
        const RTS_UI32 hook = hook_at_row(p.row);
        RTS_RESULT r;
        if (p.exitDirection) {
            if (!p.begun) before_exit_row(hook);
            p.begun = true;
            r = deliver_exit_row(hook, pCursor);
        } else {
            RTS_UINTPTR param1 = hook == CH_INIT ? reinterpret_cast<RTS_UINTPTR>(&g.haltFlag) : 0;
            r = CMCallHook(hook, param1, pCursor, 0);
        }
        if (p.result == RES_OK) p.result = r;
    }
    return p.result;
}

RTS_RESULT deliver_init_rows(int firstRow, int count) {
    RangeProgress progress{firstRow, firstRow + count};
    return deliver_rows(progress);
}

RTS_RESULT deliver_exit_rows(int firstRow, int count) {
    RangeProgress progress{firstRow, firstRow + count, 0, true};
    return deliver_rows(progress);
}

} // namespace cm

extern "C" RTS_RESULT CMInitSequence(int firstRow, int count) {
    if (count <= 0) return RES_OK;
    if (!is_table_range(firstRow, count)) return RES_PARAMETER;
    if ((g.initFlags & CM_INIT_HOOKS_ON_TASK) != 0 && imports.tasksAndEvents)
        return run_range_on_hooks_task(firstRow, count, false);
    return deliver_init_rows(firstRow, count);
}

extern "C" RTS_RESULT CMExitSequence(int firstRow, int count) {
    if (count <= 0) {
        post_event(kEventShutdown, nullptr);
        return RES_OK;
    }
    if (!is_table_range(firstRow, count)) return RES_PARAMETER;
    if ((g.initFlags & CM_INIT_EXIT_ON_TASK) != 0 && imports.tasksAndEvents)
        return run_range_on_hooks_task(firstRow, count, true);
    return deliver_exit_rows(firstRow, count);
}

extern "C" RTS_RESULT CMExit(void) {
    log(LOG_INFO, 0, 35, "%s shutdown...", kProductTitle);
    CMExitSequence(0, 0);
    stop_comm_cycle_task();
    if (g.initEndDone) {
        CMExitSequence(row_of(CH_EXIT_COMM), 3);
        for_each_pool(MemPoolDeleteSyncObject);
    }
    CMExitSequence(row_of(CH_EXIT3), 2);
    delete_events();
    CMExitSequence(row_of(CH_EXIT), 1);
    log(LOG_INFO, 0, 36, "%s shutdown done", kProductTitle);
    stop_hooks_task();
    deliver_exit_rows(row_of(CH_EXIT_SYSTEM2), 2);
    for (ComponentNode* n = first_node(); n != nullptr; n = next_of(n))
        if (n->rec.state >= CM_STATE_DISABLED && n->rec.state <= CM_STATE_RUNNING)
            n->rec.state = CM_STATE_REGISTERED;
    unload_group(CM_FLAG_DYNAMIC | CM_FLAG_SYSTEM, CM_FLAG_DYNAMIC, false);
    unload_group(CM_FLAG_STATIC | CM_FLAG_SYSTEM, CM_FLAG_STATIC, false);
    unload_group(CM_FLAG_SYSTEM, CM_FLAG_SYSTEM, false);
    unload_group(0, 0, false); // records added as neither static, dynamic nor system
    free_registries();
    for (RTS_HANDLE pool : {g.componentPool, g.classPool, g.instancePool}) MemPoolCleanup(pool, "CM", 1);
    deliver_exit_rows(row_of(CH_EXIT_GARBAGEMEMORY), 1);
    unload_group(0, 0, true);
    g.pools = false;
    g.componentPool = g.classPool = g.instancePool = RTS_INVALID_HANDLE;
    g.initEndDone = false;
    g.hostCallback = nullptr; // a host callback belongs to one run
    return RES_OK;
}

extern "C" void CMSetExit(void) {
    g.exitFlag = 1;
}
extern "C" RTS_UI32 CMGetExit(void) {
    return g.exitFlag;
}

extern "C" RTS_RESULT CMSetSafeMode(RTS_UI32 initiatorCmpId, RTS_UI32 reason) {
    if (g.safeMode) return RES_ALREADY;
    g.safeModeReason = reason;
    g.safeMode = true;
    CMCallHook(CH_SAFEMODE, g.currentHook, nullptr, 0);
    char initiator[96] = "";
    ComponentRecord* rec = initiatorCmpId != 0 ? CMGetComponent(initiatorCmpId) : nullptr;
    if (rec != nullptr)
        CMUtlsnprintf(initiator, sizeof initiator, "Initiator: <cmp>%s</cmp>, <id>0x%08x</id>", rec->name,
                      rec->id);
    log(LOG_EXCEPTION, reason, 69, "Switch to safe mode! %s", initiator);
    return RES_OK;
}
