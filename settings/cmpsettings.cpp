/* CmpSettings: the component that gives every other component its settings. It owns the choice
 * of the configuration files (the master file and the files its FileReference.N keys name, each
 * limited to the sections listed after its name), the update brackets that hold back file writes
 * (a counter changed only atomically: while it is above zero no text is written or re-read), and
 * the component's entry, hooks, exports and lower-case entries. The values themselves are read
 * and written in cmpsettings_values.cpp and cmpsettings_wide.cpp. */
#include <atomic>
#include <cstring>

#include "cm.h"
#include "cmplog.h"
#include "cmpsettings.h"
#include "cmutils.h"
#include "settings/cmpsettings_internal.h"
#include "syscpu.h"
#include "sysfile.h"

namespace {

constexpr RTS_UI32 kVersion = 0x03051500u;
constexpr RTS_UI32 kWrapperVersion = 0x03051100u;
constexpr RTS_SIZE kReferenceSize = 512;
constexpr const char* kTemplate = "Master.cfg";

RTS_I32 g_accessCounter = 0;
IniDatabase* g_master = nullptr;

using Guard = std::lock_guard<std::recursive_mutex>;

/* ---- choosing the files ------------------------------------------------------------------- */

/* A database is write protected when its key says so or its file cannot be opened to append. */
void apply_write_protection(IniDatabase* db, const char* key) {
    RTS_I32 setting = 0;
    SettgGetIntValue(settg::kSection, key, &setting, 0, 0);
    if (setting == 0) {
        RTS_HANDLE h = SysFileOpen(db->fileName, AM_APPEND, nullptr);
        if (h == RTS_INVALID_HANDLE)
            setting = 1;
        else
            SysFileClose(h);
    }
    IniSetWriteProtected(db, setting != 0 ? 1 : 0);
}

/* The master file opened, or made from the template first when it is missing. */
IniDatabase* open_master(const char* fileName) {
    RTS_HANDLE db = IniOpen(fileName, 0, nullptr);
    if (db != nullptr) return static_cast<IniDatabase*>(db);
    char name[kReferenceSize];
    CMUtlSafeStrCpy(name, sizeof name, fileName);
    if (std::strchr(name, '.') == nullptr) CMUtlSafeStrCat(name, sizeof name, ".cfg");
    SysFileCopy(name, kTemplate, nullptr);
    return static_cast<IniDatabase*>(IniOpen(fileName, 0, nullptr));
}

/* "file, A, B": the file opened (made empty when missing), with the filter "[A][B]" and the
 * sections it lacks appended. The master file referenced again keeps its whole text. */
void open_reference(char* text, const char* protectionKey) {
    char* comma = std::strchr(text, ',');
    if (comma != nullptr) *comma = '\0';
    auto* db = static_cast<IniDatabase*>(IniOpen(text, INI_CREATE_MISSING, nullptr));
    if (db == nullptr || db == g_master) return;
    char filter[kReferenceSize] = "";
    while (comma != nullptr) {
        char* part = comma + 1;
        part += std::strspn(part, " \t\n\v\f\r");
        comma = std::strchr(part, ',');
        if (comma != nullptr) *comma = '\0';
        IniWriteValue(db, part, nullptr, nullptr, 0); /* makes the section when it is missing */
        const RTS_SIZE used = std::strlen(filter);
        CMUtlsnprintf(filter + used, sizeof filter - used, "[%s]", part);
    }
    IniSetFilter(db, filter);
    apply_write_protection(db, protectionKey);
}

/* FileReference.0, .1, ...: a missing index 0 is passed over, the first missing one after it
 * ends the list. */
void open_references() {
    for (int n = 0;; ++n) {
        char key[64];
        char text[kReferenceSize];
        RTS_I32 length = sizeof text;
        CMUtlsnprintf(key, sizeof key, "%s.%d", "FileReference", n);
        if (SettgGetStringValue(settg::kSection, key, text, &length, nullptr, 0) != RES_OK) {
            if (n == 0) continue;
            return;
        }
        CMUtlSafeStrCat(key, sizeof key, ".IsWriteProtected");
        open_reference(text, key);
    }
}

/* ---- the component ------------------------------------------------------------------------ */

void warn_split_databases() {
    RTS_I32 split = 0;
    SettgGetIntValue("ComponentManager", "CmpSettings.SplitDatabases", &split, 0, 0);
    SettgGetIntValue(settg::kSection, "SplitDatabases", &split, split, 0);
    if (split != 0)
        LogAdd(nullptr, settg::kCmpId, LOG_WARNING, RES_OK, 0,
               "Setting SplitDatabases is no longer supported.");
}

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
    settings_online::hook(hook);
    settings_backup::hook(hook);
    if (hook == CH_INIT3) warn_split_databases();
    if (hook == CH_EXIT_SYSTEM) {
        IniDeleteAll();
        g_master = nullptr;
    }
    return RES_OK;
}

/* A lower-case entry under its own name with the entries' version. */
#define SETTG_WRAPPER(function)                                                                              \
    { reinterpret_cast<RTS_VOID_FCTPTR>(function), #function, 0, kWrapperVersion }

const CMExportEntry kExports[] = {
    CM_EXPORT(SettgSetDatabaseName),
    CM_EXPORT(SettgGetDatabaseName),
    CM_EXPORT(SettgGetIntValue),
    CM_EXPORT(SettgSetIntValue),
    CM_EXPORT(SettgGetStringValue),
    CM_EXPORT(SettgSetStringValue),
    CM_EXPORT(SettgGetWStringValue),
    CM_EXPORT(SettgSetWStringValue),
    CM_EXPORT(SettgRemoveKey),
    CM_EXPORT(SettgClearComponent),
    CM_EXPORT(SettgBeginUpdate),
    CM_EXPORT(SettgEndUpdate),
    CM_EXPORT(SettgGetAccessCounter_),
    CM_EXPORT(IniOpen),
    CM_EXPORT(IniOpen2),
    CM_EXPORT(IniClose),
    CM_EXPORT(IniDelete),
    CM_EXPORT(IniReadValue),
    CM_EXPORT(IniReadValue2),
    CM_EXPORT(IniWriteValue),
    CM_EXPORT(IniRemoveKey),
    CM_EXPORT(IniRemoveAllKeys),
    CM_EXPORT(IniIsWriteProtected),
    CM_EXPORT(IniSetFilter),
    CM_EXPORT(IniCheckFilter),
    SETTG_WRAPPER(settggetintvalue),
    SETTG_WRAPPER(settgsetintvalue),
    SETTG_WRAPPER(settggetstringvalue),
    SETTG_WRAPPER(settgsetstringvalue),
    SETTG_WRAPPER(settggetwstringvalue),
    SETTG_WRAPPER(settgsetwstringvalue),
    SETTG_WRAPPER(settgremovekey),
    SETTG_WRAPPER(settgbeginupdate),
    SETTG_WRAPPER(settgendupdate),
    {nullptr, nullptr, 0, 0},
};

RTS_UI32 get_version() {
    return kVersion;
}

RTS_RESULT export_functions() {
    return CMRegisterAPI(kExports, 0, 0, CMPID_CmpSettings);
}

} // namespace

namespace settg {

IniDatabase* master() {
    return g_master;
}

} // namespace settg

extern "C" RTS_RESULT CmpSettings__Entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(pInit, CMPID_CmpSettings, export_functions, nullptr, get_version, hook_function);
}

extern "C" RTS_RESULT SettgSetDatabaseName(const char* fileName) {
    if (fileName == nullptr || fileName[0] == '\0') return RES_NO_OBJECT;
    IniResetLineSeparator();
    IniDatabase* db = open_master(fileName);
    if (db == nullptr) return RES_NO_OBJECT;
    g_master = db;
    apply_write_protection(db, "IsWriteProtected");
    open_references();
    return RES_OK;
}

extern "C" RTS_RESULT SettgGetDatabaseName(char* buffer, RTS_SIZE size) {
    Guard guard(ini::settings_lock());
    if (g_master == nullptr) return RES_NOTINITIALIZED;
    return CMUtlSafeStrCpy(buffer, size, g_master->fileName);
}

extern "C" RTS_I32 SettgGetAccessCounter_(RTS_RESULT* pResult) {
    if (pResult != nullptr) *pResult = RES_OK;
    return std::atomic_ref<RTS_I32>(g_accessCounter).load();
}

extern "C" RTS_RESULT SettgBeginUpdate(void) {
    SysCpuAtomicAdd(&g_accessCounter, 1, nullptr);
    return RES_OK;
}

/* The last close writes every file with a text, changed or not. The settings lock is held for
 * the walk, so no other thread's edit moves a text while it is being written. */
extern "C" RTS_RESULT SettgEndUpdate(void) {
    if (SettgGetAccessCounter_(nullptr) < 1) return RES_NOTINITIALIZED;
    if (SysCpuAtomicAdd(&g_accessCounter, -1, nullptr) != 0) return RES_PENDING;
    Guard guard(ini::settings_lock());
    RTS_RESULT result = RES_OK;
    for (IniDatabase* db = ini::first_database(); db != nullptr; db = ini::next_database(db)) {
        const RTS_RESULT written = ini::write_back(db);
        if (result == RES_OK) result = written;
    }
    return result;
}

/* ---- lower-case entries ------------------------------------------------------------------- */

extern "C" void settggetintvalue(settggetintvalue_struct* p) {
    p->result = SettgGetIntValue(p->component, p->key, p->pValue, p->defaultValue, p->reload);
}
extern "C" void settgsetintvalue(settgsetintvalue_struct* p) {
    p->result = SettgSetIntValue(p->component, p->key, p->value, p->base);
}
extern "C" void settggetstringvalue(settggetstringvalue_struct* p) {
    p->result = SettgGetStringValue(p->component, p->key, p->buffer, p->pLength, p->defaultValue, p->reload);
}
extern "C" void settgsetstringvalue(settgsetstringvalue_struct* p) {
    p->result = SettgSetStringValue(p->component, p->key, p->value, p->maxLength);
}
extern "C" void settggetwstringvalue(settggetwstringvalue_struct* p) {
    p->result = SettgGetWStringValue(p->component, p->key, p->buffer, p->pLength, p->defaultValue, p->reload);
}
extern "C" void settgsetwstringvalue(settgsetwstringvalue_struct* p) {
    p->result = SettgSetWStringValue(p->component, p->key, p->value, p->maxLength);
}
extern "C" void settgremovekey(settgremovekey_struct* p) {
    p->result = SettgRemoveKey(p->component, p->key);
}
extern "C" void settgbeginupdate(settgupdate_struct* p) {
    p->result = SettgBeginUpdate();
}
extern "C" void settgendupdate(settgupdate_struct* p) {
    p->result = SettgEndUpdate();
}
