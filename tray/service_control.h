/* The client side of the service-control channel: one request at a time is written into the
 * named shared block of the privileged peer, under the process semaphore "ServiceControlMutex",
 * and the peer's answer is awaited in the same block. */
#ifndef SERVICE_CONTROL_H
#define SERVICE_CONTROL_H

#include "rts_types.h"
#include "service_control_block.h"

RTS_BEGIN_C

/* Sends one request (service_control::kCommandStart, kCommandStop or kCommandQuery) for the
 * named service and waits up to about 5 s for the peer's answer.
 * Returns the peer's result word; RES_FAILED without a peer or without an answer in time;
 * RES_NOMEMORY when the block name cannot be allocated. A null name or a name longer than
 * 511 characters (the block's name area) is refused with RES_PARAMETER before anything is
 * written. *pState (optional) receives the state word when the peer answered with result 0. */
RTS_RESULT SendServiceControlRequest(RTS_UI32 command, const char* serviceName, RTS_UI32* pState);

RTS_END_C

namespace service_control {

/* Ties the channel to the program's company string (suffix of the block name, kept by the
 * caller for the program's lifetime) and to the handle of "ServiceControlMutex". */
void bind(const char* companyString, RTS_HANDLE hMutex);

/* The calls a request makes outside this unit. The program uses the framework's functions;
 * tests put fakes in place with set_ops (null restores the real ones). */
struct Ops {
    void* (*alloc)(const char* owner, RTS_SIZE size, RTS_RESULT* pResult);
    RTS_RESULT (*free)(const char* owner, void* address);
    RTS_RESULT (*sem_enter)(RTS_HANDLE hSem, RTS_UI32 timeoutMs);
    RTS_RESULT (*sem_leave)(RTS_HANDLE hSem);
    RTS_HANDLE(*shm_open)
    (const char* name, RTS_UINTPTR physicalAddress, RTS_SIZE* pSize, RTS_RESULT* pResult);
    RTS_RESULT (*shm_close)(RTS_HANDLE hShm);
    void* (*shm_pointer)(RTS_HANDLE hShm, RTS_RESULT* pResult);
    void (*sleep_ms)(RTS_UI32 ms);
};
void set_ops(const Ops* ops);

/* The name with its terminator fills at most the name area. */
constexpr RTS_SIZE kMaxNameLength = kNameArea - 1;
/* The handshake word is read at most this often, each read after a sleep of kPollMs. */
constexpr RTS_UI32 kMaxPolls = 500;
constexpr RTS_UI32 kPollMs = 10;

} // namespace service_control

#endif
