// The collaborators' component ids and entries, for the list that starts them.
#pragma once

#include "cm.h"

namespace collab {

constexpr RTS_UI32 kShellCmpId = 0x7F01;
constexpr RTS_UI32 kServerCmpId = 0x7F02;
constexpr RTS_UI32 kTagsCmpId = 0x7F03;
constexpr RTS_UI32 kUserMgrCmpId = 0x7F04;
constexpr RTS_UI32 kEventsCmpId = 0x7F05;
constexpr RTS_UI32 kPackagesCmpId = 0x7F06;

RTS_RESULT DevShell__Entry(ComponentInitRecord* pInit);
RTS_RESULT DevServer__Entry(ComponentInitRecord* pInit);
RTS_RESULT DevTags__Entry(ComponentInitRecord* pInit);
RTS_RESULT DevUserMgr__Entry(ComponentInitRecord* pInit);
RTS_RESULT DevEvents__Entry(ComponentInitRecord* pInit);
RTS_RESULT DevPackages__Entry(ComponentInitRecord* pInit);

// Answers RES_OK to every hook: the collaborators keep no state bound to the start-up.
inline RTS_RESULT ignore_hooks(RTS_UI32, RTS_UINTPTR, RTS_UINTPTR) {
    return RES_OK;
}

// The entry of a collaborator: its id and its export table.
template <RTS_UI32 CmpId, const CMExportEntry* Exports> RTS_RESULT entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(
        pInit, CmpId, [] { return CMRegisterAPI(Exports, 0, 0, CmpId); }, nullptr, CMComponentVersion,
        ignore_hooks);
}

} // namespace collab
