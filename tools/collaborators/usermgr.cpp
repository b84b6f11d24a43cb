// The user management (component "DevUserMgr"): every session holds every right unless a test
// refused one on an object; objects are a list of names whose handle is the name's node.
#include <algorithm>
#include <cstring>
#include <list>
#include <mutex>
#include <set>
#include <utility>

#include "cm/rts_common.h"
#include "collaborators.h"
#include "collaborators_internal.h"

namespace collab {
namespace {

std::mutex g_lock;
std::set<std::pair<std::string, RTS_UI32>> g_denied;
std::list<std::string> g_objects;

const CMExportEntry kExports[] = {
    CM_EXPORT(UserMgrHasAccessRights), CM_EXPORT(UserMgrAddOnlineAccessError),
    CM_EXPORT(UserMgrObjectAdd),       CM_EXPORT(UserMgrObjectSetUsedRights),
    CM_EXPORT(UserMgrObjectOpen),      CM_EXPORT(UserMgrObjectRemove),
    {nullptr, nullptr, 0, 0},
};

RTS_HANDLE find_object(const char* object) {
    auto it = std::find(g_objects.begin(), g_objects.end(), object);
    return it == g_objects.end() ? RTS_INVALID_HANDLE : &*it;
}

} // namespace

RTS_RESULT DevUserMgr__Entry(ComponentInitRecord* pInit) {
    return entry<kUserMgrCmpId, kExports>(pInit);
}

void deny(const std::string& object, RTS_UI32 rights) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_denied.emplace(object, rights);
}

void reset_rights() {
    std::lock_guard<std::mutex> guard(g_lock);
    g_denied.clear();
}

std::vector<std::string> user_objects() {
    std::lock_guard<std::mutex> guard(g_lock);
    return {g_objects.begin(), g_objects.end()};
}

} // namespace collab

using collab::g_lock;

extern "C" RTS_RESULT UserMgrHasAccessRights(const char* object, RTS_UI32 sessionId, RTS_UI32 rights) {
    if (object == nullptr) return RES_PARAMETER;
    std::lock_guard<std::mutex> guard(g_lock);
    return collab::g_denied.count({object, rights}) != 0 ? RES_NO_ACCESS : RES_OK;
}

extern "C" RTS_RESULT UserMgrAddOnlineAccessError(BTagWriter* pWriter, const char* object, RTS_UI32 rights,
                                                  RTS_UI32 sessionId) {
    if (pWriter == nullptr || object == nullptr) return RES_PARAMETER;
    const RTS_UI8 head[6] = {RES_NO_ACCESS,
                             0,
                             static_cast<RTS_UI8>(rights),
                             static_cast<RTS_UI8>(rights >> 8),
                             static_cast<RTS_UI8>(rights >> 16),
                             static_cast<RTS_UI8>(rights >> 24)};
    BTagWriterStartTag(pWriter, USERMGR_TAG_ACCESS_ERROR, BTAG_FLAG_ALIGN4);
    BTagWriterAppendBlob(pWriter, head, sizeof head);
    BTagWriterAppendBlob(pWriter, object, static_cast<RTS_UI32>(std::strlen(object) + 1));
    return BTagWriterEndTag(pWriter, USERMGR_TAG_ACCESS_ERROR);
}

extern "C" RTS_HANDLE UserMgrObjectAdd(const char* object, RTS_RESULT* pResult) {
    if (object == nullptr) return rts::report(pResult, RES_PARAMETER, RTS_INVALID_HANDLE);
    std::lock_guard<std::mutex> guard(g_lock);
    RTS_HANDLE h = collab::find_object(object);
    if (h == RTS_INVALID_HANDLE) h = &collab::g_objects.emplace_back(object);
    return rts::report(pResult, RES_OK, h);
}

extern "C" RTS_RESULT UserMgrObjectSetUsedRights(RTS_HANDLE hObject, RTS_UI32) {
    return hObject == RTS_INVALID_HANDLE || hObject == nullptr ? RES_PARAMETER : RES_OK;
}

extern "C" RTS_HANDLE UserMgrObjectOpen(const char* object, RTS_RESULT* pResult) {
    std::lock_guard<std::mutex> guard(g_lock);
    RTS_HANDLE h = object != nullptr ? collab::find_object(object) : RTS_INVALID_HANDLE;
    return rts::report(pResult, h == RTS_INVALID_HANDLE ? RES_NO_OBJECT : RES_OK, h);
}

extern "C" RTS_RESULT UserMgrObjectRemove(RTS_HANDLE hObject) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto& objects = collab::g_objects;
    auto it =
        std::find_if(objects.begin(), objects.end(), [&](const std::string& s) { return &s == hObject; });
    if (it == objects.end()) return RES_NO_OBJECT;
    objects.erase(it);
    return RES_OK;
}
