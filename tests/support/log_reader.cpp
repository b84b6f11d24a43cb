// Readers of the collected log entries.
#include "log_reader.h"

namespace testlog {

std::vector<LogEntry> entries() {
    std::vector<LogEntry> out;
    LogEntry e;
    for (int i = 0; LogEarlyBufferGet(i, &e) == RES_OK; ++i) out.push_back(e);
    return out;
}

std::vector<std::string> texts() {
    std::vector<std::string> out;
    for (const LogEntry& e : entries()) out.emplace_back(e.InfoText);
    return out;
}

std::vector<std::string> lines(RTS_UI32 infoId) {
    std::vector<std::string> out;
    for (const LogEntry& e : entries())
        if (e.InfoId == infoId && e.CmpId == CMPID_CM) out.emplace_back(e.InfoText);
    return out;
}

int count_starting(const std::string& prefix) {
    int n = 0;
    for (const std::string& t : texts()) n += t.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
}

} // namespace testlog

namespace testlog {

void clear() {
    LogEarlyBufferClear();
}

} // namespace testlog
