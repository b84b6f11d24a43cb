/* In-process semaphores on Windows: a critical section each (recursive by nature). Thread
 * descriptions come from "GetThreadDescription" of "KernelBase.dll", looked up at run time
 * because older systems do not have it. */
#include <windows.h>

#include "cmutils.h"
#include "sys/syssem_os.h"

namespace syssem_os {

namespace {

using PfGetThreadDescription = HRESULT(WINAPI*)(HANDLE, PWSTR*);

HMODULE g_kernelBase = nullptr;
PfGetThreadDescription g_getThreadDescription = nullptr;

} // namespace

RTS_SIZE lock_size() {
    return sizeof(CRITICAL_SECTION);
}

bool lock_init(void* lock) {
    InitializeCriticalSection(static_cast<CRITICAL_SECTION*>(lock));
    return true;
}

void lock_destroy(void* lock) {
    DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(lock));
}
void lock_enter(void* lock) {
    EnterCriticalSection(static_cast<CRITICAL_SECTION*>(lock));
}
void lock_leave(void* lock) {
    LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(lock));
}
bool lock_try(void* lock) {
    return TryEnterCriticalSection(static_cast<CRITICAL_SECTION*>(lock)) != 0;
}

RTS_UI32 current_thread_id() {
    return GetCurrentThreadId();
}

bool descriptions_open() {
    if (g_kernelBase == nullptr) g_kernelBase = LoadLibraryA("KernelBase.dll");
    if (g_kernelBase == nullptr) return false;
    g_getThreadDescription = reinterpret_cast<PfGetThreadDescription>(
        reinterpret_cast<void*>(GetProcAddress(g_kernelBase, "GetThreadDescription")));
    if (g_getThreadDescription != nullptr) return true;
    descriptions_close();
    return false;
}

void descriptions_close() {
    g_getThreadDescription = nullptr;
    if (g_kernelBase != nullptr) FreeLibrary(g_kernelBase);
    g_kernelBase = nullptr;
}

void thread_description(RTS_UI32 threadId, char* name, RTS_SIZE size) {
    if (size == 0) return;
    name[0] = '\0';
    if (g_getThreadDescription == nullptr) return;
    HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, threadId);
    if (thread == nullptr) return;
    PWSTR description = nullptr;
    if (SUCCEEDED(g_getThreadDescription(thread, &description)) && description != nullptr) {
        CMUtlWToStr(reinterpret_cast<const RTS_WCHAR*>(description), name, size);
        LocalFree(description);
    }
    CloseHandle(thread);
}

} // namespace syssem_os
