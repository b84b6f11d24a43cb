/* The typed reads and writes of the settings, their removal, and the search that serves them:
 * a key is looked for in the databases in the order they were opened, and in each database only
 * in the first header of the component's section that the database's filter admits, so a key of
 * the master file shadows the same key in a referenced file. Numbers are kept as text: "0x"
 * anywhere in a value selects base 16, and the parse saturates at the limits of 32 bits.
 * Everything runs under the settings lock; a write goes through the owning database's own lock
 * and is written to its file at once, or at the end of the open update bracket. */
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cmpsettings.h"
#include "cmutils.h"
#include "settings/cmpsettings_internal.h"

using rts_sv = std::string_view;

namespace {

constexpr RTS_SIZE kIntText = 50;      /* an integer's text is at most 49 characters */
constexpr RTS_SIZE kCompareText = 255; /* the stored text compared before a string write */
constexpr RTS_SIZE kHeaderCut = 34;    /* "[" and 32 characters of the name with the terminator */

using Guard = std::lock_guard<std::recursive_mutex>;

bool admits(const IniDatabase* db, const char* header) {
    return db->filter[0] == '\0' || CMUtlStrIStr(db->filter, header) != nullptr;
}

/* The 32-bit signed parse of base 10, saturating. */
RTS_I32 parse_decimal(const char* text) {
    const long long v = std::strtoll(text, nullptr, 10);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<RTS_I32>(v);
}

/* The 32-bit unsigned parse of base 16: a sign negates, a magnitude beyond 32 bits saturates. */
RTS_I32 parse_hex(const char* text) {
    errno = 0;
    const unsigned long long v = std::strtoull(text, nullptr, 16);
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    const unsigned long long magnitude = *p == '-' ? 0 - v : v;
    if (errno == ERANGE || magnitude > UINT32_MAX) return -1;
    return static_cast<RTS_I32>(static_cast<RTS_UI32>(v));
}

/* The value of a found key as text of at most kIntText - 1 characters, or false. */
bool int_text(const settg::Found& f, char (&text)[kIntText]) {
    const rts_sv value = ini::value_at(f.db, f.value, 0);
    if (value.size() >= kIntText) return false;
    std::memcpy(text, value.data(), value.size());
    text[value.size()] = '\0';
    return true;
}

bool forbidden(const char* value, RTS_SIZE length) {
    for (RTS_SIZE i = 0; value[i] != '\0'; ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        if (c == '[' || c == ']' || (i < length && (c < 32 || c == 127))) return true;
    }
    return false;
}

/* The database a new key of the component goes into: one holding the section, else any that
 * admits it; never a write-protected one. */
IniDatabase* database_for_new_key(const char* component) {
    char header[kHeaderCut];
    CMUtlsnprintf(header, sizeof header, "[%s]", component);
    IniDatabase* fallback = nullptr;
    for (IniDatabase* db = ini::first_database(); db != nullptr; db = ini::next_database(db)) {
        if (db->writeProtected != 0 || !admits(db, header)) continue;
        if (ini::section_header(db, header) != ini::kNoPosition) return db;
        if (fallback == nullptr) fallback = db;
    }
    return fallback;
}

RTS_RESULT store(const char* component, const char* key, rts_sv value) {
    const settg::Found f = settg::find(component, key);
    IniDatabase* db = f.db != nullptr ? f.db : database_for_new_key(component);
    if (db == nullptr) return RES_NO_ACCESS;
    if (db->writeProtected != 0) {
        ini::close_file(db);
        return RES_NO_ACCESS;
    }
    RTS_RESULT result = f.db != nullptr ? ini::replace_value(db, f.value, value)
                                        : ini::insert_value(db, component, key, value);
    if (result == RES_OK) result = ini::write_back(db);
    ini::close_file(db);
    return result;
}

RTS_RESULT string_default(char* buffer, RTS_I32* pLength, RTS_I32 size, const char* defaultValue) {
    if (defaultValue == nullptr) {
        if (pLength != nullptr) *pLength = 0;
        if (buffer != nullptr) buffer[0] = '\0';
        return RES_FAILED;
    }
    const auto length = static_cast<RTS_I32>(std::strlen(defaultValue));
    if (buffer == nullptr) {
        if (pLength != nullptr) *pLength = size != 0 && length + 1 > size ? size : length + 1;
        return RES_FAILED;
    }
    const RTS_RESULT copied = CMUtlSafeStrCpy(buffer, static_cast<RTS_SIZE>(size), defaultValue);
    *pLength = static_cast<RTS_I32>(std::strlen(buffer));
    return copied == RES_BUFFERSIZE ? RES_BUFFERSIZE : RES_FAILED;
}

} // namespace

namespace settg {

Found find(const char* component, const char* key) {
    char header[kHeaderCut];
    CMUtlsnprintf(header, sizeof header, "[%s]", component);
    for (IniDatabase* db = ini::first_database(); db != nullptr; db = ini::next_database(db)) {
        if (!admits(db, header)) continue;
        const RTS_SIZE at = ini::section_header(db, header);
        if (at == ini::kNoPosition) continue;
        const RTS_SIZE value = ini::key_value(db, at, key);
        if (value != ini::kNoPosition) return {db, at, value};
    }
    return {};
}

RTS_RESULT read_arguments(const char* component, const char* key, const void* buffer, RTS_I32* pLength,
                          RTS_I32* pSize) {
    if (buffer != nullptr && (pLength == nullptr || *pLength <= 0)) return RES_PARAMETER;
    if (buffer == nullptr && pLength != nullptr) *pLength = 0;
    *pSize = pLength != nullptr ? *pLength : 0;
    return component == nullptr || key == nullptr ? RES_PARAMETER : RES_OK;
}

RTS_RESULT reload_all() {
    if (SettgGetAccessCounter_(nullptr) > 0) return RES_OK;
    IniDatabase* db = ini::first_database();
    if (db == nullptr) return RES_PARAMETER;
    for (; db != nullptr; db = ini::next_database(db)) {
        const RTS_RESULT result = ini::reload(db);
        if (result == RES_NO_OBJECT && db != master()) continue;
        if (result != RES_OK) return result;
    }
    return RES_OK;
}

} // namespace settg

extern "C" RTS_RESULT SettgGetIntValue(const char* component, const char* key, RTS_I32* pValue,
                                       RTS_I32 defaultValue, int reload) {
    RTS_RESULT result = RES_FAILED;
    RTS_I32 value = defaultValue;
    if (component != nullptr && key != nullptr) {
        Guard guard(ini::settings_lock());
        if (reload == 1 && (result = settg::reload_all()) != RES_OK) return result;
        char text[kIntText];
        const settg::Found f = settg::find(component, key);
        result = f.db != nullptr && int_text(f, text) ? RES_OK : RES_FAILED;
        if (result == RES_OK)
            value = std::strstr(text, "0x") != nullptr ? parse_hex(text) : parse_decimal(text);
    }
    if (pValue != nullptr) *pValue = value;
    return result;
}

extern "C" RTS_RESULT SettgGetStringValue(const char* component, const char* key, char* buffer,
                                          RTS_I32* pLength, const char* defaultValue, int reload) {
    RTS_I32 size = 0;
    const RTS_RESULT checked = settg::read_arguments(component, key, buffer, pLength, &size);
    if (checked != RES_OK) return checked;
    Guard guard(ini::settings_lock());
    if (reload == 1) {
        const RTS_RESULT reloaded = settg::reload_all();
        if (reloaded != RES_OK) return reloaded;
    }
    const settg::Found f = settg::find(component, key);
    if (f.db == nullptr) return string_default(buffer, pLength, size, defaultValue);
    const rts_sv whole = ini::value_at(f.db, f.value, 0);
    if (buffer == nullptr) {
        if (pLength != nullptr) *pLength = static_cast<RTS_I32>(whole.size() + 1);
        return RES_OK;
    }
    const rts_sv value = ini::value_at(f.db, f.value, static_cast<RTS_SIZE>(size));
    std::memcpy(buffer, value.data(), value.size());
    buffer[value.size()] = '\0';
    *pLength = static_cast<RTS_I32>(value.size());
    return value.size() < whole.size() ? RES_BUFFERSIZE : RES_OK;
}

extern "C" RTS_RESULT SettgSetStringValue(const char* component, const char* key, const char* value,
                                          RTS_I32 maxLength) {
    if (component == nullptr || key == nullptr || value == nullptr || key[0] == '\0') return RES_PARAMETER;
    Guard guard(ini::settings_lock());
    char current[kCompareText];
    RTS_I32 length = sizeof current;
    if (SettgGetStringValue(component, key, current, &length, "", 0) == RES_OK &&
        std::strcmp(current, value) == 0)
        return RES_OK;
    const RTS_SIZE n =
        maxLength > 0 ? CMUtlStrNLen(value, static_cast<RTS_SIZE>(maxLength)) : std::strlen(value);
    if (forbidden(value, n)) return RES_NOTSUPPORTED;
    return store(component, key, rts_sv(value, n));
}

extern "C" RTS_RESULT SettgSetIntValue(const char* component, const char* key, RTS_I32 value, int base) {
    RTS_I32 current = 0;
    if (SettgGetIntValue(component, key, &current, 0, 0) == RES_OK && current == value) return RES_OK;
    char text[kIntText];
    CMUtlLtoa(value, text, sizeof text, base == 2 || base == 16 ? base : 10, nullptr);
    return SettgSetStringValue(component, key, text, 0);
}

extern "C" RTS_RESULT SettgRemoveKey(const char* component, const char* key) {
    if (component == nullptr || key == nullptr) return RES_PARAMETER;
    Guard guard(ini::settings_lock());
    const settg::Found f = settg::find(component, key);
    if (f.db == nullptr) return RES_NO_OBJECT;
    if (f.db->writeProtected != 0) {
        ini::close_file(f.db);
        return RES_NO_ACCESS;
    }
    const RTS_RESULT removed = IniRemoveKey(f.db, f.header, key);
    return removed == RES_OK ? ini::write_back(f.db) : removed;
}

extern "C" RTS_RESULT SettgClearComponent(const char* component) {
    if (component == nullptr) return RES_PARAMETER;
    char header[kHeaderCut];
    CMUtlsnprintf(header, sizeof header, "[%s]", component);
    Guard guard(ini::settings_lock());
    RTS_RESULT result = RES_NO_OBJECT;
    for (IniDatabase* db = ini::first_database(); db != nullptr; db = ini::next_database(db)) {
        const RTS_SIZE at = admits(db, header) ? ini::section_header(db, header) : ini::kNoPosition;
        if (at == ini::kNoPosition) continue;
        if (db->writeProtected != 0) {
            if (result == RES_NO_OBJECT) result = RES_NO_ACCESS;
            continue;
        }
        result = IniRemoveAllKeys(db, at);
        if (result == RES_OK) result = ini::write_back(db);
    }
    return result;
}
