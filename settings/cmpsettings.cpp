/* CmpSettings: per-component settings. This program starts without a configuration file, so
 * no database is open: values live only in memory for the run (set, read, removed), a read of a
 * value never set answers the caller's default with RES_FAILED, and choosing a database reports
 * that no file could be opened. */
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "cm.h"
#include "cmpinifile.h"
#include "cmpsettings.h"
#include "cmutils.h"

namespace settings_online {
void hook(RTS_UI32 hookId);
}
namespace settings_backup {
void hook(RTS_UI32 hookId);
}

namespace {

std::mutex g_lock;
std::map<std::string, std::string> g_values; // key: lower-case "component\nkey"

std::string value_key(const char* component, const char* key) {
    std::string k = std::string(component) + '\n' + key;
    for (char& c : k)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return k;
}

bool find_value(const char* component, const char* key, std::string& value) {
    if (component == nullptr || key == nullptr) return false;
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_values.find(value_key(component, key));
    if (it == g_values.end()) return false;
    value = it->second;
    return true;
}

RTS_I32 parse_int(const std::string& text) {
    if (text.find("0x") != std::string::npos)
        return static_cast<RTS_I32>(static_cast<RTS_UI32>(std::strtoul(text.c_str(), nullptr, 16)));
    return static_cast<RTS_I32>(std::strtol(text.c_str(), nullptr, 10));
}

const CMExportEntry kExports[] = {
    CM_EXPORT(SettgSetDatabaseName),
    CM_EXPORT(SettgGetIntValue),
    CM_EXPORT(SettgGetStringValue),
    CM_EXPORT(SettgSetIntValue),
    CM_EXPORT(SettgSetStringValue),
    CM_EXPORT(SettgRemoveKey),
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
    {nullptr, nullptr, 0, 0},
};

/* The settings component's own release, not the framework's. */
constexpr RTS_UI32 kVersion = 0x03051500u;

RTS_UI32 get_version() {
    return kVersion;
}

RTS_RESULT export_functions() {
    return CMRegisterAPI(kExports, 0, 0, CMPID_CmpSettings);
}

/* The configuration-file databases still open go at the end. */
RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) {
    settings_online::hook(hook);
    settings_backup::hook(hook);
    if (hook == CH_EXIT_SYSTEM) IniDeleteAll();
    return RES_OK;
}

} // namespace

extern "C" RTS_RESULT CmpSettings__Entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(pInit, CMPID_CmpSettings, export_functions, nullptr, get_version, hook_function);
}

extern "C" RTS_RESULT SettgSetDatabaseName(const char* fileName) {
    return RES_NO_OBJECT;
}

extern "C" RTS_RESULT SettgGetIntValue(const char* component, const char* key, RTS_I32* pValue,
                                       RTS_I32 defaultValue, int reload) {
    std::string text;
    bool found = find_value(component, key, text);
    if (pValue != nullptr) *pValue = found ? parse_int(text) : defaultValue;
    return found ? RES_OK : RES_FAILED;
}

extern "C" RTS_RESULT SettgGetStringValue(const char* component, const char* key, char* buffer,
                                          RTS_I32* pLength, const char* defaultValue, int reload) {
    if (buffer != nullptr && (pLength == nullptr || *pLength <= 0)) return RES_PARAMETER;
    std::string text;
    if (find_value(component, key, text)) {
        if (buffer == nullptr) {
            if (pLength != nullptr) *pLength = static_cast<RTS_I32>(text.size() + 1);
            return RES_OK;
        }
        RTS_RESULT r = CMUtlSafeStrCpy(buffer, static_cast<RTS_SIZE>(*pLength), text.c_str());
        *pLength = static_cast<RTS_I32>(std::string(buffer).size());
        return r;
    }
    if (buffer == nullptr) {
        if (pLength != nullptr) *pLength = 0;
        return RES_FAILED;
    }
    if (defaultValue == nullptr) {
        buffer[0] = '\0';
        *pLength = 0;
        return RES_FAILED;
    }
    RTS_RESULT r = CMUtlSafeStrCpy(buffer, static_cast<RTS_SIZE>(*pLength), defaultValue);
    RTS_I32 n = 0;
    while (buffer[n] != '\0') ++n;
    *pLength = n;
    return r == RES_BUFFERSIZE ? RES_BUFFERSIZE : RES_FAILED;
}

extern "C" RTS_RESULT SettgSetStringValue(const char* component, const char* key, const char* value,
                                          RTS_I32 maxLength) {
    if (component == nullptr || key == nullptr || value == nullptr) return RES_PARAMETER;
    std::string text(value);
    if (maxLength > 0 && text.size() > static_cast<size_t>(maxLength))
        text.resize(static_cast<size_t>(maxLength));
    std::lock_guard<std::mutex> guard(g_lock);
    g_values[value_key(component, key)] = text;
    return RES_OK;
}

extern "C" RTS_RESULT SettgSetIntValue(const char* component, const char* key, RTS_I32 value, int base) {
    char text[16];
    CMUtlsnprintf(text, sizeof text, base == 16 ? "0x%X" : "%d", value);
    return SettgSetStringValue(component, key, text, 0);
}

extern "C" RTS_RESULT SettgRemoveKey(const char* component, const char* key) {
    if (component == nullptr || key == nullptr) return RES_PARAMETER;
    std::lock_guard<std::mutex> guard(g_lock);
    return g_values.erase(value_key(component, key)) != 0 ? RES_OK : RES_NO_OBJECT;
}
