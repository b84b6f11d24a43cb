// Loggers the log tests make and read: a logger of a given type and size, and its texts.
#pragma once

#include <string>
#include <vector>

#include "cmplog.h"
#include "cmutils.h"

namespace testlogger {

using Texts = std::vector<std::string>;

inline RTS_HANDLE make(const char* name, RTS_UI32 type, int maxEntries, RTS_UI32 filter = 0xFFFFFFFF) {
    LogOptions o{};
    CMUtlSafeStrCpy(o.Name, sizeof o.Name, name);
    o.Enable = 1;
    o.Type = type;
    o.Filter = filter;
    o.MaxEntries = maxEntries;
    return LogCreate(&o, nullptr);
}

// The texts in the logger's ring, oldest first.
inline Texts texts(RTS_HANDLE logger) {
    Texts out;
    LogEntry e;
    RTS_RESULT r = RES_OK;
    for (int i = LogGetFirstEntry(logger, &e, &r); r == RES_OK; i = LogGetNextEntry(logger, i, &e, &r))
        out.emplace_back(e.InfoText);
    return out;
}

} // namespace testlogger
