/* CmpLog, the logging component: its entry and hooks (the logger pool and the standard logger
 * at start-up, dumps in the communication cycle and at exit), the optional services it finds by
 * name, its export table, its instance of class 21 and the lower-case parameter-record
 * wrappers. The loggers, the ring, dumping and the entry text live in the log_*.cpp units. */
#include <cstddef>
#include <cstring>

#include "cm.h"
#include "cm/class_entry.h"
#include "cmpsettings.h"
#include "log/cmplog_internal.h"
#include "log/log_config.h"
#include "sysmem.h"

namespace cmplog {
void create_pool_and_standard_logger();
void delete_loggers_and_pool();
void shell_hook(RTS_UI32 hook);
void online_hook(RTS_UI32 hook);
} // namespace cmplog

using namespace cmplog;

namespace {

constexpr RTS_UI32 kLogEventClass = 0x10001;
constexpr RTS_UI32 kPlcCmpId = 0x1000; // the component id of entries a PLC program adds
constexpr RTS_UI32 kUsedRights = 1;
constexpr const char* kDeviceObject = "Device.Logger";
constexpr RTS_UI32 kExitDumpMask = LOG_DUMP_ALWAYS | LOG_DUMP_ON_CLOSE;
constexpr RTS_UI32 kDumpModes = LOG_DUMP_CYCLIC | LOG_DUMP_ON_CLOSE | LOG_DUMP_ON_REQUEST;

template <typename F> void import(const char* name, F& target) {
    RTS_VOID_FCTPTR f = nullptr;
    CMGetAPI2(name, &f, CM_IMPORT_OPTIONAL, 0, 0);
    target = reinterpret_cast<F>(f);
}

void import_optional_services() {
    Imports& i = g.imports;
    import("EventCreate", i.EventCreate);
    import("EventPost2", i.EventPost2);
    import("EventDelete", i.EventDelete);
    import("UserMgrObjectAdd", i.UserMgrObjectAdd);
    import("UserMgrObjectSetUsedRights", i.UserMgrObjectSetUsedRights);
    import("UserMgrObjectOpen", i.UserMgrObjectOpen);
    import("UserMgrObjectRemove", i.UserMgrObjectRemove);
}

void init_system2() {
    create_pool_and_standard_logger();
    configure_loggers();
    Logger* standard = g.standard.load();
    if (standard != nullptr && standard->BackendCount == 0)
        LogRegisterBackend(standard, LOG_BACKEND_CLASS_DEFAULT);
}

void init2() {
    SettgGetIntValue(kOwner, "MaxInfoLength", &g.maxInfoLength, LOG_INFO_TEXT_SIZE, 0);
    for (Logger* l = first_logger(); l != nullptr; l = next_logger(l)) instantiate_backends(l);
    if (g.imports.EventCreate != nullptr)
        g.event = g.imports.EventCreate(kLogEventClass, CMPID_CmpLog, nullptr);
    g.initialised = true;
}

RTS_RESULT add_device_object() {
    if (g.imports.UserMgrObjectAdd == nullptr) return RES_OK;
    RTS_RESULT result = RES_OK;
    RTS_HANDLE object = g.imports.UserMgrObjectAdd(kDeviceObject, &result);
    if (object == RTS_INVALID_HANDLE && result != RES_OK && result != RES_NOTIMPLEMENTED) return RES_FAILED;
    if (g.imports.UserMgrObjectSetUsedRights != nullptr)
        g.imports.UserMgrObjectSetUsedRights(object, kUsedRights);
    return RES_OK;
}

void remove_device_object() {
    if (g.imports.UserMgrObjectOpen == nullptr || g.imports.UserMgrObjectRemove == nullptr) return;
    RTS_HANDLE object = g.imports.UserMgrObjectOpen(kDeviceObject, nullptr);
    if (object != RTS_INVALID_HANDLE) g.imports.UserMgrObjectRemove(object);
}

// From now on every entry on the standard logger is dumped at once.
void exit3() {
    Logger* standard = g.standard.load();
    if (standard != nullptr)
        standard->Options.Type = (standard->Options.Type & ~kDumpModes) | LOG_DUMP_ALWAYS;
    remove_device_object();
}

void exit2() {
    if (g.imports.EventDelete != nullptr && g.event != RTS_INVALID_HANDLE) g.imports.EventDelete(g.event);
    g.event = RTS_INVALID_HANDLE;
}

void exit_system() {
    LogDumpAll(kExitDumpMask);
    delete_loggers_and_pool();
    g.initialised = false;
}

// An instance that answers interface 22 is unregistered as backend class from every logger.
void instance_unregistered(RTS_UI32 classId) {
    if (classId != 0) LogUnregisterBackend(RTS_INVALID_HANDLE, classId);
}

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) {
    shell_hook(hook);
    online_hook(hook);
    switch (hook) {
        case CH_INIT_SYSTEM:
            g.initialised = false;
            break;
        case CH_INIT_SYSTEM2:
            init_system2();
            break;
        case CH_INIT:
            import_optional_services();
            break;
        case CH_INIT2:
            init2();
            break;
        case CH_INIT3:
            return add_device_object();
        case CH_COMM_CYCLE:
            LogDumpAll(LOG_DUMP_CYCLIC);
            break;
        case CH_EXIT3:
            exit3();
            break;
        case CH_EXIT2:
            exit2();
            break;
        case CH_EXIT_SYSTEM:
            exit_system();
            break;
        case CH_ON_REGISTER_INSTANCE:
            match_backends(static_cast<RTS_UI32>(param1), reinterpret_cast<void*>(param2));
            break;
        case CH_ON_UNREGISTER_INSTANCE:
            instance_unregistered(static_cast<RTS_UI32>(param1));
            break;
        case CH_SETTINGS_CHANGED:
            settings_changed();
            break;
        default:
            break;
    }
    return RES_OK;
}

// ---- the instance of class 21 -----------------------------------------------------------

const ILog kLogInterface = {LogCreate,    LogOpen,      LogDelete, LogGetOptions, LogEnable,     LogDisable,
                            LogSetFilter, LogGetFilter, LogAdd,    LogDumpAll,    LogDumpEntries};

void* query_interface(void* object, RTS_UI32 interfaceId, RTS_RESULT* pResult) {
    auto* self = static_cast<LogInstance*>(object);
    void* answer = interfaceId == LOG_INTERFACE_ID ? const_cast<ILog*>(&kLogInterface)
                   : interfaceId == 0              ? object
                                                   : nullptr;
    if (answer != nullptr) ++self->references;
    if (pResult != nullptr) *pResult = answer != nullptr ? RES_OK : RES_NOTSUPPORTED;
    return answer;
}

void* create_instance(RTS_UI32 classId) {
    if (classId != LOG_CLASSID) return nullptr;
    auto* object = static_cast<LogInstance*>(SysMemAllocData(kOwner, sizeof(LogInstance), nullptr));
    if (object == nullptr) return nullptr;
    *object = LogInstance{};
    object->QueryInterface = query_interface;
    object->references = 1;
    return object;
}

// Each deletion gives back one reference; the last one frees the object.
RTS_RESULT delete_instance(void* instance) {
    auto* self = static_cast<LogInstance*>(instance);
    if (self == nullptr) return RES_PARAMETER;
    if (--self->references > 0) return RES_OK;
    return SysMemFreeData(kOwner, instance);
}

// ---- exports ----------------------------------------------------------------------------

const CMExportEntry kExports[] = {
    CM_EXPORT(LogCreate),
    CM_EXPORT(LogOpen),
    CM_EXPORT(LogClose),
    CM_EXPORT(LogDelete),
    CM_EXPORT(LogGetFirstLogger),
    CM_EXPORT(LogGetNextLogger),
    CM_EXPORT(LogGetName),
    CM_EXPORT(LogGetOptions),
    CM_EXPORT(LogEnable),
    CM_EXPORT(LogDisable),
    CM_EXPORT(LogSetFilter),
    CM_EXPORT(LogGetFilter),
    CM_EXPORT(LogGetFilter2),
    CM_EXPORT(LogAdd),
    CM_EXPORT(LogAddArg),
    CM_EXPORT(LogAdd2),
    CM_EXPORT(LogAdd2Arg),
    CM_EXPORT(LogAdd3),
    CM_EXPORT(LogAdd3Arg),
    CM_EXPORT(LogCopyInfo),
    CM_EXPORT(LogGetFirstEntry),
    CM_EXPORT(LogGetNextEntry),
    CM_EXPORT(LogGetEntryByIndex),
    CM_EXPORT(LogGetEntryByQueueIndex),
    CM_EXPORT(LogGetEntry),
    CM_EXPORT(LogGetUserNotify),
    CM_EXPORT(LogGetUserNotify2),
    CM_EXPORT(LogDumpEntries),
    CM_EXPORT(LogDumpAll),
    CM_EXPORT(LogRegisterBackend),
    CM_EXPORT(LogUnregisterBackend),
    CM_EXPORT(LogRegisterInterface),
    CM_EXPORT(LogUnregisterInterface),
    CM_EXPORT(LogConvertTimestamp),
    CM_EXPORT(LogFormatTimestamp),
    CM_EXPORT(LogFormatCsvMessage),
    CM_EXPORT(logadd),
    CM_EXPORT(logadd2),
    CM_EXPORT(logclose),
    CM_EXPORT(logcopyinfo),
    CM_EXPORT(logcreate),
    CM_EXPORT(logdelete),
    CM_EXPORT(logopen),
    {nullptr, nullptr, 0, 0},
};

RTS_RESULT export_functions() {
    return CMRegisterAPI(kExports, 0, 0, CMPID_CmpLog);
}

} // namespace

extern "C" RTS_RESULT CmpLog__Entry(ComponentInitRecord* pInit) {
    return rts::fill_class_entry(pInit, CMPID_CmpLog, export_functions, hook_function, LOG_CLASSID,
                                 create_instance, delete_instance);
}

// ---- parameter-record wrappers -------------------------------------------------------------

static_assert(offsetof(logadd_struct, ClassId) == 92 && offsetof(logadd_struct, InfoText) == 104 &&
              offsetof(logadd_struct, result) == 360);
static_assert(offsetof(logadd2_struct, CmpId) == 8 && offsetof(logadd2_struct, pszInfo) == 24 &&
              offsetof(logadd2_struct, result) == 32);

extern "C" void logadd(logadd_struct* p) {
    if (p == nullptr) return;
    char text[sizeof p->InfoText + 1] = {}; // the record's text may fill it without a terminator
    std::memcpy(text, p->InfoText, sizeof p->InfoText);
    p->result = LogAdd(p->hLogger, kPlcCmpId, p->ClassId, p->ErrorId, p->InfoId, "%s", text);
}

extern "C" void logadd2(logadd2_struct* p) {
    if (p != nullptr)
        p->result = LogAdd(p->hLogger, p->CmpId, p->ClassId, p->ErrorId, p->InfoId, "%s", p->pszInfo);
}

extern "C" void logclose(loghandle_struct* p) {
    if (p != nullptr) p->result = LogClose(p->hLogger);
}

extern "C" void logcopyinfo(logcopyinfo_struct* p) {
    if (p != nullptr) p->result = LogCopyInfo(p->hLogger, p->format, p->pArgs, p->buffer, p->pLength);
}

extern "C" void logcreate(logcreate_struct* p) {
    if (p == nullptr) return;
    if (p->pOptions == nullptr) {
        p->result = LogCreate(nullptr, p->pResult);
        return;
    }
    LogOptions options = *p->pOptions;
    options.Path = nullptr; // the record gives the name and the six numbers only
    p->result = LogCreate(&options, p->pResult);
}

extern "C" void logdelete(loghandle_struct* p) {
    if (p != nullptr) p->result = LogDelete(p->hLogger);
}

extern "C" void logopen(logopen_struct* p) {
    if (p != nullptr) p->result = LogOpen(p->name, p->pResult);
}
