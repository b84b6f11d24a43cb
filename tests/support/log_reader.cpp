// Readers of the standard logger's entries. The early buffer has no public reader: it is read
// here through the logging component's own view of it.
#include "log_reader.h"

#include "log/cmplog_internal.h"

namespace testlog {

namespace {

constexpr RTS_UI32 kEveryClass = 0xFFFFFFFF;

void read_early_buffer(std::vector<LogEntry>& out) {
    LogEntry e;
    const int count = cmplog::g_early.next.load();
    for (int i = 0; i < count; ++i)
        if (cmplog::read_slot(cmplog::g_early.slots[i], e) == RES_OK) out.push_back(e);
}

} // namespace

std::vector<LogEntry> entries(RTS_HANDLE logger) {
    std::vector<LogEntry> out;
    LogEntry e;
    RTS_RESULT r = RES_OK;
    for (int i = LogGetFirstEntry(logger, &e, &r); r == RES_OK; i = LogGetNextEntry(logger, i, &e, &r))
        out.push_back(e);
    return out;
}

std::vector<LogEntry> entries() {
    RTS_HANDLE logger = LogOpen(LOG_STD_LOGGER_NAME, nullptr);
    if (logger != RTS_INVALID_HANDLE) return entries(logger);
    std::vector<LogEntry> out;
    read_early_buffer(out);
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

void clear() {
    RTS_HANDLE h = LogOpen(LOG_STD_LOGGER_NAME, nullptr);
    if (h == RTS_INVALID_HANDLE) {
        cmplog::g_early.next = 0;
        return;
    }
    LogSetFilter(h, kEveryClass);
    auto* logger = static_cast<cmplog::Logger*>(h);
    logger->WriteIndex = 0;
    logger->OldestIndex = -1;
    for (cmplog::BackendSlot& b : logger->Backends)
        if (b.ClassId != 0) b.DumpIndex = -1;
}

} // namespace testlog
