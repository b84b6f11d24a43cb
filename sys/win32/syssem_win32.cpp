/* In-process semaphores on Windows: a critical section each (recursive by nature). */
#include <windows.h>

#include "sys/syssem_os.h"

namespace syssem_os {

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

} // namespace syssem_os
