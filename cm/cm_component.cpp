/* The component manager as a component of its own list: its entry, hook function, optional
 * imports, its two export tables and the lower-case wrappers called from the control-language
 * side. */
#include <cstring>
#include <initializer_list>

#include "cm/rts_common.h"
#include "cm/cm_internal.h"
#include "cmplog.h"
#include "cmhash.h"
#include "cmutils.h"
#include "cmutils_guid.h"

using rts::set_result;

using namespace cm;

namespace {

constexpr RTS_UI32 kWrapperVersion = 0x03051100u;

template <typename F> RTS_VOID_FCTPTR fn(F f) {
    return reinterpret_cast<RTS_VOID_FCTPTR>(f);
}

bool null_handle(RTS_HANDLE h) {
    return h == nullptr;
}

void cmgetcoreversion(CMGetCoreVersionParams* p) {
    p->result = CMGetCoreVersion(p->pVersion);
}
void cminitcomponent(CMComponentParams* p) {
    p->result = null_handle(p->component) ? RES_PARAMETER : CMInitComponent(p->component);
}
void cmexitcomponent(CMComponentParams* p) {
    p->result = null_handle(p->component) ? RES_PARAMETER : CMExitComponent(p->component);
}
void cmunloadcomponent(CMComponentParams* p) {
    p->result = CMUnloadComponent(p->component);
}
void cmremovecomponent(CMComponentParams* p) {
    ComponentNode* node = node_of(p->component);
    if (node == nullptr) {
        p->result = RES_PARAMETER;
        return;
    }
    node->rec.state = CM_STATE_UNLOADED;
    log_listing_line(node->rec);
    p->result = CMRemoveComponent(p->component);
}
void cmgetcomponentbyname(CMByNameParams* p) {
    p->component = CMGetComponentByName(p->name, p->pResult);
}
void cmloadcomponent(CMByNameParams* p) {
    p->component = CMLoadComponent3(p->name, 0, CM_FLAG_DYNAMIC, p->pResult);
}
void cmshutdown(CMShutdownParams* p) {
    CMSetExit();
    p->result = RES_OK;
}

/* Adds a record for a component written in the control language. */
RTS_HANDLE add_iec_component(const char* name, RTS_UI32 cmpId, RTS_UI32 version, RTS_RESULT* pResult) {
    ComponentRecord tmpl{};
    tmpl.name = name;
    tmpl.id = cmpId;
    tmpl.version = version;
    tmpl.moduleHandle = RTS_INVALID_HANDLE;
    tmpl.state = CM_STATE_REGISTERED;
    tmpl.flags = CM_FLAG_IEC | CM_FLAG_DYNAMIC;
    RTS_RESULT r = RES_OK;
    RTS_HANDLE h = CMAddComponent(&tmpl, &r);
    set_result(pResult, r);
    if (r == RES_OK) log_listing_line(*static_cast<ComponentRecord*>(h));
    return r == RES_OK ? h : RTS_INVALID_HANDLE;
}

void cmaddcomponent(CMAddComponentParams* p) {
    p->component = add_iec_component(p->name, p->cmpId, p->version, p->pResult);
}

RTS_UI32 g_nextIecId = 0x8000;

RTS_UI32 free_iec_id() {
    for (int tries = 0; tries < 0x1000; ++tries) {
        RTS_UI32 id = g_nextIecId;
        g_nextIecId = g_nextIecId + 1 >= 0x9000 ? 0x8000 : g_nextIecId + 1;
        if (CMGetComponent(id) == nullptr) return id;
    }
    return 0;
}

void cmaddcomponent2(CMAddComponent2Params* p) {
    if (p->name == nullptr) {
        set_result(p->pResult, RES_PARAMETER);
        p->component = RTS_INVALID_HANDLE;
        return;
    }
    if (ComponentNode* existing = find_by_name(p->name)) {
        if (p->pCmpId != nullptr) *p->pCmpId = existing->rec.id;
        set_result(p->pResult, RES_DUPLICATE);
        p->component = &existing->rec;
        return;
    }
    RTS_UI32 id = free_iec_id();
    if (p->pCmpId != nullptr) *p->pCmpId = id;
    p->component = add_iec_component(p->name, id, p->version, p->pResult);
}

const CMExportEntry kWrapperTable[] = {
    {fn(cmunloadcomponent), "cmunloadcomponent", 0, 0},
    {fn(cmloadcomponent), "cmloadcomponent", 0, 0},
    {fn(cmutlwtoutf8), "cmutlwtoutf8", 0x61F1F05Du, kWrapperVersion},
    {fn(cmutlwstrcpy), "cmutlwstrcpy", 0x92BF32B1u, kWrapperVersion},
    {fn(cmutlutf8tow), "cmutlutf8tow", 0x76EB6470u, kWrapperVersion},
    {fn(cmutlstricmp), "cmutlstricmp", 0xF3161529u, kWrapperVersion},
    {fn(cmutlsafestrcpy), "cmutlsafestrcpy", 0x794C4461u, kWrapperVersion},
    {fn(cmutlcwstrcpy), "cmutlcwstrcpy", 0xCCB6DDB5u, kWrapperVersion},
    {fn(cmshutdown), "cmshutdown", 0x28C83A52u, kWrapperVersion},
    {fn(cmremovecomponent), "cmremovecomponent", 0xB53B03F4u, kWrapperVersion},
    {fn(cminitcomponent), "cminitcomponent", 0xAD863340u, kWrapperVersion},
    {fn(cmgetcoreversion), "cmgetcoreversion", 0x83B57980u, kWrapperVersion},
    {fn(cmgetcomponentbyname), "cmgetcomponentbyname", 0x1C90B550u, kWrapperVersion},
    {fn(cmexitcomponent), "cmexitcomponent", 0x0DDC8E7Fu, kWrapperVersion},
    {fn(cmaddcomponent2), "cmaddcomponent2", 0x1057D488u, kWrapperVersion},
    {fn(cmaddcomponent), "cmaddcomponent", 0x3FB931A6u, kWrapperVersion},
    {nullptr, nullptr, 0, 0},
};

const CMExportEntry kFunctionTable[] = {
    {fn(CMInit), "CMInit", 0, 0},
    {fn(CMInit2), "CMInit2", 0, 0},
    {fn(CMInit3), "CMInit3", 0, 0},
    {fn(CMInit4), "CMInit4", 0, 0},
    {fn(CMInitEnd), "CMInitEnd", 0, 0},
    {fn(CMInitSequence), "CMInitSequence", 0, 0},
    {fn(CMExitSequence), "CMExitSequence", 0, 0},
    {fn(CMExit), "CMExit", 0, 0},
    {fn(CMSetExit), "CMSetExit", 0, 0},
    {fn(CMGetExit), "CMGetExit", 0, 0},
    {fn(CMSetSafeMode), "CMSetSafeMode", 0, 0},
    {fn(CMBasicChecks), "CMBasicChecks", 0, 0},
    {fn(CMRegisterAPI), "CMRegisterAPI", 0, 0},
    {fn(CMRegisterAPI2), "CMRegisterAPI2", 0, 0},
    {fn(CMGetAPI), "CMGetAPI", 0, 0},
    {fn(CMGetAPI2), "CMGetAPI2", 0, 0},
    {fn(CMGetAPI3), "CMGetAPI3", 0, 0},
    {fn(CMGetAPIToResolve), "CMGetAPIToResolve", 0, 0},
    {fn(CMReleaseAPI), "CMReleaseAPI", 0, 0},
    {fn(CMImportFunctions), "CMImportFunctions", 0, 0},
    {fn(CMAddComponent), "CMAddComponent", 0, 0},
    {fn(CMRemoveComponent), "CMRemoveComponent", 0, 0},
    {fn(CMLoadComponent), "CMLoadComponent", 0, 0},
    {fn(CMLoadComponent2), "CMLoadComponent2", 0, 0},
    {fn(CMLoadComponent3), "CMLoadComponent3", 0, 0},
    {fn(CMInitComponent), "CMInitComponent", 0, 0},
    {fn(CMExitComponent), "CMExitComponent", 0, 0},
    {fn(CMUnloadComponent), "CMUnloadComponent", 0, 0},
    {fn(CMGetComponentByName), "CMGetComponentByName", 0, 0},
    {fn(CMGetComponent), "CMGetComponent", 0, 0},
    {fn(CMGetCmpId), "CMGetCmpId", 0, 0},
    {fn(CMGetCmpName), "CMGetCmpName", 0, 0},
    {fn(CMGetNumOfComponents), "CMGetNumOfComponents", 0, 0},
    {fn(CMGetComponentByIndex), "CMGetComponentByIndex", 0, 0},
    {fn(CMGetFirstComponent), "CMGetFirstComponent", 0, 0},
    {fn(CMGetNextComponent), "CMGetNextComponent", 0, 0},
    {fn(CMGetCoreVersion), "CMGetCoreVersion", 0, 0},
    {fn(CMCallHook), "CMCallHook", 0, 0},
    {fn(CMCallHook2), "CMCallHook2", 0, 0},
    {fn(CMCallExtraCommCycleHook), "CMCallExtraCommCycleHook", 0, 0},
    {fn(CMGetCurrentHook), "CMGetCurrentHook", 0, 0},
    {fn(CMGetLastCommCycle), "CMGetLastCommCycle", 0, 0},
    {fn(CMGetHookName), "CMGetHookName", 0, 0},
    {fn(CMGetHookEntries), "CMGetHookEntries", 0, 0},
    {fn(CMIsOptionSupported), "CMIsOptionSupported", 0, 0},
    {fn(CMIsOptionSet), "CMIsOptionSet", 0, 0},
    {fn(CMProfiling), "CMProfiling", 0, 0},
    {fn(CMIsOperationDisabled), "CMIsOperationDisabled", 0, 0},
    {fn(CMDebugOut), "CMDebugOut", 0, 0},
    {fn(CMDebugOutArg), "CMDebugOutArg", 0, 0},
    {fn(CMRegisterClass), "CMRegisterClass", 0, 0},
    {fn(CMCreateInstance), "CMCreateInstance", 0, 0},
    {fn(CMDeleteInstance), "CMDeleteInstance", 0, 0},
    {fn(CMDeleteInstance2), "CMDeleteInstance2", 0, 0},
    {fn(CMRegisterInstance), "CMRegisterInstance", 0, 0},
    {fn(CMUnregisterInstance), "CMUnregisterInstance", 0, 0},
    {fn(CMGetInstance), "CMGetInstance", 0, 0},
    {fn(CMGetInstanceList), "CMGetInstanceList", 0, 0},
    {fn(CMLockCreate), "CMLockCreate", 0, 0},
    {fn(CMLockDelete), "CMLockDelete", 0, 0},
    {fn(CMLockEnter), "CMLockEnter", 0, 0},
    {fn(CMLockLeave), "CMLockLeave", 0, 0},
    {nullptr, nullptr, 0, 0},
};

/* The function table is kept beside the code it lists: the manager's own functions here, the
 * utility library's in its units. */
RTS_RESULT export_functions() {
    CMRegisterAPI(kWrapperTable, 0, 1, CMPID_CM);
    for (const CMExportEntry* table :
         {kFunctionTable, CMUtlExportTable, CMUtlGuidExportTable, CMUtlHashExportTable})
        CMRegisterAPI(table, 0, 0, CMPID_CM);
    return RES_OK;
}

template <typename F> void import(const char* name, F& target) {
    RTS_VOID_FCTPTR f = nullptr;
    import_optional(name, &f);
    target = reinterpret_cast<F>(f);
}

RTS_RESULT import_functions() {
    import("SysOutPrintf", imports.SysOutPrintf);
    import("SysOutVPrintf", imports.SysOutVPrintf);
    import("SysTargetGetDeviceName", imports.SysTargetGetDeviceName);
    import("SysTargetGetOperatingSystemId", imports.SysTargetGetOperatingSystemId);
    import("SysTargetGetProcessorId", imports.SysTargetGetProcessorId);
    import("SysTargetGetAPI", imports.SysTargetGetAPI);
    import("EventCreate", imports.EventCreate);
    import("EventPost2", imports.EventPost2);
    import("EventDelete", imports.EventDelete);
    import("SysTaskCreate", imports.SysTaskCreate);
    import("SysTaskEnter", imports.SysTaskEnter);
    import("SysTaskLeave", imports.SysTaskLeave);
    import("SysTaskEnd", imports.SysTaskEnd);
    import("SysTaskWaitSleep", imports.SysTaskWaitSleep);
    import("SysTaskSetExit", imports.SysTaskSetExit);
    import("SysTaskExit", imports.SysTaskExit);
    import("SysTaskResume", imports.SysTaskResume);
    import("SysEventCreate", imports.SysEventCreate);
    import("SysEventSet", imports.SysEventSet);
    import("SysEventWait", imports.SysEventWait);
    import("SysEventDelete", imports.SysEventDelete);
    const OptionalImports& i = imports;
    imports.tasksAndEvents = i.SysTaskCreate && i.SysTaskEnter && i.SysTaskLeave && i.SysTaskEnd &&
                             i.SysTaskWaitSleep && i.SysTaskSetExit && i.SysTaskExit && i.SysTaskResume &&
                             i.SysEventCreate && i.SysEventSet && i.SysEventWait && i.SysEventDelete;
    return RES_OK;
}

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) {
    if (hook == CH_INIT_SYSTEM) g.lockingOn = true;
    if (hook == CH_EXIT_SYSTEM) g.lockingOn = false;
    return RES_OK;
}

} // namespace

extern "C" RTS_UI32 CMComponentVersion(void) {
    return CM_CORE_VERSION;
}

extern "C" RTS_RESULT CMFillInitRecord(ComponentInitRecord* pInit, RTS_UI32 cmpId,
                                       PF_EXPORT_FUNCTIONS exportFunctions,
                                       PF_IMPORT_FUNCTIONS importFunctions, PF_GET_VERSION getVersion,
                                       PF_HOOK_FUNCTION hookFunction) {
    if (pInit == nullptr) return RES_PARAMETER;
    pInit->cmpId = cmpId;
    pInit->exportFunctions = exportFunctions;
    pInit->importFunctions = importFunctions;
    pInit->getVersion = getVersion;
    pInit->hookFunction = hookFunction;
    return RES_OK;
}

extern "C" RTS_RESULT CM__Entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(pInit, CMPID_CM, export_functions, import_functions, CMComponentVersion,
                            hook_function);
}
