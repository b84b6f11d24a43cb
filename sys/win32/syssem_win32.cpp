/* In-process semaphores on Windows: a critical section each (recursive by nature, and its
 * calls cannot fail). Thread descriptions come from "GetThreadDescription" of
 * "KernelBase.dll", looked up at run time because older systems do not have it. */
#include <windows.h>

#include "cmutils.h"
#include "sys/syssem_os.h"

namespace {

using PfGetThreadDescription = HRESULT(WINAPI*)(HANDLE, PWSTR*);

HMODULE g_kernelBase = nullptr;
PfGetThreadDescription g_getThreadDescription = nullptr;

CRITICAL_SECTION* section_of(void* lock) {
    return static_cast<CRITICAL_SECTION*>(lock);
}

rts::OsError lock_init(void* lock, const char**) {
    InitializeCriticalSection(section_of(lock));
    return rts::kOsOk;
}

rts::OsError lock_destroy(void* lock, const char**) {
    DeleteCriticalSection(section_of(lock));
    return rts::kOsOk;
}

rts::OsError lock_enter(void* lock, const char**) {
    EnterCriticalSection(section_of(lock));
    return rts::kOsOk;
}

rts::OsError lock_leave(void* lock, const char**) {
    LeaveCriticalSection(section_of(lock));
    return rts::kOsOk;
}

rts::OsError lock_try(void* lock, bool* pTaken, const char**) {
    *pTaken = TryEnterCriticalSection(section_of(lock)) != 0;
    return rts::kOsOk;
}

RTS_UI32 current_thread_id() {
    return GetCurrentThreadId();
}

rts::OsError descriptions_close(const char** pCall) {
    g_getThreadDescription = nullptr;
    HMODULE library = g_kernelBase;
    g_kernelBase = nullptr;
    if (library != nullptr && !FreeLibrary(library))
        return sys_os::failed("FreeLibrary", GetLastError(), pCall);
    return rts::kOsOk;
}

rts::OsError descriptions_open(const char** pCall) {
    if (g_kernelBase == nullptr) g_kernelBase = LoadLibraryA("KernelBase.dll");
    if (g_kernelBase == nullptr) return sys_os::failed("LoadLibraryA", GetLastError(), pCall);
    g_getThreadDescription = reinterpret_cast<PfGetThreadDescription>(
        reinterpret_cast<void*>(GetProcAddress(g_kernelBase, "GetThreadDescription")));
    if (g_getThreadDescription != nullptr) return rts::kOsOk;
    const rts::OsError error = sys_os::failed("GetProcAddress", GetLastError(), pCall);
    const char* ignored = nullptr;
    descriptions_close(&ignored);
    return error;
}

rts::OsError thread_description(RTS_UI32 threadId, char* name, RTS_SIZE size, const char** pCall) {
    name[0] = '\0';
    if (g_getThreadDescription == nullptr) return rts::kOsOk;
    HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, threadId);
    if (thread == nullptr) return sys_os::failed("OpenThread", GetLastError(), pCall);
    PWSTR description = nullptr;
    const HRESULT hr = g_getThreadDescription(thread, &description);
    if (SUCCEEDED(hr) && description != nullptr) {
        CMUtlWToStr(reinterpret_cast<const RTS_WCHAR*>(description), name, size);
        LocalFree(description);
    }
    CloseHandle(thread);
    return FAILED(hr) ? sys_os::failed("GetThreadDescription", static_cast<rts::OsError>(hr), pCall)
                      : rts::kOsOk;
}

constexpr syssem_os::Calls kCalls = {
    sizeof(CRITICAL_SECTION), lock_init,         lock_destroy,       lock_enter,         lock_leave, lock_try,
    current_thread_id,        descriptions_open, descriptions_close, thread_description,
};

} // namespace

const syssem_os::Calls& syssem_os::platform_calls() {
    return kCalls;
}
