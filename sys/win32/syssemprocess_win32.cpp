/* Semaphores between processes on Windows: named mutexes. New mutexes carry a security
 * descriptor whose access list grants every authenticated user all rights on a mutex, so a
 * service and a desktop program can share one. */
#include <windows.h>

#include "sys/syssemprocess_os.h"

namespace {

constexpr DWORD kMutexAllAccess = 0x1F0001;

SECURITY_DESCRIPTOR g_descriptor;
PACL g_acl = nullptr; /* present only after a complete set-up */

/* The access list: one entry for the authenticated users, sized as the identifier plus 16. */
PACL build_acl() {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&nt, 1, SECURITY_AUTHENTICATED_USER_RID, 0, 0, 0, 0, 0, 0, 0, &sid))
        return nullptr;
    const DWORD size = GetLengthSid(sid) + 16;
    auto acl = static_cast<PACL>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    bool ok = acl != nullptr && InitializeAcl(acl, size, ACL_REVISION) &&
              AddAccessAllowedAce(acl, ACL_REVISION, kMutexAllAccess, sid);
    FreeSid(sid);
    if (!ok && acl != nullptr) {
        HeapFree(GetProcessHeap(), 0, acl);
        acl = nullptr;
    }
    return acl;
}

} // namespace

namespace syssemprocess_os {

bool security_init() {
    PACL acl = build_acl();
    if (acl == nullptr) return false;
    if (!InitializeSecurityDescriptor(&g_descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&g_descriptor, TRUE, acl, FALSE)) {
        HeapFree(GetProcessHeap(), 0, acl);
        return false;
    }
    g_acl = acl;
    return true;
}

void security_exit() {
    if (g_acl != nullptr) HeapFree(GetProcessHeap(), 0, g_acl);
    g_acl = nullptr;
}

void* mutex_create(const char* globalName, bool* pExisted) {
    SECURITY_ATTRIBUTES sa{sizeof(SECURITY_ATTRIBUTES), &g_descriptor, FALSE};
    HANDLE h = CreateMutexA(g_acl != nullptr ? &sa : nullptr, FALSE, globalName);
    *pExisted = h != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
    return h;
}

bool mutex_close(void* mutex) {
    return CloseHandle(mutex) != 0;
}

/* The handles are the system's own; nothing is kept for deleted ones. */
void release_free_handles() {}

Outcome mutex_enter(void* mutex, RTS_UI32 timeoutMs) {
    switch (WaitForSingleObject(mutex, timeoutMs == 0xFFFFFFFFu ? INFINITE : timeoutMs)) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:
            return Outcome::ok;
        case WAIT_TIMEOUT:
            return Outcome::timeout;
        default:
            return Outcome::bad_handle;
    }
}

Outcome mutex_leave(void* mutex) {
    if (ReleaseMutex(mutex)) return Outcome::ok;
    return GetLastError() == ERROR_NOT_OWNER ? Outcome::not_owner : Outcome::bad_handle;
}

} // namespace syssemprocess_os
