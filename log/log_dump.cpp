// Dumping: each logger's backend slots, the instances of backend classes made through the
// manager, and the walk that hands every entry a backend has not seen to it, in ring order.
// DumpBusy lets one thread dump a logger at a time; the ring is read lock-free, so writers
// never wait for a dump.
#include "cm.h"
#include "log/cmplog_internal.h"

namespace cmplog {

namespace {

constexpr RTS_UI32 kDumpBusy = 1;
constexpr int kEntriesPerCyclicPass = 4;
// A backend slot whose class gave no usable instance.
ILogBackend* const kNoInstance = reinterpret_cast<ILogBackend*>(RTS_INVALID_HANDLE);

bool has_instance(const BackendSlot& b) {
    return b.Backend != nullptr && b.Backend != kNoInstance;
}

// Hands the backend the entries from its DumpIndex on. A failing entry stays the next one and
// its result is the answer.
RTS_RESULT dump_slot(Logger* logger, BackendSlot& b) {
    const int max = logger->Options.MaxEntries;
    const bool cyclic = (logger->Options.Type & LOG_DUMP_CYCLIC) != 0;
    int read = 0;
    do {
        LogEntry e;
        if (read_slot(logger->Ring[b.DumpIndex], e) == RES_OK) {
            ++read;
            if (has_instance(b)) {
                RTS_RESULT result = RES_OK;
                LogBackendInstance* instance = b.Backend->pInstance;
                instance->hBackend = b.Backend->BackendDumpEntry(instance->hBackend, logger, &e, &result);
                if (result != RES_OK) return result;
            }
        }
        b.DumpIndex = next_index(b.DumpIndex, max);
    } while (!(cyclic && read == kEntriesPerCyclicPass) && b.DumpIndex != logger->WriteIndex.load());
    return RES_OK;
}

RTS_RESULT dump_backends(Logger* logger) {
    RTS_RESULT result = RES_OK;
    for (BackendSlot& b : logger->Backends) {
        if (b.DumpIndex == -1) {
            b.DumpIndex = logger->OldestIndex.load();
            if (b.DumpIndex == -1) continue; // nothing written yet
        } else if (b.DumpIndex == logger->WriteIndex.load() || b.Backend == nullptr) {
            continue;
        }
        RTS_RESULT r = dump_slot(logger, b);
        if (r != RES_OK) result = r;
    }
    return result;
}

RTS_RESULT register_on(Logger* logger, RTS_UI32 classId) {
    for (const BackendSlot& b : logger->Backends)
        if (b.ClassId == classId) return RES_DUPLICATE;
    for (BackendSlot& b : logger->Backends) {
        if (b.ClassId != 0) continue;
        b = BackendSlot{classId, nullptr, -1};
        ++logger->BackendCount;
        break;
    }
    if (g.initialised) instantiate_backends(logger);
    return RES_OK;
}

void unregister_on(Logger* logger, RTS_UI32 classId) {
    for (BackendSlot& b : logger->Backends) {
        if (b.ClassId != classId || b.Backend == kNoInstance) continue;
        if (b.Backend != nullptr) {
            LogBackendInstance* instance = b.Backend->pInstance;
            if (b.Backend->BackendClose(instance->hBackend, b.Backend) == RES_OK)
                CMDeleteInstance2(instance->ClassId, instance);
        }
        b.Backend = kNoInstance;
        --logger->BackendCount;
    }
}

// An instance of the class opened on the logger, or kNoInstance.
ILogBackend* open_backend(Logger* logger, RTS_UI32 classId) {
    auto* instance = static_cast<LogBackendInstance*>(CMCreateInstance(classId));
    if (instance == nullptr) return kNoInstance;
    instance->ClassId = classId;
    auto* itf =
        static_cast<ILogBackend*>(instance->QueryInterface(instance, LOG_BACKEND_INTERFACE_ID, nullptr));
    RTS_HANDLE h = itf != nullptr ? itf->BackendOpen(instance, classId, logger) : RTS_INVALID_HANDLE;
    if (h == RTS_INVALID_HANDLE) {
        CMDeleteInstance2(classId, instance);
        return kNoInstance;
    }
    instance->hBackend = h;
    return itf;
}

// Runs `action` on the logger a handle names, or on every logger for all ones.
template <typename F> RTS_RESULT for_loggers(RTS_HANDLE hLogger, F action) {
    if (hLogger != RTS_INVALID_HANDLE) {
        Logger* logger = resolve(hLogger);
        return logger != nullptr ? action(logger) : RES_PARAMETER;
    }
    RTS_RESULT result = RES_OK;
    for (Logger* l = first_logger(); l != nullptr; l = next_logger(l)) {
        RTS_RESULT r = action(l);
        if (r != RES_OK) result = r;
    }
    return result;
}

} // namespace

void instantiate_backends(Logger* logger) {
    for (BackendSlot& b : logger->Backends) {
        if (b.ClassId == 0) break;
        if (!has_instance(b)) b.Backend = open_backend(logger, b.ClassId);
    }
}

void unregister_all_backends(Logger* logger) {
    for (const BackendSlot& b : logger->Backends)
        if (b.ClassId != 0) unregister_on(logger, b.ClassId);
}

} // namespace cmplog

using namespace cmplog;

extern "C" RTS_RESULT LogDumpEntries(RTS_HANDLE hLogger) {
    Logger* logger = resolve(hLogger);
    if (logger == nullptr) return RES_PARAMETER;
    if (logger->Ring == nullptr) return RES_NOMEMORY;
    if ((logger->DumpBusy.fetch_or(kDumpBusy, std::memory_order_acquire) & kDumpBusy) != 0) return RES_OK;
    RTS_RESULT result = logger->WriteIndex.load() < 0 ? RES_OK : dump_backends(logger);
    logger->DumpBusy.fetch_and(~kDumpBusy, std::memory_order_release);
    return result;
}

extern "C" RTS_RESULT LogDumpAll(RTS_UI32 typeMask) {
    for (Logger* l = first_logger(); l != nullptr; l = next_logger(l))
        if (l->Options.Enable != 0 && (l->Options.Type & typeMask) != 0) LogDumpEntries(l);
    return RES_OK;
}

extern "C" RTS_RESULT LogRegisterBackend(RTS_HANDLE hLogger, RTS_UI32 classId) {
    return for_loggers(hLogger, [classId](Logger* l) { return register_on(l, classId); });
}

extern "C" RTS_RESULT LogUnregisterBackend(RTS_HANDLE hLogger, RTS_UI32 classId) {
    return for_loggers(hLogger, [classId](Logger* l) { return unregister_on(l, classId), RES_OK; });
}

extern "C" RTS_RESULT LogRegisterInterface(RTS_HANDLE hLogger, RTS_UI32 classId) {
    return LogRegisterBackend(hLogger, classId);
}

extern "C" RTS_RESULT LogUnregisterInterface(RTS_HANDLE hLogger, ILogBackend* pItf) {
    if (pItf == nullptr || pItf->pInstance == nullptr) return RES_PARAMETER;
    return LogUnregisterBackend(hLogger, pItf->pInstance->ClassId);
}
