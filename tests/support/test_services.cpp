// The fake optional services: an event's handle is its id.
#include "test_services.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace testsvc {

namespace {

Events g_events;

RTS_UI32 id_of(RTS_HANDLE event) {
    return static_cast<RTS_UI32>(reinterpret_cast<RTS_UINTPTR>(event));
}

// Each fake carries the name it is exported under.
struct Fake {
    static RTS_RESULT EventDelete(RTS_HANDLE) { return ++g_events.deleted, RES_OK; }
    static RTS_RESULT SysOutPrintf(const char* format, ...) { return g_events.printed = format, RES_OK; }
    static RTS_RESULT SysTargetGetOperatingSystemId(RTS_UI32* id) { return *id = 5, RES_OK; }
    static RTS_RESULT SysTargetGetProcessorId(RTS_UI32* id) { return *id = 16, RES_OK; }
    static RTS_RESULT RefusedButExported() { return 42; }

    static RTS_HANDLE EventCreate(RTS_UI32 eventId, RTS_UI32 cmpId, RTS_RESULT* pResult) {
        g_events.created.push_back(eventId);
        if (pResult != nullptr) *pResult = g_events.createResult;
        return reinterpret_cast<RTS_HANDLE>(static_cast<RTS_UINTPTR>(eventId));
    }
    static RTS_RESULT EventPost2(RTS_HANDLE event, RTS_UI32 paramId, RTS_UI32 version, void* pParam) {
        auto* fields = static_cast<RTS_UI32*>(pParam);
        g_events.posted.push_back(id_of(event));
        if (id_of(event) == 0x00010007u && g_events.moreCycles > 0) fields[0] = g_events.moreCycles--;
        if (id_of(event) == 0x00010006u && g_events.disables) { // operation, parameter, disabled, handled
            fields[2] = fields[0] == 7 ? 1 : 0;
            fields[3] = 1;
        }
        return RES_OK;
    }
    static RTS_RESULT SysOutVPrintf(const char* format, va_list args) {
        char text[256];
        std::vsnprintf(text, sizeof text, format, args);
        g_events.printed = text;
        return RES_OK;
    }
    static RTS_RESULT SysTargetGetDeviceName(RTS_WCHAR* buffer, RTS_SIZE* pLength) {
        const char16_t name[] = u"Test D\u00e9vice";
        std::copy(std::begin(name), std::end(name), buffer);
        return RES_OK;
    }
    static RTS_RESULT SysTargetGetAPI(CMApiToResolve* info, RTS_VOID_FCTPTR* ppFunction) {
        std::string name(info->name);
        if (name.rfind("Refused", 0) == 0) return RES_NOTSUPPORTED;
        if (name.rfind("Resolved", 0) != 0) return RES_FAILED;
        *ppFunction = resolved();
        return RES_OK;
    }
};

template <typename F> CMExportEntry service(F function, const char* name) {
    return {reinterpret_cast<RTS_VOID_FCTPTR>(function), name, 0, 0};
}

const CMExportEntry kServices[] = {
    service(Fake::EventCreate, "EventCreate"),
    service(Fake::EventPost2, "EventPost2"),
    service(Fake::EventDelete, "EventDelete"),
    service(Fake::SysOutPrintf, "SysOutPrintf"),
    service(Fake::SysOutVPrintf, "SysOutVPrintf"),
    service(Fake::SysTargetGetDeviceName, "SysTargetGetDeviceName"),
    service(Fake::SysTargetGetOperatingSystemId, "SysTargetGetOperatingSystemId"),
    service(Fake::SysTargetGetProcessorId, "SysTargetGetProcessorId"),
    service(Fake::SysTargetGetAPI, "SysTargetGetAPI"),
    service(Fake::RefusedButExported, "RefusedButExported"),
    {nullptr, nullptr, 0, 0},
};

} // namespace

Events& events() {
    return g_events;
}
void reset() {
    g_events = Events{};
}
const CMExportEntry* exports() {
    return kServices;
}
RTS_VOID_FCTPTR resolved() {
    return reinterpret_cast<RTS_VOID_FCTPTR>(Fake::RefusedButExported);
}

} // namespace testsvc
