/* Component manager: the component list, the start-up and shut-down sequence, export tables
 * and lookups by name, hook delivery, classes and instances, and the manager's locks. */
#ifndef CM_H
#define CM_H

#include <stdarg.h>

#include "rts_types.h"

RTS_BEGIN_C

/* ---- component identity ------------------------------------------------------------------ */
#define CMPID_CM 0x1u
#define CMPID_CmpChecksum 0xBu
#define CMPID_CmpLog 0x13u
#define CMPID_CmpSettings 0x1Au
#define CMPID_CmpMemPool 0x1Eu
#define CMPID_CmpObjectMgr 0x80u
#define CMPID_SysCpuHandling 0x101u
#define CMPID_SysExcept 0x103u
#define CMPID_SysFile 0x104u
#define CMPID_SysMem 0x108u
#define CMPID_SysSem 0x10Fu
#define CMPID_SysShm 0x110u
#define CMPID_SysTime 0x115u
#define CMPID_SysSemProcess 0x119u
#define CMPID_SysTimeRtc 0x127u

/* The framework release every component of this program carries: 3.5.21.10. */
#define CM_CORE_VERSION 0x0305150Au

/* ---- hooks ------------------------------------------------------------------------------- */
#define CH_INIT_SYSTEM 1u
#define CH_INIT 2u
#define CH_INIT2 3u
#define CH_INIT3 4u
#define CH_INIT_TASKS 5u
#define CH_INIT_COMM 6u
#define CH_PRE_INIT3 7u
#define CH_INIT_SYSTEM2 8u
#define CH_EXIT_COMM 10u
#define CH_EXIT_TASKS 11u
#define CH_EXIT3 12u
#define CH_EXIT2 13u
#define CH_EXIT 14u
#define CH_EXIT_SYSTEM 15u
#define CH_EXIT_GARBAGEMEMORY 16u
#define CH_EXIT_SYSTEM2 17u
#define CH_COMM_CYCLE 20u
#define CH_ON_IMPORT 23u
#define CH_ON_IMPORT_RELEASE 24u
#define CH_ON_LOAD_COMPONENT 25u
#define CH_ON_UNLOAD_COMPONENT 26u
#define CH_ON_REGISTER_INSTANCE 27u
#define CH_ON_UNREGISTER_INSTANCE 28u
#define CH_SETTINGS_CHANGED 50u
#define CH_POST_INIT 200u
#define CH_PRE_INIT2 250u
#define CH_INIT_SYSTEM_TASKS 500u
#define CH_INIT_FINISHED 1000u
#define CH_EXIT_SYSTEM_TASKS 2200u
#define CH_SAFEMODE 4000u
/* Values that keep their rows in the hook table; this program never delivers them. */
#define CH_RESERVED_29 29u
#define CH_RESERVED_30 30u
#define CH_RESERVED_40 40u
#define CH_RESERVED_290 290u

/* Hook results that end a delivery to the remaining components. */
#define CM_HOOK_STOP 75u
#define CM_HOOK_ILLEGAL_INSTRUCTION 80u
#define CM_HOOK_ACCESS_VIOLATION 81u

/* ---- component states and flags ------------------------------------------------------------ */
#define CM_STATE_REGISTERED 2u
#define CM_STATE_DISABLED 3u
#define CM_STATE_INITIALIZED 4u
#define CM_STATE_RUNNING 5u
#define CM_STATE_UNLOADED 6u

#define CM_FLAG_STATIC 0x1u
#define CM_FLAG_DYNAMIC 0x2u
#define CM_FLAG_SYSTEM 0x4u
#define CM_FLAG_IEC 0x8u
#define CM_FLAG_CMODULE 0x10u
#define CM_FLAG_STARTUP_IMPORT 0x100u
#define CM_FLAG_LATE_IMPORT 0x200u

/* Init flags of CMInit3/CMInit4. */
#define CM_INIT_NO_CONFIG_REQUIRED 0x1u
#define CM_INIT_STOP_BEFORE_INIT_END 0x2u
#define CM_INIT_HOOKS_ON_TASK 0x4u
#define CM_INIT_COMM_CYCLE_TASK 0x8u
#define CM_INIT_EXIT_ON_TASK 0x10u

/* Options of CMGetAPI2/CMGetAPI3. */
#define CM_IMPORT_CASE_INSENSITIVE 0x1u
#define CM_IMPORT_OPTIONAL 0x2u

/* ---- function types ---------------------------------------------------------------------- */
typedef struct ComponentInitRecord ComponentInitRecord;
typedef RTS_RESULT (*PF_COMPONENT_ENTRY)(ComponentInitRecord* pInit);
typedef RTS_RESULT (*PF_EXPORT_FUNCTIONS)(void);
typedef RTS_RESULT (*PF_IMPORT_FUNCTIONS)(void);
typedef RTS_UI32 (*PF_GET_VERSION)(void);
typedef void* (*PF_CREATE_INSTANCE)(RTS_UI32 classId);
typedef RTS_RESULT (*PF_DELETE_INSTANCE)(void* instance);
typedef RTS_RESULT (*PF_HOOK_FUNCTION)(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2);
typedef RTS_RESULT (*PF_HOST_CALLBACK)(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2,
                                       RTS_UINTPTR userParam);
typedef RTS_RESULT (*PF_CM_REGISTER_API)(const void* table, RTS_UINTPTR function, int caseInsensitive,
                                         RTS_UI32 fourth);
typedef RTS_RESULT (*PF_CM_REGISTER_API2)(const char* name, RTS_VOID_FCTPTR function, int caseInsensitive,
                                          RTS_UI32 signatureId, RTS_UI32 version);
typedef RTS_RESULT (*PF_CM_GET_API)(const char* name, RTS_VOID_FCTPTR* ppFunction, RTS_UI32 signatureId);
typedef RTS_RESULT (*PF_CM_GET_API2)(const char* name, RTS_VOID_FCTPTR* ppFunction, int options,
                                     RTS_UI32 signatureId, RTS_UI32 version);
typedef RTS_RESULT (*PF_CM_CALL_HOOK)(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR* pCursor, int reverse);
typedef RTS_HANDLE (*PF_CM_REGISTER_CLASS)(RTS_UI32 cmpId, RTS_UI32 classId);
typedef void* (*PF_CM_CREATE_INSTANCE)(RTS_UI32 classId);
typedef RTS_RESULT (*PF_CM_DELETE_INSTANCE2)(RTS_UI32 classId, void* instance);

/* ---- records ----------------------------------------------------------------------------- */

/* One entry of the program's component list; the list ends at a null or empty name. */
typedef struct {
    const char* name;
    PF_COMPONENT_ENTRY entry;
    RTS_UI32 flags; /* nonzero: a system component */
} StaticComponent;

/* Built by the manager for each ComponentEntry call: the component fills the out fields and
 * may keep the manager functions it is handed. */
struct ComponentInitRecord {
    RTS_UI32 cmpId;
    PF_EXPORT_FUNCTIONS exportFunctions;
    PF_IMPORT_FUNCTIONS importFunctions;
    PF_GET_VERSION getVersion;
    PF_CREATE_INSTANCE createInstance;
    PF_DELETE_INSTANCE deleteInstance;
    PF_HOOK_FUNCTION hookFunction;
    PF_CM_REGISTER_API registerApi;
    PF_CM_GET_API getApi;
    PF_CM_CALL_HOOK callHook;
    PF_CM_REGISTER_CLASS registerClass;
    PF_CM_CREATE_INSTANCE createInstanceByClass;
    PF_CM_REGISTER_API2 registerApi2;
    PF_CM_GET_API2 getApi2;
    PF_CM_DELETE_INSTANCE2 deleteInstance2;
};

/* One record per component; a component handle is the address of its record. */
typedef struct {
    RTS_UI32 id;
    const char* name;
    RTS_HANDLE moduleHandle;
    RTS_UI32 version;
    PF_COMPONENT_ENTRY entry;
    PF_EXPORT_FUNCTIONS exportFunctions;
    PF_IMPORT_FUNCTIONS importFunctions;
    PF_GET_VERSION getVersion;
    PF_HOOK_FUNCTION hookFunction;
    PF_CREATE_INSTANCE createInstance;
    PF_DELETE_INSTANCE deleteInstance;
    RTS_UI16 state;
    RTS_UI16 flags;
    RTS_UI16 staticName; /* 1: name points into a list that outlives the record */
} ComponentRecord;

/* One entry of an export table; a table ends at an entry whose function is null. */
typedef struct {
    RTS_VOID_FCTPTR function;
    const char* name;
    RTS_UI32 signatureId; /* 0 matches any */
    RTS_UI32 version;     /* 0 matches any */
} CMExportEntry;

/* An export-table entry for a function under its own name, signature id and version 0. */
#ifdef __cplusplus
#define CM_EXPORT(function)                                                                                  \
    { reinterpret_cast<RTS_VOID_FCTPTR>(function), #function, 0, 0 }
#else
#define CM_EXPORT(function)                                                                                  \
    { (RTS_VOID_FCTPTR)(function), #function, 0, 0 }
#endif

/* What CMGetAPIToResolve hands an export function while a lookup runs. */
typedef struct {
    const char* name;
    RTS_UI32 options;
    RTS_UI32 signatureId;
    RTS_UI32 version;
} CMApiToResolve;

/* One row of the hook table. */
typedef struct {
    RTS_UI32 hook;
    const char* name;
} CMHookEntry;

/* The program's component list and its host loader (next to each other in the framework). */
extern const StaticComponent StaticComponentList[];
RTS_RESULT CMHostLoadComponent(const char* name, RTS_UINTPTR reserved, RTS_HANDLE* pModuleHandle,
                               PF_COMPONENT_ENTRY* pEntry);
RTS_RESULT CMHostUnloadComponent(const char* name, RTS_HANDLE moduleHandle);

/* Tests and tools may put their own loader in place of the program's (null restores it). */
typedef RTS_RESULT (*PF_CM_HOST_LOADER)(const char* name, RTS_UINTPTR reserved, RTS_HANDLE* pModuleHandle,
                                        PF_COMPONENT_ENTRY* pEntry);
typedef RTS_RESULT (*PF_CM_HOST_UNLOADER)(const char* name, RTS_HANDLE moduleHandle);
void CMSetHostLoader(PF_CM_HOST_LOADER loader, PF_CM_HOST_UNLOADER unloader);

/* ---- start-up and shut-down ----------------------------------------------------------------
 * CMInit3 registers the core and listed components, calls their entries, resolves imports and
 * delivers CH_INIT_SYSTEM .. CH_INIT; CMInitEnd delivers the rest up to CH_INIT_FINISHED. */
RTS_RESULT CMInit(const char* cfgFile, const StaticComponent* staticList);
RTS_RESULT CMInit2(const char* cfgFile, const StaticComponent* staticList, int noConfigRequired);
RTS_RESULT CMInit3(const char* cfgFile, const StaticComponent* staticList, RTS_UI32 flags);
RTS_RESULT CMInit4(const char* cfgFile, const StaticComponent* staticList, RTS_UI32 flags,
                   PF_HOST_CALLBACK hostCallback, RTS_UINTPTR userParam);
/* Reads "CommCycleInterval" (section "CM") for the communication cycle task, kept within 1 and
 * 10000 ms: 0 or less would make the task spin. */
RTS_RESULT CMInitEnd(void);
/* Deliver a range of the hook table (first row, row count) in init or exit direction. An empty
 * range delivers nothing (the exit direction posts its shut-down event); a range that leaves the
 * table gives RES_PARAMETER and delivers nothing. On the hooks task a range not finished within
 * 300000 ms gives RES_TIMEOUT, and while it still runs the next range is not posted: RES_BUSY. */
RTS_RESULT CMInitSequence(int firstRow, int count);
RTS_RESULT CMExitSequence(int firstRow, int count);
/* Exit hooks, unload every component, release the pools. Always RES_OK. An exit hook answered
 * with RES_PENDING is delivered again after a pause of 10 ms, for at most 10 s from the first
 * delivery. */
RTS_RESULT CMExit(void);
void CMSetExit(void);
RTS_UI32 CMGetExit(void);
/* Switch to safe mode once; RES_ALREADY when it is on. */
RTS_RESULT CMSetSafeMode(RTS_UI32 initiatorCmpId, RTS_UI32 reason);
/* Self checks of types, GUID texts and atomic operations: 1 when all passed, else 0. */
int CMBasicChecks(void);

/* ---- export and import ----------------------------------------------------------------- */
RTS_RESULT CMRegisterAPI(const void* table, RTS_UINTPTR function, int caseInsensitive, RTS_UI32 fourth);
RTS_RESULT CMRegisterAPI2(const char* name, RTS_VOID_FCTPTR function, int caseInsensitive,
                          RTS_UI32 signatureId, RTS_UI32 version);
RTS_RESULT CMGetAPI(const char* name, RTS_VOID_FCTPTR* ppFunction, RTS_UI32 signatureId);
RTS_RESULT CMGetAPI2(const char* name, RTS_VOID_FCTPTR* ppFunction, int options, RTS_UI32 signatureId,
                     RTS_UI32 version);
RTS_RESULT CMGetAPI3(const char* name, RTS_VOID_FCTPTR* ppFunction, int options, RTS_UI32* pSignatureId,
                     RTS_UI32* pVersion);
RTS_RESULT CMGetAPIToResolve(CMApiToResolve* pInfo);
RTS_RESULT CMReleaseAPI(RTS_VOID_FCTPTR function);
RTS_RESULT CMImportFunctions(void);

/* ---- components at run time and queries -------------------------------------------------- */
RTS_HANDLE CMAddComponent(const ComponentRecord* pTemplate, RTS_RESULT* pResult);
RTS_RESULT CMRemoveComponent(RTS_HANDLE component);
RTS_HANDLE CMLoadComponent(const char* name, RTS_RESULT* pResult);
RTS_HANDLE CMLoadComponent2(const char* name, RTS_UI32 flags, RTS_RESULT* pResult);
RTS_HANDLE CMLoadComponent3(const char* name, RTS_UINTPTR reserved, RTS_UI32 flags, RTS_RESULT* pResult);
RTS_RESULT CMInitComponent(RTS_HANDLE component);
RTS_RESULT CMExitComponent(RTS_HANDLE component);
RTS_RESULT CMUnloadComponent(RTS_HANDLE component);
RTS_HANDLE CMGetComponentByName(const char* name, RTS_RESULT* pResult);
ComponentRecord* CMGetComponent(RTS_UI32 cmpId);
RTS_RESULT CMGetCmpId(const char* name, RTS_UI32* pCmpId);
RTS_RESULT CMGetCmpName(RTS_UI32 cmpId, char* buffer, RTS_SIZE size);
int CMGetNumOfComponents(void);
ComponentRecord* CMGetComponentByIndex(int index);
ComponentRecord* CMGetFirstComponent(RTS_RESULT* pResult);
ComponentRecord* CMGetNextComponent(ComponentRecord* component, RTS_RESULT* pResult);
RTS_RESULT CMGetCoreVersion(RTS_UI32* pVersion);

/* ---- hooks ------------------------------------------------------------------------------- */
RTS_RESULT CMCallHook(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR* pCursor, int reverse);
RTS_RESULT CMCallHook2(RTS_UI32 mask, RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2);
/* Delivers only when "MinimalCommCycleHookInterval" ms have passed since the last cycle began;
 * a negative setting counts as 0. */
RTS_RESULT CMCallExtraCommCycleHook(RTS_UINTPTR param1, RTS_UINTPTR* pCursor);
RTS_UI32 CMGetCurrentHook(void);
RTS_UI32 CMGetLastCommCycle(void);
const char* CMGetHookName(RTS_UI32 hook, RTS_RESULT* pResult);
const CMHookEntry* CMGetHookEntries(RTS_UI32 firstHook, RTS_UI32 endHook, int* pCount);
RTS_RESULT CMIsOptionSupported(RTS_UI32 options);
int CMIsOptionSet(RTS_UI32 options);
int CMProfiling(const char* name, RTS_UI32 value);
RTS_RESULT CMIsOperationDisabled(RTS_UI32 operation, RTS_UI32 parameter, RTS_UI32* pDisabled);
RTS_RESULT CMDebugOut(const char* format, ...);
RTS_RESULT CMDebugOutArg(const char* format, va_list* pArgs);

/* ---- classes and instances --------------------------------------------------------------- */
RTS_HANDLE CMRegisterClass(RTS_UI32 cmpId, RTS_UI32 classId);
void* CMCreateInstance(RTS_UI32 classId);
RTS_RESULT CMDeleteInstance(void* instance);
RTS_RESULT CMDeleteInstance2(RTS_UI32 classId, void* instance);
RTS_RESULT CMRegisterInstance(RTS_UI32 classId, RTS_UI32 instanceId, void* instance);
RTS_RESULT CMUnregisterInstance(void* instance);
void* CMGetInstance(RTS_UI32 classId, RTS_UI32 instanceId, RTS_RESULT* pResult);
RTS_RESULT CMGetInstanceList(RTS_UI32 classId, RTS_HANDLE pool);

/* ---- the manager's locks (in-process semaphores, active from CH_INIT_SYSTEM) ---------------- */
RTS_HANDLE CMLockCreate(RTS_RESULT* pResult);
RTS_RESULT CMLockDelete(RTS_HANDLE lock);
RTS_RESULT CMLockEnter(RTS_HANDLE lock);
RTS_RESULT CMLockLeave(RTS_HANDLE lock);

/* ---- parameter records of the lower-case wrappers (arguments in order, then the result) ---- */
typedef struct {
    RTS_HANDLE component;
    RTS_RESULT result;
} CMComponentParams; /* cminitcomponent, cmexitcomponent, cmremovecomponent, cmunloadcomponent */
typedef struct {
    RTS_UI32* pVersion;
    RTS_RESULT result;
} CMGetCoreVersionParams;
typedef struct {
    const char* name;
    RTS_RESULT* pResult;
    RTS_HANDLE component;
} CMByNameParams; /* cmgetcomponentbyname, cmloadcomponent */
typedef struct {
    RTS_RESULT result;
} CMShutdownParams;
typedef struct {
    const char* name;
    RTS_UI32 cmpId;
    RTS_UI32 version;
    RTS_RESULT* pResult;
    RTS_HANDLE component;
} CMAddComponentParams;
typedef struct {
    const char* name;
    RTS_UI32 version;
    RTS_UI32* pCmpId;
    RTS_RESULT* pResult;
    RTS_HANDLE component;
} CMAddComponent2Params;

/* Components fill their ComponentInitRecord through this helper; every component of this
 * program carries the framework release as its version (CMComponentVersion). */
RTS_UI32 CMComponentVersion(void);
RTS_RESULT CMFillInitRecord(ComponentInitRecord* pInit, RTS_UI32 cmpId, PF_EXPORT_FUNCTIONS exportFunctions,
                            PF_IMPORT_FUNCTIONS importFunctions, PF_GET_VERSION getVersion,
                            PF_HOOK_FUNCTION hookFunction);

RTS_END_C

#endif
