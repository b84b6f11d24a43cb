// The communication server (component "DevServer"): one handler per service group; a request
// goes to its group's handler with a fresh answer buffer, and the answer the handler finishes
// is what the client receives.
#include <map>
#include <mutex>

#include "collaborators.h"
#include "collaborators_internal.h"

namespace collab {
namespace {

std::mutex g_lock;
std::map<RTS_UI32, PF_SERVER_HANDLER> g_handlers;

// The request being served: its channel, the buffer the handler was given, what it sent.
struct Pending {
    RTS_UI32 channel = 0;
    ServerBuffer given{};
    Answer* answer = nullptr;
} g_pending;
RTS_UI32 g_nextChannel = 1;

const CMExportEntry kExports[] = {
    CM_EXPORT(ServerRegisterServiceHandler),
    CM_EXPORT(ServerUnRegisterServiceHandler),
    CM_EXPORT(ServerFinishRequest),
    {nullptr, nullptr, 0, 0},
};

PF_SERVER_HANDLER handler_of(RTS_UI32 group) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_handlers.find(group);
    return it == g_handlers.end() ? nullptr : it->second;
}

} // namespace

RTS_RESULT DevServer__Entry(ComponentInitRecord* pInit) {
    return entry<kServerCmpId, kExports>(pInit);
}

// Requests are served one at a time, on the caller's thread.
Answer server_request(RTS_UI16 group, RTS_UI16 command, RTS_UI32 session,
                      const std::vector<std::uint8_t>& data, RTS_UI32 answerSize, RTS_UI32 contentSize) {
    Answer answer;
    PF_SERVER_HANDLER handler = handler_of(group);
    if (handler == nullptr) return answer.result = RES_NO_OBJECT, answer;
    std::vector<std::uint8_t> request(data), buffer(answerSize);
    ServerRequestHeader header{group, command, session, contentSize};
    ServerBuffer in{request.data(), static_cast<RTS_UI32>(request.size())};
    ServerBuffer out{buffer.data(), answerSize};
    g_pending = Pending{g_nextChannel++, out, &answer};
    answer.result = handler(g_pending.channel, &header, &in, &out);
    g_pending = Pending{};
    return answer;
}

} // namespace collab

using collab::g_handlers;
using collab::g_lock;
using collab::g_pending;

extern "C" RTS_RESULT ServerRegisterServiceHandler(RTS_UI32 serviceGroup, PF_SERVER_HANDLER handler) {
    if (handler == nullptr) return RES_PARAMETER;
    std::lock_guard<std::mutex> guard(g_lock);
    return g_handlers.emplace(serviceGroup, handler).second ? RES_OK : RES_DUPLICATE;
}

extern "C" RTS_RESULT ServerUnRegisterServiceHandler(RTS_UI32 serviceGroup, PF_SERVER_HANDLER handler) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_handlers.find(serviceGroup);
    if (it == g_handlers.end() || it->second != handler) return RES_NO_OBJECT;
    g_handlers.erase(it);
    return RES_OK;
}

extern "C" RTS_RESULT ServerFinishRequest(RTS_UI32 channelId, ServerBuffer* pAnswer) {
    if (pAnswer == nullptr || g_pending.answer == nullptr || channelId != g_pending.channel)
        return RES_PARAMETER;
    collab::Answer& a = *g_pending.answer;
    const RTS_UI32 size = pAnswer->size;
    a.sent = true;
    a.overrun = pAnswer->pData != g_pending.given.pData || size > g_pending.given.size;
    const RTS_UI32 kept = size < g_pending.given.size ? size : g_pending.given.size;
    a.bytes.assign(g_pending.given.pData, g_pending.given.pData + kept);
    return RES_OK;
}
