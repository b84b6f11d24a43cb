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

/* A wrapper under its own name, with its signature id and the wrapper version. */
#define CM_WRAPPER(function, signatureId)                                                                    \
    { reinterpret_cast<RTS_VOID_FCTPTR>(function), #function, signatureId, kWrapperVersion }

const CMExportEntry kWrapperTable[] = {
    CM_EXPORT(cmunloadcomponent),
    CM_EXPORT(cmloadcomponent),
    CM_WRAPPER(cmutlwtoutf8, 0x61F1F05Du),
    CM_WRAPPER(cmutlwstrcpy, 0x92BF32B1u),
    CM_WRAPPER(cmutlutf8tow, 0x76EB6470u),
    CM_WRAPPER(cmutlstricmp, 0xF3161529u),
    CM_WRAPPER(cmutlsafestrcpy, 0x794C4461u),
    CM_WRAPPER(cmutlcwstrcpy, 0xCCB6DDB5u),
    CM_WRAPPER(cmshutdown, 0x28C83A52u),
    CM_WRAPPER(cmremovecomponent, 0xB53B03F4u),
    CM_WRAPPER(cminitcomponent, 0xAD863340u),
    CM_WRAPPER(cmgetcoreversion, 0x83B57980u),
    CM_WRAPPER(cmgetcomponentbyname, 0x1C90B550u),
    CM_WRAPPER(cmexitcomponent, 0x0DDC8E7Fu),
    CM_WRAPPER(cmaddcomponent2, 0x1057D488u),
    CM_WRAPPER(cmaddcomponent, 0x3FB931A6u),
    {nullptr, nullptr, 0, 0},
};
#undef CM_WRAPPER

const CMExportEntry kFunctionTable[] = {
    CM_EXPORT(CMInit),
    CM_EXPORT(CMInit2),
    CM_EXPORT(CMInit3),
    CM_EXPORT(CMInit4),
    CM_EXPORT(CMInitEnd),
    CM_EXPORT(CMInitSequence),
    CM_EXPORT(CMExitSequence),
    CM_EXPORT(CMExit),
    CM_EXPORT(CMSetExit),
    CM_EXPORT(CMGetExit),
    CM_EXPORT(CMSetSafeMode),
    CM_EXPORT(CMBasicChecks),
    CM_EXPORT(CMRegisterAPI),
    CM_EXPORT(CMRegisterAPI2),
    CM_EXPORT(CMGetAPI),
    CM_EXPORT(CMGetAPI2),
    CM_EXPORT(CMGetAPI3),
    CM_EXPORT(CMGetAPIToResolve),
    CM_EXPORT(CMReleaseAPI),
    CM_EXPORT(CMImportFunctions),
    CM_EXPORT(CMAddComponent),
    CM_EXPORT(CMRemoveComponent),
    CM_EXPORT(CMLoadComponent),
    CM_EXPORT(CMLoadComponent2),
    CM_EXPORT(CMLoadComponent3),
    CM_EXPORT(CMInitComponent),
    CM_EXPORT(CMExitComponent),
    CM_EXPORT(CMUnloadComponent),
    CM_EXPORT(CMGetComponentByName),
    CM_EXPORT(CMGetComponent),
    CM_EXPORT(CMGetCmpId),
    CM_EXPORT(CMGetCmpName),
    CM_EXPORT(CMGetNumOfComponents),
    CM_EXPORT(CMGetComponentByIndex),
    CM_EXPORT(CMGetFirstComponent),
    CM_EXPORT(CMGetNextComponent),
    CM_EXPORT(CMGetCoreVersion),
    CM_EXPORT(CMCallHook),
    CM_EXPORT(CMCallHook2),
    CM_EXPORT(CMCallExtraCommCycleHook),
    CM_EXPORT(CMGetCurrentHook),
    CM_EXPORT(CMGetLastCommCycle),
    CM_EXPORT(CMGetHookName),
    CM_EXPORT(CMGetHookEntries),
    CM_EXPORT(CMIsOptionSupported),
    CM_EXPORT(CMIsOptionSet),
    CM_EXPORT(CMProfiling),
    CM_EXPORT(CMIsOperationDisabled),
    CM_EXPORT(CMDebugOut),
    CM_EXPORT(CMDebugOutArg),
    CM_EXPORT(CMRegisterClass),
    CM_EXPORT(CMCreateInstance),
    CM_EXPORT(CMDeleteInstance),
    CM_EXPORT(CMDeleteInstance2),
    CM_EXPORT(CMRegisterInstance),
    CM_EXPORT(CMUnregisterInstance),
    CM_EXPORT(CMGetInstance),
    CM_EXPORT(CMGetInstanceList),
    CM_EXPORT(CMLockCreate),
    CM_EXPORT(CMLockDelete),
    CM_EXPORT(CMLockEnter),
    CM_EXPORT(CMLockLeave),
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
