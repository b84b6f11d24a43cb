// The event service (component "DevEvents"): every event can be opened, by its class and
// component, and a post hands the parameter record to the listener a test or tool set for that
// class, which may change its fields.
#include <functional>
#include <map>
#include <mutex>

#include "cm/rts_common.h"
#include "collaborators.h"
#include "collaborators_internal.h"

namespace collab {
namespace {

std::mutex g_lock;
std::map<RTS_UI32, std::function<void(void*)>> g_listeners;

const CMExportEntry kExports[] = {
    CM_EXPORT(EventOpen),
    CM_EXPORT(EventClose),
    CM_EXPORT(EventPost2),
    {nullptr, nullptr, 0, 0},
};

} // namespace

RTS_RESULT DevEvents__Entry(ComponentInitRecord* pInit) {
    return entry<kEventsCmpId, kExports>(pInit);
}

void listen(RTS_UI32 eventClass, std::function<void(void*)> listener) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (listener)
        g_listeners[eventClass] = std::move(listener);
    else
        g_listeners.erase(eventClass);
}

void reset_listeners() {
    std::lock_guard<std::mutex> guard(g_lock);
    g_listeners.clear();
}

} // namespace collab

// An event's handle carries its class.
extern "C" RTS_HANDLE EventOpen(RTS_UI32 eventClass, RTS_UI32, RTS_RESULT* pResult) {
    return rts::report(pResult, RES_OK, reinterpret_cast<RTS_HANDLE>(static_cast<RTS_UINTPTR>(eventClass)));
}

extern "C" RTS_RESULT EventClose(RTS_HANDLE) {
    return RES_OK;
}

extern "C" RTS_RESULT EventPost2(RTS_HANDLE hEvent, RTS_UI32, RTS_UI32, void* pParam) {
    std::function<void(void*)> listener;
    {
        std::lock_guard<std::mutex> guard(collab::g_lock);
        auto it = collab::g_listeners.find(static_cast<RTS_UI32>(reinterpret_cast<RTS_UINTPTR>(hEvent)));
        if (it != collab::g_listeners.end()) listener = it->second;
    }
    if (listener) listener(pParam);
    return RES_OK;
}
