/* The serving side of the service-control channel, shared by the POSIX peer (scpeer) and the
 * Windows peer (ServiceControlPeer.exe): it owns the shared block, watches its handshake word
 * and answers each request through a backend that knows the services. The misbehaviour
 * switches let process-level tests put a broken peer in front of the clients on purpose. */
#ifndef PEER_H
#define PEER_H

#include <atomic>
#include <string>

#include "rts_types.h"
#include "service_control_block.h"

namespace peer {

/* Result words are the service control manager's error codes: ERROR_INVALID_FUNCTION for a
 * command that is not start, stop or query, ERROR_INVALID_NAME for a name area without a
 * terminating zero, and whatever the backend answers. */

/* Exit code of a peer that ends in the middle of a request on purpose. */
constexpr int kDiedExitCode = 3;

/* Carries out requests on services; each call returns the result word (0 = done). */
class Backend {
public:
    virtual ~Backend() = default;
    virtual RTS_UI32 start(const char* name) = 0;
    virtual RTS_UI32 stop(const char* name) = 0;
    /* Fills *pState (1 stopped, 2 start pending, 3 stop pending, 4 running) on success. */
    virtual RTS_UI32 query(const char* name, RTS_UI32* pState) = 0;
};

/* Ways to break the protocol on purpose; the defaults make a well-behaved peer. */
struct Misbehaviour {
    bool silent = false;      /* never answers */
    bool answerEarly = false; /* writes the answered mark before result and state */
    bool forceResult = false; /* every request is answered with forcedResult */
    RTS_UI32 forcedResult = 0;
    bool forceState = false; /* every query is answered with result 0 and forcedState */
    RTS_UI32 forcedState = 0;
    RTS_UI32 answeredMark = service_control::kHandshakeAnswered; /* never kHandshakePending */
    RTS_UI32 dieAtRequest = 0; /* ends the process while handling this request (1 = first) */
};

struct Options {
    std::string company = "Ombrelin"; /* block "ServiceControl_" + company */
    RTS_UI32 pollUs = 250; /* pause between two looks at the handshake word while a client is about */
    RTS_UI32 idleMs = 50;  /* longest sleep of an idle peer that is told when the block is opened */
    bool verbose = false;  /* one line per request on standard output */
    Misbehaviour misbehave;
};

/* Reads the switch at argv[i] if it is one of the common ones. Returns the number of words
 * it took (1 or 2), 0 when argv[i] is not a common switch, -1 when its value is bad. */
int parse_common_switch(int argc, char** argv, int i, Options& options);

/* Help text of the common switches, one per line. */
extern const char* const kCommonSwitchHelp;

/* Answers the pending request in the block: reads command and name, asks the
 * backend, writes result (and state for a query), then the answered mark. requestNumber
 * counts the requests of this peer from 1 (for dieAtRequest). */
void answer(void* block, Backend& backend, const Options& options, RTS_UI32 requestNumber);

/* Starts the framework, claims the block and answers requests until stop becomes true, then
 * removes the block and shuts the framework down. onReady runs once the block is served.
 * Returns 0, or 1 when the framework or the block could not be had (reason on stderr). */
int serve(Backend& backend, const Options& options, const std::atomic<bool>& stop,
          void (*onReady)(void* context) = nullptr, void* context = nullptr);

} // namespace peer

#endif
