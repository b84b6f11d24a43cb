/* Semaphores between processes on Windows: named mutexes. New mutexes carry a security
 * descriptor whose access list grants every authenticated user all rights on a mutex, so a
 * service and a desktop program can share one. */
#include <windows.h>

#include "sys/syssemprocess_os.h"

namespace {

SECURITY_DESCRIPTOR g_descriptor;
PACL g_acl = nullptr; /* present only after a complete set-up */

/* An access list of one allowed entry: the list header, the entry, and the identifier in
 * place of the entry's first identifier word. */
DWORD acl_size(PSID sid) {
    return sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(ACCESS_ALLOWED_ACE::SidStart) +
           GetLengthSid(sid);
}

/* The access list: one entry that gives the authenticated users every right on a mutex. */
rts::OsError build_acl(PACL* pAcl, const char** pCall) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&nt, 1, SECURITY_AUTHENTICATED_USER_RID, 0, 0, 0, 0, 0, 0, 0, &sid))
        return sys_os::failed("AllocateAndInitializeSid", GetLastError(), pCall);
    const DWORD size = acl_size(sid);
    auto acl = static_cast<PACL>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    rts::OsError error = rts::kOsOk;
    if (acl == nullptr) {
        error = sys_os::failed("HeapAlloc", ERROR_NOT_ENOUGH_MEMORY, pCall);
    } else if (!InitializeAcl(acl, size, ACL_REVISION)) {
        error = sys_os::failed("InitializeAcl", GetLastError(), pCall);
    } else if (!AddAccessAllowedAce(acl, ACL_REVISION, MUTEX_ALL_ACCESS, sid)) {
        error = sys_os::failed("AddAccessAllowedAce", GetLastError(), pCall);
    }
    FreeSid(sid);
    if (error != rts::kOsOk && acl != nullptr) HeapFree(GetProcessHeap(), 0, acl);
    *pAcl = error == rts::kOsOk ? acl : nullptr;
    return error;
}

rts::OsError security_init(const char** pCall) {
    PACL acl = nullptr;
    if (const rts::OsError error = build_acl(&acl, pCall)) return error;
    rts::OsError error = rts::kOsOk;
    if (!InitializeSecurityDescriptor(&g_descriptor, SECURITY_DESCRIPTOR_REVISION)) {
        error = sys_os::failed("InitializeSecurityDescriptor", GetLastError(), pCall);
    } else if (!SetSecurityDescriptorDacl(&g_descriptor, TRUE, acl, FALSE)) {
        error = sys_os::failed("SetSecurityDescriptorDacl", GetLastError(), pCall);
    }
    if (error != rts::kOsOk) {
        HeapFree(GetProcessHeap(), 0, acl);
        return error;
    }
    g_acl = acl;
    return rts::kOsOk;
}

rts::OsError security_exit(const char** pCall) {
    PACL acl = g_acl;
    g_acl = nullptr;
    if (acl != nullptr && !HeapFree(GetProcessHeap(), 0, acl))
        return sys_os::failed("HeapFree", GetLastError(), pCall);
    return rts::kOsOk;
}

rts::OsError mutex_create(const char* globalName, void** pMutex, bool* pExisted, const char** pCall) {
    SECURITY_ATTRIBUTES sa{sizeof(SECURITY_ATTRIBUTES), &g_descriptor, FALSE};
    HANDLE h = CreateMutexA(g_acl != nullptr ? &sa : nullptr, FALSE, globalName);
    if (h == nullptr) return sys_os::failed("CreateMutexA", GetLastError(), pCall);
    *pExisted = GetLastError() == ERROR_ALREADY_EXISTS;
    *pMutex = h;
    return rts::kOsOk;
}

rts::OsError mutex_close(void* mutex, const char** pCall) {
    return CloseHandle(mutex) ? rts::kOsOk : sys_os::failed("CloseHandle", GetLastError(), pCall);
}

/* The time-out's "no limit" value is INFINITE itself. */
rts::OsError mutex_enter(void* mutex, RTS_UI32 timeoutMs, bool* pEntered, const char** pCall) {
    static_assert(INFINITE == 0xFFFFFFFFu);
    const DWORD outcome = WaitForSingleObject(mutex, timeoutMs);
    if (outcome == WAIT_FAILED) return sys_os::failed("WaitForSingleObject", GetLastError(), pCall);
    *pEntered = outcome == WAIT_OBJECT_0 || outcome == WAIT_ABANDONED;
    return rts::kOsOk;
}

rts::OsError mutex_leave(void* mutex, const char** pCall) {
    return ReleaseMutex(mutex) ? rts::kOsOk : sys_os::failed("ReleaseMutex", GetLastError(), pCall);
}

bool not_owner(rts::OsError error) {
    return error == ERROR_NOT_OWNER;
}

/* The handles are the system's own; nothing is kept for deleted ones. */
void release_free_handles() {}

constexpr syssemprocess_os::Calls kCalls = {
    security_init, security_exit, mutex_create, mutex_close,
    mutex_enter,   mutex_leave,   not_owner,    release_free_handles,
};

} // namespace

const syssemprocess_os::Calls& syssemprocess_os::platform_calls() {
    return kCalls;
}
