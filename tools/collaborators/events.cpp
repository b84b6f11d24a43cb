// The event service (component "DevEvents"): every event can be opened by its class and the id of
// the component that provides it; a post hands the parameter record to the listener a test or
// tool set for that event and to the callbacks components registered on it, each of which may
// change its fields.
#include <functional>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "cm/rts_common.h"
#include "collaborators.h"
#include "collaborators_internal.h"

namespace collab {
namespace {

using Key = RTS_UINTPTR; // an event's handle: the component id above the class
std::mutex g_lock;
std::map<Key, std::function<void(void*)>> g_listeners;
std::map<Key, std::vector<std::pair<PF_EVENT_CALLBACK, void*>>> g_callbacks;

Key key(RTS_UI32 cmpId, RTS_UI32 eventClass) {
    return static_cast<Key>(cmpId) << 24 | eventClass;
}

const CMExportEntry kExports[] = {
    CM_EXPORT(EventOpen),
    CM_EXPORT(EventClose),
    CM_EXPORT(EventPost2),
    CM_EXPORT(EventRegisterCallbackFunction),
    CM_EXPORT(EventUnregisterCallbackFunction),
    {nullptr, nullptr, 0, 0},
};

} // namespace

RTS_RESULT DevEvents__Entry(ComponentInitRecord* pInit) {
    return entry<kEventsCmpId, kExports>(pInit);
}

void listen(RTS_UI32 cmpId, RTS_UI32 eventClass, std::function<void(void*)> listener) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (listener)
        g_listeners[key(cmpId, eventClass)] = std::move(listener);
    else
        g_listeners.erase(key(cmpId, eventClass));
}

void reset_listeners() {
    std::lock_guard<std::mutex> guard(g_lock);
    g_listeners.clear();
}

RTS_RESULT post(RTS_UI32 cmpId, RTS_UI32 eventClass, void* param) {
    return EventPost2(reinterpret_cast<RTS_HANDLE>(key(cmpId, eventClass)), eventClass, 1, param);
}

} // namespace collab

extern "C" RTS_HANDLE EventOpen(RTS_UI32 eventClass, RTS_UI32 cmpId, RTS_RESULT* pResult) {
    if (eventClass > 0xFFFFFFu) return rts::report(pResult, RES_PARAMETER, RTS_INVALID_HANDLE);
    return rts::report(pResult, RES_OK, reinterpret_cast<RTS_HANDLE>(collab::key(cmpId, eventClass)));
}

extern "C" RTS_RESULT EventClose(RTS_HANDLE) {
    return RES_OK;
}

extern "C" RTS_RESULT EventPost2(RTS_HANDLE hEvent, RTS_UI32 paramId, RTS_UI32 version, void* pParam) {
    std::function<void(void*)> listener;
    std::vector<std::pair<PF_EVENT_CALLBACK, void*>> callbacks;
    {
        std::lock_guard<std::mutex> guard(collab::g_lock);
        const auto k = reinterpret_cast<collab::Key>(hEvent);
        if (auto it = collab::g_listeners.find(k); it != collab::g_listeners.end()) listener = it->second;
        if (auto it = collab::g_callbacks.find(k); it != collab::g_callbacks.end()) callbacks = it->second;
    }
    if (listener) listener(pParam);
    const auto eventClass = static_cast<RTS_UI32>(reinterpret_cast<collab::Key>(hEvent) & 0xFFFFFFu);
    EventParam param{eventClass, paramId, version, pParam};
    for (const auto& [callback, user] : callbacks) callback(&param, user);
    return RES_OK;
}

extern "C" RTS_RESULT EventRegisterCallbackFunction(RTS_HANDLE hEvent, PF_EVENT_CALLBACK pfCallback,
                                                    void* pUserParameter) {
    if (pfCallback == nullptr) return RES_PARAMETER;
    std::lock_guard<std::mutex> guard(collab::g_lock);
    collab::g_callbacks[reinterpret_cast<collab::Key>(hEvent)].emplace_back(pfCallback, pUserParameter);
    return RES_OK;
}

extern "C" RTS_RESULT EventUnregisterCallbackFunction(RTS_HANDLE hEvent, PF_EVENT_CALLBACK pfCallback,
                                                      void* pUserParameter) {
    std::lock_guard<std::mutex> guard(collab::g_lock);
    auto& list = collab::g_callbacks[reinterpret_cast<collab::Key>(hEvent)];
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->first == pfCallback && it->second == pUserParameter) return list.erase(it), RES_OK;
    }
    return RES_NO_OBJECT;
}
