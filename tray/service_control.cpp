/* SendServiceControlRequest: the whole exchange with the privileged peer, from opening its
 * block to leaving the process semaphore. Nothing is cached between requests; each one opens
 * and closes the block inside "ServiceControlMutex", so requests of several clients never
 * overlap. */
#include "service_control.h"

#include <cstring>

#include "cmplog.h"
#include "cmutils.h"
#include "desktop.h"
#include "syssem.h"
#include "sysmem.h"
#include "sysshm.h"

namespace service_control {

namespace {

constexpr char kOwner[] = "GatewayControl";
constexpr RTS_UI32 kTrayCmpId = 0xFFFF;
constexpr RTS_UI32 kWaitForever = 0xFFFFFFFFu;
/* "ServiceControl", the underscore and the terminating zero, plus one spare byte. */
constexpr RTS_SIZE kNameOverhead = 16;

constexpr Ops kRealOps = {
    SysMemAllocData,     SysMemFreeData,       SysSemProcessEnter,        SysSemProcessLeave,
    SysSharedMemoryOpen, SysSharedMemoryClose, SysSharedMemoryGetPointer, desktop::sleep_ms,
};

const Ops* g_ops = &kRealOps;
const char* g_company = "";
RTS_HANDLE g_mutex = RTS_INVALID_HANDLE;

/* Puts the request in place; the handshake word goes last so the peer never sees half of it. */
void write_request(void* block, RTS_UI32 command, const char* serviceName, RTS_SIZE nameLength) {
    block_word(block, kCommandOffset).store(command, std::memory_order_relaxed);
    std::memcpy(static_cast<char*>(block) + kNameOffset, serviceName, nameLength + 1);
    block_word(block, kHandshakeOffset).store(kHandshakePending, std::memory_order_release);
}

/* Polls the handshake word; false when the peer did not answer within the allowed polls. */
bool wait_for_answer(void* block) {
    for (RTS_UI32 polls = 0;;) {
        g_ops->sleep_ms(kPollMs);
        if (++polls > kMaxPolls) return false;
        if (block_word(block, kHandshakeOffset).load(std::memory_order_acquire) == kHandshakeAnswered)
            return true;
    }
}

/* Steps inside the semaphore once the block is open: write, wait, collect the answer. */
RTS_RESULT exchange(RTS_HANDLE hShm, RTS_UI32 command, const char* serviceName, RTS_SIZE nameLength,
                    RTS_UI32* pState) {
    RTS_RESULT pointerResult = RES_OK;
    void* block = g_ops->shm_pointer(hShm, &pointerResult);
    if (block == nullptr) return pointerResult != RES_OK ? pointerResult : RES_FAILED;
    write_request(block, command, serviceName, nameLength);
    if (!wait_for_answer(block)) return RES_FAILED;
    if (pointerResult != RES_OK) return pointerResult;
    const RTS_RESULT peerResult = block_word(block, kResultOffset).load(std::memory_order_relaxed);
    if (peerResult == RES_OK && pState != nullptr)
        *pState = block_word(block, kNameOffset).load(std::memory_order_relaxed);
    return peerResult;
}

} // namespace

void bind(const char* companyString, RTS_HANDLE hMutex) {
    g_company = companyString != nullptr ? companyString : "";
    g_mutex = hMutex;
}

void set_ops(const Ops* ops) {
    g_ops = ops != nullptr ? ops : &kRealOps;
}

} // namespace service_control

extern "C" RTS_RESULT SendServiceControlRequest(RTS_UI32 command, const char* serviceName, RTS_UI32* pState) {
    using namespace service_control;
    if (serviceName == nullptr) return RES_PARAMETER;
    const RTS_SIZE nameLength = std::strlen(serviceName);
    if (nameLength > kMaxNameLength) return RES_PARAMETER;

    const RTS_SIZE blockNameSize = std::strlen(g_company) + kNameOverhead;
    auto* blockName = static_cast<char*>(g_ops->alloc(kOwner, blockNameSize, nullptr));
    if (blockName == nullptr) return RES_NOMEMORY;
    CMUtlsnprintf(blockName, blockNameSize, "%s_%s", kBlockNamePrefix, g_company);

    g_ops->sem_enter(g_mutex, kWaitForever);
    RTS_SIZE size = kBlockSize;
    RTS_RESULT openResult = RES_FAILED;
    RTS_HANDLE hShm = g_ops->shm_open(blockName, 0, &size, &openResult);
    if (hShm == RTS_INVALID_HANDLE || openResult != RES_OK) {
        LogAdd(0, kTrayCmpId, LOG_ERROR, 0, 0, "Shared memory (%s) failed to open!", blockName);
        g_ops->shm_close(hShm);
        g_ops->free(kOwner, blockName);
        g_ops->sem_leave(g_mutex);
        return RES_FAILED;
    }
    g_ops->free(kOwner, blockName);

    RTS_RESULT result = exchange(hShm, command, serviceName, nameLength, pState);
    g_ops->shm_close(hShm);
    g_ops->sem_leave(g_mutex);
    return result;
}
