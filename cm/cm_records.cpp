/* The component list: records, their creation and removal, entry and import calls, adding,
 * loading, initialising, exiting and unloading components at run time, and the queries. */
#include <cassert>
#include <cstring>
#include <initializer_list>

#include "cm/cm_internal.h"
#include "cmplog.h"
#include "cmutils.h"
#include "syssem.h"
#include "sysmem.h"

namespace cm {

namespace {

constexpr const char* kOwner = "CM";

PF_CM_HOST_LOADER g_loader = nullptr;
PF_CM_HOST_UNLOADER g_unloader = nullptr;

ComponentNode* find_registered(const char* name) {
    for (ComponentNode* n = first_node(); n != nullptr; n = next_of(n))
        if (n->rec.state == CM_STATE_REGISTERED && std::strcmp(n->rec.name, name) == 0) return n;
    return nullptr;
}

/* Copies the name for a record that owns it; false when the heap refuses. */
bool copy_name(ComponentRecord& rec) {
    RTS_SIZE len = std::strlen(rec.name) + 1;
    char* copy = static_cast<char*>(SysMemAllocData(kOwner, len, nullptr));
    if (copy == nullptr) return false;
    std::memcpy(copy, rec.name, len);
    rec.name = copy;
    return true;
}

/* The classes of a record that leaves the list pass to the next record of their id, if any. */
void hand_on_classes(const ComponentRecord* rec) {
    for (ClassEntry* c = first_block<ClassEntry>(g.classPool); c != nullptr; c = next_block(c))
        if (c->owner == rec) c->owner = CMGetComponent(c->cmpId);
}

void free_node(ComponentNode* node) {
    MemPoolRemoveUsedBlock(node);
    assert(g.count > 0);
    --g.count;
    ++g.listChanges;
    hand_on_classes(&node->rec);
    if (node->rec.staticName == 0) SysMemFreeData(kOwner, const_cast<char*>(node->rec.name));
    MemPoolPutBlock(node);
}

/* Takes a record block, copies the template, owns the name when asked; under the pool lock. */
RTS_RESULT insert_record(const ComponentRecord& tmpl, ComponentNode** ppNode) {
    PoolLock lock;
    if (find_registered(tmpl.name) != nullptr) return RES_DUPLICATE;
    auto* node = static_cast<ComponentNode*>(take_block(g.componentPool, 1));
    if (node == nullptr) return RES_NOMEMORY;
    node->rec = tmpl;
    if ((node->rec.flags & CM_FLAG_LATE_IMPORT) == 0) node->rec.flags |= CM_FLAG_STARTUP_IMPORT;
    if (node->rec.staticName == 0 && !copy_name(node->rec)) {
        MemPoolPutBlock(node);
        return RES_NOMEMORY;
    }
    MemPoolAppendUsedBlock(node);
    ++g.count;
    ++g.listChanges;
    if (ppNode != nullptr) *ppNode = node;
    return RES_OK;
}

RTS_HANDLE handle_result(ComponentNode* node, RTS_RESULT r, RTS_RESULT* pResult) {
    if (pResult != nullptr) *pResult = r;
    return node != nullptr ? static_cast<RTS_HANDLE>(&node->rec) : RTS_INVALID_HANDLE;
}

const char* listing_prefix(const ComponentRecord& rec, char* buffer, RTS_SIZE size) {
    const char* state = rec.state == CM_STATE_DISABLED   ? "[DISABLED] "
                        : rec.state == CM_STATE_UNLOADED ? "[UNLOADED] "
                                                         : "";
    const char* kind = "";
    bool system = (rec.flags & CM_FLAG_SYSTEM) != 0, dynamic = (rec.flags & CM_FLAG_DYNAMIC) != 0;
    if (system && dynamic)
        kind = "System|Dynamic: ";
    else if (system)
        kind = "System: ";
    else if (dynamic && (rec.flags & CM_FLAG_CMODULE) != 0)
        kind = "C-Module|Dynamic: ";
    else if (dynamic && (rec.flags & CM_FLAG_IEC) != 0)
        kind = "IEC|Dynamic: ";
    else if (dynamic)
        kind = "Dynamic: ";
    CMUtlsnprintf(buffer, size, "%s%s", state, kind);
    return buffer;
}

void log_version_line(RTS_UI32 infoId, const char* format, const char* prefix, const ComponentRecord& rec) {
    log(LOG_INFO, 0, infoId, format, prefix, rec.name, rec.id, (rec.version >> 24) & 0xFF,
        (rec.version >> 16) & 0xFF, (rec.version >> 8) & 0xFF, rec.version & 0xFF);
}

/* Delivers one hook to one component when it takes hooks; keeps the first failing result. */
RTS_RESULT deliver_to(ComponentNode* node, RTS_UI32 hook, RTS_UINTPTR param1, RTS_RESULT first) {
    ComponentRecord& rec = node->rec;
    if (!eligible(rec, hook)) return first;
    RTS_RESULT r = call_hook_on(rec, hook, param1, 0);
    return first == RES_OK ? r : first;
}

} // namespace

void log_listing_line(const ComponentRecord& rec) {
    char prefix[40];
    log_version_line(10, "%s<cmp>%s</cmp>, <id>0x%08x</id> <ver>%d.%d.%d.%d</ver>",
                     listing_prefix(rec, prefix, sizeof prefix), rec);
}

ComponentNode* previous_of(const ComponentNode* node) {
    PoolLock lock;
    ComponentNode* previous = nullptr;
    for (ComponentNode* n = first_node(); n != nullptr && n != node; n = next_of(n)) previous = n;
    return previous;
}

ComponentNode* ListWalk::next() {
    if (node_ != nullptr && !listed())
        node_ = neighbour_ != nullptr && node_of(&neighbour_->rec) == nullptr ? nullptr : neighbour_;
    else
        node_ = node_ != nullptr && changes_ != g.listChanges ? step_(node_) : neighbour_;
    if (node_ != nullptr) neighbour_ = step_(node_);
    changes_ = g.listChanges;
    return node_;
}

bool ListWalk::listed() const {
    return changes_ == g.listChanges || node_of(&node_->rec) != nullptr;
}

ComponentNode* node_of(RTS_HANDLE component) {
    for (ComponentNode* n = first_node(); n != nullptr; n = next_of(n))
        if (static_cast<RTS_HANDLE>(&n->rec) == component) return n;
    return nullptr;
}

ComponentNode* find_by_name(const char* name) {
    for (ComponentNode* n = first_node(); n != nullptr; n = next_of(n))
        if (std::strcmp(n->rec.name, name) == 0) return n;
    return nullptr;
}

bool already_present(const char* name) {
    for (ComponentNode* n = first_node(); n != nullptr; n = next_of(n))
        if (counts_as_present(n->rec) && std::strcmp(n->rec.name, name) == 0) return true;
    return false;
}

bool counts_as_present(const ComponentRecord& rec) {
    return rec.state == CM_STATE_REGISTERED || rec.state == CM_STATE_INITIALIZED ||
           rec.state == CM_STATE_DISABLED;
}

RTS_RESULT create_record(const char* name, PF_COMPONENT_ENTRY entry, RTS_HANDLE moduleHandle, RTS_UI16 flags,
                         RTS_UI16 staticName, ComponentNode** ppNode) {
    ComponentRecord tmpl{};
    tmpl.name = name;
    tmpl.entry = entry;
    tmpl.moduleHandle = moduleHandle;
    tmpl.flags = flags;
    tmpl.staticName = staticName;
    tmpl.state = CM_STATE_REGISTERED;
    return insert_record(tmpl, ppNode);
}

RTS_RESULT call_entry(ComponentNode* node, bool withLogging) {
    ComponentRecord& rec = node->rec;
    ComponentInitRecord init{};
    init.registerApi = CMRegisterAPI;
    init.getApi = CMGetAPI;
    init.callHook = CMCallHook;
    init.registerClass = CMRegisterClass;
    init.createInstanceByClass = CMCreateInstance;
    init.registerApi2 = CMRegisterAPI2;
    init.getApi2 = CMGetAPI2;
    init.deleteInstance2 = CMDeleteInstance2;
    if (RTS_RESULT r = rec.entry(&init); r != RES_OK) {
        rec.state = CM_STATE_DISABLED;
        if (withLogging) log(LOG_ERROR, 1, 16, "Init function failed of <cmp>%s</cmp>", rec.name);
        return r;
    }
    rec.id = init.cmpId;
    rec.exportFunctions = init.exportFunctions;
    rec.importFunctions = init.importFunctions;
    rec.getVersion = init.getVersion;
    rec.hookFunction = init.hookFunction;
    rec.createInstance = init.createInstance;
    rec.deleteInstance = init.deleteInstance;
    rec.version = rec.getVersion != nullptr ? rec.getVersion() : 0;
    rec.state = CM_STATE_INITIALIZED;
    point_classes_at(&rec);
    if (withLogging) {
        const char* prefix = (rec.flags & CM_FLAG_DYNAMIC) != 0 ? "Dynamic: " : "";
        log_version_line(15, "%s<cmp>%s</cmp> init, <id>0x%08x</id> <version>%d.%d.%d.%d</version>", prefix,
                         rec);
    }
    return RES_OK;
}

RTS_RESULT call_entries(bool withLogging) {
    RTS_RESULT result = RES_OK;
    ComponentNode* next = nullptr;
    for (ComponentNode* n = first_node(); n != nullptr; n = next) {
        next = next_of(n);
        if (n->rec.state != CM_STATE_REGISTERED) continue;
        if (n->rec.entry == nullptr) {
            CMUnloadComponent(&n->rec);
            continue;
        }
        if (call_entry(n, withLogging) != RES_OK) result = RES_FAILED;
    }
    return result;
}

bool flags_match(RTS_UI16 flags, RTS_UI32 mask) {
    const RTS_UI32 either = CM_FLAG_STARTUP_IMPORT | CM_FLAG_LATE_IMPORT;
    if (mask == either) return (flags & either) != 0;
    return (flags & mask) == mask;
}

RTS_RESULT import_pass(RTS_UI32 mask) {
    RTS_RESULT result = RES_OK;
    for (ComponentNode* n = first_node(); n != nullptr; n = next_of(n)) {
        ComponentRecord& rec = n->rec;
        if (!flags_match(rec.flags, mask) || rec.importFunctions == nullptr) continue;
        if (rec.importFunctions() != RES_OK) {
            rec.state = CM_STATE_DISABLED;
            log(LOG_ERROR, 1, 22, "Import function(s) failed of <name>%s</name>", rec.name);
            result = RES_FAILED;
        }
    }
    return result;
}

void point_classes_at(ComponentRecord* rec) {
    if (CMGetComponent(rec->id) != rec) return;
    for (ClassEntry* c = first_block<ClassEntry>(g.classPool); c != nullptr; c = next_block(c))
        if (c->cmpId == rec->id) c->owner = rec;
}

/* Gives every block of a registry back to its pool. */
template <typename T> void empty_registry(RTS_HANDLE pool) {
    while (T* entry = first_block<T>(pool)) {
        MemPoolRemoveUsedBlock(entry);
        MemPoolPutBlock(entry);
    }
}

void free_registries() {
    empty_registry<InstanceEntry>(g.instancePool);
    empty_registry<ClassEntry>(g.classPool);
    g.classCount = 0;
}

RTS_RESULT host_load(const char* name, RTS_HANDLE* pModule, PF_COMPONENT_ENTRY* pEntry) {
    *pModule = RTS_INVALID_HANDLE;
    *pEntry = nullptr;
    PF_CM_HOST_LOADER loader = g_loader != nullptr ? g_loader : CMHostLoadComponent;
    RTS_RESULT r = loader(name, 0, pModule, pEntry);
    if (r == RES_OK && *pEntry == nullptr) r = RES_FAILED;
    return r;
}

RTS_RESULT host_unload(const char* name, RTS_HANDLE module) {
    PF_CM_HOST_UNLOADER unloader = g_unloader != nullptr ? g_unloader : CMHostUnloadComponent;
    return unloader(name, module);
}

} // namespace cm

using namespace cm;

extern "C" void CMSetHostLoader(PF_CM_HOST_LOADER loader, PF_CM_HOST_UNLOADER unloader) {
    g_loader = loader;
    g_unloader = unloader;
}

extern "C" RTS_HANDLE CMAddComponent(const ComponentRecord* pTemplate, RTS_RESULT* pResult) {
    if (pTemplate == nullptr || pTemplate->name == nullptr)
        return handle_result(nullptr, RES_PARAMETER, pResult);
    if (!g.pools) return handle_result(nullptr, RES_FAILED, pResult);
    ComponentNode* node = nullptr;
    RTS_RESULT r = insert_record(*pTemplate, &node);
    return handle_result(node, r, pResult);
}

extern "C" RTS_RESULT CMRemoveComponent(RTS_HANDLE component) {
    if (!g.pools) return RES_FAILED;
    if (component == RTS_INVALID_HANDLE || component == nullptr) return RES_PARAMETER;
    PoolLock lock;
    ComponentNode* node = node_of(component);
    if (node == nullptr) return RES_PARAMETER;
    free_node(node);
    return RES_OK;
}

extern "C" RTS_HANDLE CMLoadComponent3(const char* name, RTS_UINTPTR reserved, RTS_UI32 flags,
                                       RTS_RESULT* pResult) {
    if (name == nullptr || !g.pools) return handle_result(nullptr, RES_PARAMETER, pResult);
    if (ComponentNode* existing = find_by_name(name)) return handle_result(existing, RES_OK, pResult);
    RTS_HANDLE module;
    PF_COMPONENT_ENTRY entry;
    RTS_RESULT r = host_load(name, &module, &entry);
    if (r != RES_OK) return handle_result(nullptr, r, pResult);
    ComponentNode prepared{};
    prepared.rec.name = name;
    prepared.rec.entry = entry;
    prepared.rec.moduleHandle = module;
    prepared.rec.state = CM_STATE_REGISTERED;
    prepared.rec.flags = static_cast<RTS_UI16>(flags | CM_FLAG_DYNAMIC);
    if ((r = call_entry(&prepared, true)) != RES_OK) return handle_result(nullptr, r, pResult);
    ComponentRecord& rec = prepared.rec;
    rec.state = CM_STATE_REGISTERED; // its init hooks come with CMInitComponent
    if (rec.exportFunctions != nullptr && (r = rec.exportFunctions()) != RES_OK)
        return handle_result(nullptr, r, pResult);
    if (rec.importFunctions != nullptr && (r = rec.importFunctions()) != RES_OK)
        return handle_result(nullptr, r, pResult);
    broadcast(CH_ON_LOAD_COMPONENT, reinterpret_cast<RTS_UINTPTR>(name), 0);
    RTS_HANDLE added = CMAddComponent(&rec, pResult);
    if (added != RTS_INVALID_HANDLE) point_classes_at(static_cast<ComponentRecord*>(added));
    return added;
}

extern "C" RTS_HANDLE CMLoadComponent(const char* name, RTS_RESULT* pResult) {
    return CMLoadComponent3(name, 0, CM_FLAG_DYNAMIC, pResult);
}

extern "C" RTS_HANDLE CMLoadComponent2(const char* name, RTS_UI32 flags, RTS_RESULT* pResult) {
    return CMLoadComponent3(name, 0, flags, pResult);
}

extern "C" RTS_RESULT CMInitComponent(RTS_HANDLE component) {
    ComponentNode* node = node_of(component);
    if (component == RTS_INVALID_HANDLE || node == nullptr) return RES_PARAMETER;
    ComponentRecord& rec = node->rec;
    if (rec.state != CM_STATE_REGISTERED) return RES_FAILED;
    log(LOG_INFO, 0, 49, "Call <cmp>%s</cmp> init hooks", rec.name);
    point_classes_at(&rec);
    RTS_UI32 halt = 0;
    RTS_RESULT r = deliver_to(node, CH_INIT, reinterpret_cast<RTS_UINTPTR>(&halt), RES_OK);
    for (RTS_UI32 hook : {CH_INIT2, CH_PRE_INIT3, CH_INIT3, CH_INIT_SYSTEM_TASKS, CH_INIT_TASKS, CH_INIT_COMM,
                          CH_INIT_FINISHED})
        r = deliver_to(node, hook, 0, r);
    rec.state = CM_STATE_INITIALIZED;
    broadcast(CH_ON_IMPORT, reinterpret_cast<RTS_UINTPTR>(rec.name), 0);
    rec.state = CM_STATE_RUNNING;
    return r;
}

extern "C" RTS_RESULT CMExitComponent(RTS_HANDLE component) {
    ComponentNode* node = node_of(component);
    if (component == RTS_INVALID_HANDLE || node == nullptr) return RES_PARAMETER;
    ComponentRecord& rec = node->rec;
    if (rec.state != CM_STATE_DISABLED && rec.state != CM_STATE_INITIALIZED && rec.state != CM_STATE_RUNNING)
        return RES_FAILED;
    log(LOG_INFO, 0, 50, "Call <cmp>%s</cmp> exit hooks", rec.name);
    broadcast(CH_ON_IMPORT_RELEASE, reinterpret_cast<RTS_UINTPTR>(rec.name), 0);
    rec.state = CM_STATE_REGISTERED;
    RTS_RESULT r = RES_OK;
    for (RTS_UI32 hook : {CH_EXIT_COMM, CH_EXIT_TASKS, CH_EXIT_SYSTEM_TASKS, CH_EXIT3, CH_EXIT2, CH_EXIT})
        r = deliver_to(node, hook, 0, r);
    return r;
}

extern "C" RTS_RESULT CMUnloadComponent(RTS_HANDLE component) {
    ComponentNode* node = node_of(component);
    if (component == RTS_INVALID_HANDLE || node == nullptr) return RES_PARAMETER;
    ComponentRecord& rec = node->rec;
    if (rec.state != CM_STATE_REGISTERED) return RES_FAILED;
    // Whether the system is in its communication cycle is asked before the broadcast, which
    // makes CH_ON_IMPORT_RELEASE the last hook.
    const bool inCommCycle = g.lastHook == CH_COMM_CYCLE;
    broadcast(CH_ON_IMPORT_RELEASE, reinterpret_cast<RTS_UINTPTR>(rec.name), 0);
    if ((rec.flags & CM_FLAG_DYNAMIC) != 0) {
        host_unload(rec.name, rec.moduleHandle);
        rec.moduleHandle = RTS_INVALID_HANDLE;
    }
    rec.state = CM_STATE_UNLOADED;
    if (inCommCycle) log_listing_line(rec);
    return CMRemoveComponent(component);
}

extern "C" RTS_HANDLE CMGetComponentByName(const char* name, RTS_RESULT* pResult) {
    if (name == nullptr || !g.pools) return handle_result(nullptr, RES_PARAMETER, pResult);
    ComponentNode* node = find_by_name(name);
    return handle_result(node, node != nullptr ? RES_OK : RES_FAILED, pResult);
}

extern "C" ComponentRecord* CMGetComponent(RTS_UI32 cmpId) {
    for (ComponentNode* n = first_node(); n != nullptr; n = next_of(n))
        if (n->rec.id == cmpId) return &n->rec;
    return nullptr;
}

extern "C" RTS_RESULT CMGetCmpId(const char* name, RTS_UI32* pCmpId) {
    if (name == nullptr || pCmpId == nullptr) return RES_PARAMETER;
    ComponentNode* node = find_by_name(name);
    if (node == nullptr) return RES_FAILED;
    *pCmpId = node->rec.id;
    return RES_OK;
}

extern "C" RTS_RESULT CMGetCmpName(RTS_UI32 cmpId, char* buffer, RTS_SIZE size) {
    if (buffer == nullptr || size == 0) return RES_PARAMETER;
    if (cmpId == 0) return CMUtlSafeStrCpy(buffer, size, "CM");
    if (ComponentRecord* rec = CMGetComponent(cmpId)) return CMUtlSafeStrCpy(buffer, size, rec->name);
    if ((cmpId & 0x1000u) == 0) return RES_FAILED;
    if (cmpId == 0x1000u) return CMUtlSafeStrCpy(buffer, size, "IEC");
    return CMUtlsnprintf(buffer, size, "IEC=0x%08lx", static_cast<unsigned long>(cmpId));
}

extern "C" int CMGetNumOfComponents(void) {
    return g.count;
}

extern "C" ComponentRecord* CMGetComponentByIndex(int index) {
    if (index < 0 || index >= g.count) return nullptr;
    ComponentNode* n = first_node();
    for (int i = 0; i < index && n != nullptr; ++i) n = next_of(n);
    return n != nullptr ? &n->rec : nullptr;
}

extern "C" ComponentRecord* CMGetFirstComponent(RTS_RESULT* pResult) {
    ComponentNode* head = first_node();
    if (pResult != nullptr) *pResult = head != nullptr ? RES_OK : RES_NO_OBJECT;
    return head != nullptr ? &head->rec : nullptr;
}

extern "C" ComponentRecord* CMGetNextComponent(ComponentRecord* component, RTS_RESULT* pResult) {
    ComponentNode* node = node_of(component);
    ComponentNode* next = node != nullptr ? next_of(node) : nullptr;
    if (pResult != nullptr) *pResult = next != nullptr ? RES_OK : RES_NO_OBJECT;
    return next != nullptr ? &next->rec : nullptr;
}

extern "C" RTS_RESULT CMGetCoreVersion(RTS_UI32* pVersion) {
    if (pVersion == nullptr) return RES_PARAMETER;
    *pVersion = CM_CORE_VERSION;
    return RES_OK;
}
