/* The service-control block as both of its ends see it: the client in the program and the
 * privileged peer that creates the block and carries the requests out. One request at a time
 * sits in it (the clients take turns through "ServiceControlMutex"): the client writes command
 * and name and then the pending mark, the peer writes result (and state) and then the answered
 * mark. Every word is one 32-bit access; the marks order the rest. Also the Windows error codes
 * the peers answer with, under the names the Windows SDK gives them. */
#ifndef SERVICE_CONTROL_BLOCK_H
#define SERVICE_CONTROL_BLOCK_H

#include <atomic>

#include "rts_types.h"

#ifdef _WIN32
#include <winerror.h>
#else
/* The same numbers where the SDK header does not exist. */
constexpr RTS_UI32 ERROR_INVALID_FUNCTION = 1;
constexpr RTS_UI32 ERROR_INVALID_NAME = 123;
constexpr RTS_UI32 ERROR_SERVICE_ALREADY_RUNNING = 1056;
constexpr RTS_UI32 ERROR_SERVICE_DOES_NOT_EXIST = 1060;
constexpr RTS_UI32 ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061;
constexpr RTS_UI32 ERROR_SERVICE_NOT_ACTIVE = 1062;
#endif

namespace service_control {

/* "ServiceControl_" + the company string. */
constexpr char kBlockNamePrefix[] = "ServiceControl";

/* Layout: 12 bytes of header, then the name area; a query's answer puts the state word over
 * the first four bytes of the name. */
constexpr RTS_SIZE kBlockSize = 524;
constexpr RTS_SIZE kHandshakeOffset = 0;
constexpr RTS_SIZE kCommandOffset = 4;
constexpr RTS_SIZE kResultOffset = 8;
constexpr RTS_SIZE kNameOffset = 12;
constexpr RTS_SIZE kNameArea = kBlockSize - kNameOffset;

/* Values of the handshake word; any other value is neither. */
constexpr RTS_UI32 kHandshakePending = 1;
constexpr RTS_UI32 kHandshakeAnswered = 3;

/* Commands. */
constexpr RTS_UI32 kCommandStart = 1;
constexpr RTS_UI32 kCommandStop = 2;
constexpr RTS_UI32 kCommandQuery = 3;

/* Service states of a query's answer: the service control manager's current-state values. */
constexpr RTS_UI32 kStateStopped = 1;
constexpr RTS_UI32 kStateStartPending = 2;
constexpr RTS_UI32 kStateStopPending = 3;
constexpr RTS_UI32 kStateRunning = 4;

/* The 32-bit word at offset in a mapped block. */
inline std::atomic_ref<RTS_UI32> block_word(void* block, RTS_SIZE offset) {
    return std::atomic_ref<RTS_UI32>(*reinterpret_cast<RTS_UI32*>(static_cast<char*>(block) + offset));
}

} // namespace service_control

#endif
