// The loggers as the settings of the logging component describe them: the pass at start-up
// that names the standard logger, creates the further loggers, grows their rings, registers
// their backends and logs their options; reading one logger's settings again; the backend
// classes a newly registered instance brings; and the standard logger's filter after a change
// of the settings. Logger N is described by the keys Logger.N.*, N counting from 0 without gaps.
#include <cstring>

#include "cm.h"
#include "cmpsettings.h"
#include "cmutils.h"
#include "log/log_config.h"
#include "sysmem.h"

namespace cmplog {

namespace {

constexpr RTS_SIZE kKeySize = 30;
constexpr RTS_SIZE kNameSize = sizeof(LogOptions::Name) + 1; // a name of up to 32 characters
constexpr RTS_I32 kFewestEntries = 1;
constexpr RTS_I32 kMostEntries = 100000;
// What a logger the settings add starts with, before its own keys are read.
constexpr LogOptions kDefaults = {"", 1, LOG_DEFAULT_TYPE, LOG_DEFAULT_FILTER, 500, 100000, 3, nullptr};

void key_of(char (&key)[kKeySize], int n, const char* word) {
    CMUtlsnprintf(key, sizeof key, "%s.%d.%s", "Logger", n, word);
}

// Logger.N.Name into `name`; false when the key is missing (or the settings cannot be read).
bool read_name(int n, char (&name)[kNameSize]) {
    char key[kKeySize];
    key_of(key, n, "Name");
    RTS_I32 length = static_cast<RTS_I32>(sizeof name);
    const RTS_RESULT r = SettgGetStringValue(kOwner, key, name, &length, "", 0);
    return r == RES_OK || r == RES_BUFFERSIZE;
}

RTS_I32 read_int(int n, const char* word, RTS_I32 current) {
    char key[kKeySize];
    key_of(key, n, word);
    RTS_I32 value = current;
    SettgGetIntValue(kOwner, key, &value, current, 0);
    return value;
}

bool same_name(const Logger* logger, const char* name) {
    return std::strncmp(logger->Options.Name, name, sizeof logger->Options.Name) == 0;
}

// The number N whose Logger.N.Name is the logger's name, or -1.
int number_of(const Logger* logger) {
    char name[kNameSize];
    for (int n = 0; read_name(n, name); ++n)
        if (same_name(logger, name)) return n;
    return -1;
}

// Calls `found` with each class listed in Logger.N.Backend.M.ClassId, M = 0, 1, ... while the
// keys exist.
template <typename F> void for_listed_backends(int n, F found) {
    for (int m = 0;; ++m) {
        char key[kKeySize];
        CMUtlsnprintf(key, sizeof key, "%s.%d.%s.%d.%s", "Logger", n, "Backend", m, "ClassId");
        RTS_I32 classId = 0;
        if (SettgGetIntValue(kOwner, key, &classId, 0, 0) != RES_OK) return;
        found(static_cast<RTS_UI32>(classId));
    }
}

RTS_I32 clamp_entries(RTS_I32 entries) {
    return entries < kFewestEntries ? kFewestEntries : entries > kMostEntries ? kMostEntries : entries;
}

Logger* create_logger(const char* name) {
    LogOptions options = kDefaults;
    CMUtlSafeStrCpy(options.Name, sizeof options.Name, name);
    RTS_HANDLE h = LogCreate(&options, nullptr);
    return h != RTS_INVALID_HANDLE ? static_cast<Logger*>(h) : nullptr;
}

// A larger ring with the old slots at its start; the old ring is freed unless it is the early
// buffer. On failure the old capacity stays and the logger says so.
void grow_ring(Logger* logger, RTS_I32 oldEntries) {
    const RTS_SIZE bytes = static_cast<RTS_SIZE>(logger->Options.MaxEntries) * sizeof(LogRingSlot);
    auto* ring = static_cast<LogRingSlot*>(SysMemAllocData(kOwner, bytes, nullptr));
    if (ring == nullptr) {
        logger->Options.MaxEntries = oldEntries;
        LogAdd(logger, CMPID_CmpLog, LOG_ERROR, 0, 0,
               "Could not allocate new log buffer, the old settings are used!");
        return;
    }
    const RTS_SIZE kept = static_cast<RTS_SIZE>(oldEntries) * sizeof(LogRingSlot);
    std::memset(static_cast<void*>(ring), 0, bytes);
    std::memcpy(static_cast<void*>(ring), static_cast<const void*>(logger->Ring), kept);
    LogRingSlot* old = logger->Ring;
    logger->Ring = ring;
    if (old != g_early.slots) SysMemFreeData(kOwner, old);
}

// A smaller capacity keeps the ring's memory; positions beyond the new capacity would never be
// reached again, so such a ring starts empty.
void shrink_ring(Logger* logger) {
    const RTS_I32 max = logger->Options.MaxEntries;
    if (logger->WriteIndex.load() < max && logger->OldestIndex.load() < max) return;
    logger->WriteIndex = 0;
    logger->OldestIndex = -1;
    for (BackendSlot& b : logger->Backends) b.DumpIndex = -1;
}

void configure(int n, const char* name) {
    Logger* standard = g.standard.load();
    if (n == 0 && standard != nullptr && !same_name(standard, name))
        CMUtlSafeStrNCpy(standard->Options.Name, sizeof standard->Options.Name, name,
                         sizeof standard->Options.Name);
    RTS_HANDLE h = LogOpen(name, nullptr);
    Logger* logger = h != RTS_INVALID_HANDLE ? static_cast<Logger*>(h) : create_logger(name);
    if (logger == nullptr) return; // no room for it: the next number is tried
    const RTS_I32 oldEntries = logger->Options.MaxEntries;
    if (read_logger_settings(logger, false) == RES_NOCHANGE) return;
    if (logger->Options.MaxEntries > oldEntries) grow_ring(logger, oldEntries);
    if (logger->Options.MaxEntries < oldEntries) shrink_ring(logger);
    log_options(logger);
}

} // namespace

RTS_RESULT read_logger_settings(Logger* logger, bool filterOnly) {
    const int n = number_of(logger);
    if (n < 0) return RES_FAILED;
    LogOptions& current = logger->Options;
    LogOptions read = current;
    read.Filter = static_cast<RTS_UI32>(read_int(n, "Filter", static_cast<RTS_I32>(current.Filter)));
    if (filterOnly) {
        current.Filter = read.Filter;
        return RES_OK;
    }
    read.Enable = static_cast<RTS_UI32>(read_int(n, "Enable", static_cast<RTS_I32>(current.Enable)));
    read.Type = static_cast<RTS_UI32>(read_int(n, "Type", static_cast<RTS_I32>(current.Type)));
    read.MaxEntries = clamp_entries(read_int(n, "MaxEntries", current.MaxEntries));
    read.MaxFileSize = read_int(n, "MaxFileSize", current.MaxFileSize);
    read.MaxFiles = read_int(n, "MaxFiles", current.MaxFiles);
    const bool unchanged = std::memcmp(&read, &current, sizeof read) == 0;
    current = read;
    for_listed_backends(n, [logger](RTS_UI32 classId) { LogRegisterBackend(logger, classId); });
    return unchanged ? RES_NOCHANGE : RES_OK;
}

void configure_loggers() {
    char name[kNameSize];
    for (int n = 0; read_name(n, name); ++n) configure(n, name);
}

void match_backends(RTS_UI32 classId, void* instance) {
    auto* object = static_cast<LogBackendInstance*>(instance);
    if (object == nullptr || object->QueryInterface == nullptr ||
        object->QueryInterface(object, LOG_BACKEND_INTERFACE_ID, nullptr) == nullptr)
        return;
    int n = 0;
    for (Logger* l = first_logger(); l != nullptr; l = next_logger(l), ++n)
        for_listed_backends(n, [l, classId](RTS_UI32 listed) {
            if (listed == classId) LogRegisterBackend(l, classId);
        });
}

void settings_changed() {
    Logger* standard = g.standard.load();
    if (standard != nullptr) read_logger_settings(standard, true);
}

} // namespace cmplog
