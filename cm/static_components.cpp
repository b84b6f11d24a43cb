/* The program's component list and the host's loader and unloader beside it. Tests, tools and
 * benchmarks start the framework with exactly this list. */
#include <cstring>

#include "cm.h"

extern "C" {
RTS_RESULT CM__Entry(ComponentInitRecord*);
RTS_RESULT CmpChecksum__Entry(ComponentInitRecord*);
RTS_RESULT CmpLog__Entry(ComponentInitRecord*);
RTS_RESULT CmpMemPool__Entry(ComponentInitRecord*);
RTS_RESULT CmpObjectMgr__Entry(ComponentInitRecord*);
RTS_RESULT CmpSettings__Entry(ComponentInitRecord*);
RTS_RESULT SysCpuHandling__Entry(ComponentInitRecord*);
RTS_RESULT SysExcept__Entry(ComponentInitRecord*);
RTS_RESULT SysFile__Entry(ComponentInitRecord*);
RTS_RESULT SysMem__Entry(ComponentInitRecord*);
RTS_RESULT SysSem__Entry(ComponentInitRecord*);
RTS_RESULT SysSemProcess__Entry(ComponentInitRecord*);
RTS_RESULT SysShm__Entry(ComponentInitRecord*);
RTS_RESULT SysTime__Entry(ComponentInitRecord*);
RTS_RESULT SysTimeRtc__Entry(ComponentInitRecord*);
}

extern "C" const StaticComponent StaticComponentList[] = {
    {"CM", CM__Entry, 0},
    {"CmpChecksum", CmpChecksum__Entry, 0},
    {"CmpLog", CmpLog__Entry, 0},
    {"CmpMemPool", CmpMemPool__Entry, 0},
    {"CmpObjectMgr", CmpObjectMgr__Entry, 0},
    {"CmpSettings", CmpSettings__Entry, 0},
    {"SysCpuHandling", SysCpuHandling__Entry, 0},
    {"SysExcept", SysExcept__Entry, 0},
    {"SysFile", SysFile__Entry, 0},
    {"SysMem", SysMem__Entry, 0},
    {"SysSem", SysSem__Entry, 0},
    {"SysSemProcess", SysSemProcess__Entry, 0},
    {"SysShm", SysShm__Entry, 0},
    {"SysTime", SysTime__Entry, 0},
    {"SysTimeRtc", SysTimeRtc__Entry, 0},
    {nullptr, nullptr, 0},
};

namespace {

struct LoadableComponent {
    const char* name;
    PF_COMPONENT_ENTRY entry;
};

constexpr LoadableComponent kLoadable[] = {
    {"SysSem", SysSem__Entry},           {"SysSemProcess", SysSemProcess__Entry},
    {"SysTime", SysTime__Entry},         {"SysMem", SysMem__Entry},
    {"SysFile", SysFile__Entry},         {"CmpSettings", CmpSettings__Entry},
    {"CmpLog", CmpLog__Entry},           {"CmpMemPool", CmpMemPool__Entry},
    {"CmpChecksum", CmpChecksum__Entry}, {"SysShm", SysShm__Entry},
};

} // namespace

/* Knows the components linked into the program by their exact name; never sets a module
 * handle, so everything it provides counts as linked in. */
extern "C" RTS_RESULT CMHostLoadComponent(const char* name, RTS_UINTPTR reserved, RTS_HANDLE* pModuleHandle,
                                          PF_COMPONENT_ENTRY* pEntry) {
    if (name == nullptr || pEntry == nullptr) return RES_FAILED;
    for (const LoadableComponent& c : kLoadable) {
        if (std::strcmp(c.name, name) == 0) {
            *pEntry = c.entry;
            return RES_OK;
        }
    }
    return RES_FAILED;
}

extern "C" RTS_RESULT CMHostUnloadComponent(const char* name, RTS_HANDLE moduleHandle) {
    return RES_OK;
}
