/* The settings' part in a device backup: when an event service and a device-package service are
 * present, the settings listen for the backup event and put every file that a "FileReference.N"
 * setting names (a path, before the first comma) into one package "Settings". */
#include <cstring>

#include "cm.h"
#include "cm/optional_import.h"
#include "cm/rts_common.h"
#include "cmpsettings.h"
#include "settings/cmpsettings_internal.h"
#include "cmutils.h"

namespace settings_backup {

namespace {

struct Imports {
    decltype(&EventOpen) Open;
    decltype(&EventClose) Close;
    decltype(&EventRegisterCallbackFunction) Register;
    decltype(&EventUnregisterCallbackFunction) Unregister;
    decltype(&DMPackageCreate) Create;
    decltype(&DMPackageBackupFile) BackupFile;
    decltype(&DMPackageClose) ClosePackage;
} g{};
RTS_HANDLE g_event = RTS_INVALID_HANDLE;

constexpr const char* kSection = "CmpSettings";
constexpr RTS_I32 kValueSize = 256;

void keep_first(RTS_RESULT& first, RTS_RESULT r) {
    if (first == RES_OK) first = r;
}

// The package is made at the first file that needs it; the first failure is the answer.
RTS_RESULT backup(void* context) {
    if (g.Create == nullptr || g.BackupFile == nullptr || g.ClosePackage == nullptr) return RES_OK;
    RTS_HANDLE package = RTS_INVALID_HANDLE;
    RTS_RESULT first = RES_OK;
    for (int n = 0;; ++n) {
        char key[32], file[kValueSize];
        RTS_I32 length = kValueSize;
        CMUtlsnprintf(key, sizeof key, "FileReference.%d", n);
        if (SettgGetStringValue(kSection, key, file, &length, "", 0) != RES_OK) break;
        if (char* comma = std::strchr(file, ',')) *comma = '\0';
        if (std::strpbrk(file, "/\\") == nullptr) continue;
        RTS_RESULT r = RES_OK;
        if (package == RTS_INVALID_HANDLE) {
            package = g.Create(context, CMPID_CmpSettings, "Settings", &r);
            if (r != RES_OK || !rts::valid_handle(package)) return r != RES_OK ? r : RES_FAILED;
        }
        keep_first(first, g.BackupFile(package, file, key));
    }
    if (package != RTS_INVALID_HANDLE) keep_first(first, g.ClosePackage(package));
    return first;
}

void on_backup(EventParam* pEvent, void*) {
    auto* event = pEvent != nullptr ? static_cast<DMBackupEvent*>(pEvent->pParam) : nullptr;
    if (event == nullptr || event->action != DM_ACTION_BACKUP) return;
    const RTS_RESULT r = backup(event->context);
    if (event->result == RES_OK) event->result = r;
}

void import() {
    rts::import_optional("EventOpen", g.Open);
    rts::import_optional("EventClose", g.Close);
    rts::import_optional("EventRegisterCallbackFunction", g.Register);
    rts::import_optional("EventUnregisterCallbackFunction", g.Unregister);
    rts::import_optional("DMPackageCreate", g.Create);
    rts::import_optional("DMPackageBackupFile", g.BackupFile);
    rts::import_optional("DMPackageClose", g.ClosePackage);
}

} // namespace

// Listens for the backup event from CH_INIT3 to CH_EXIT3.
void hook(RTS_UI32 hookId) {
    if (hookId == CH_INIT) import();
    if (hookId == CH_INIT3 && g.Open != nullptr && g.Register != nullptr) {
        RTS_RESULT r = RES_FAILED;
        g_event = g.Open(DM_EVENT_BACKUP, DM_CMPID, &r);
        if (r == RES_OK && rts::valid_handle(g_event))
            g.Register(g_event, on_backup, nullptr);
        else
            g_event = RTS_INVALID_HANDLE;
    }
    if (hookId == CH_EXIT3 && g_event != RTS_INVALID_HANDLE) {
        if (g.Unregister != nullptr) g.Unregister(g_event, on_backup, nullptr);
        if (g.Close != nullptr) g.Close(g_event);
        g_event = RTS_INVALID_HANDLE;
    }
}

} // namespace settings_backup
