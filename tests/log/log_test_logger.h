// Loggers the log tests make and read: a logger of a given type and size, and its texts.
#pragma once

#include <string>
#include <vector>

#include "cmplog.h"
#include "cmutils.h"
#include "log_reader.h"

namespace testlogger {

using Texts = std::vector<std::string>;

inline RTS_HANDLE make(const char* name, RTS_UI32 type, int maxEntries, RTS_UI32 filter = 0xFFFFFFFF) {
    LogOptions o{"", 1, type, filter, maxEntries, 0, 0, nullptr};
    CMUtlSafeStrCpy(o.Name, sizeof o.Name, name);
    return LogCreate(&o, nullptr);
}

inline Texts texts_of(const std::vector<LogEntry>& entries) {
    Texts out;
    for (const LogEntry& e : entries) out.emplace_back(e.InfoText);
    return out;
}

// The texts in the logger's ring, oldest first.
inline Texts texts(RTS_HANDLE logger) {
    return texts_of(testlog::entries(logger));
}

} // namespace testlogger
