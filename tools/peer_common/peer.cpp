/* The block handling of both peers: claiming the service-control block, the serving loop and
 * the answer to one request. Only one peer serves a block at a time; it proves that by holding
 * the process semaphore "ServiceControlPeer_<company>" for its lifetime, so a block found at
 * start while that semaphore was free can only be the remains of a peer that died. */
#include "peer.h"

#include <cassert>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "arguments.h"
#include "cm.h"
#include "peer_os.h"
#include "syssem.h"
#include "sysshm.h"

namespace peer {

namespace {

using namespace service_control;

/* How long an early answer leaves the client looking at a stale result word. */
constexpr RTS_UI32 kEarlyAnswerGapUs = 20000;

/* The request's result word and state after the backend has carried it out. */
struct Outcome {
    RTS_UI32 result;
    RTS_UI32 state;
    bool hasState;
};

Outcome carry_out(Backend& backend, RTS_UI32 command, const char* name) {
    Outcome outcome{0, 0, false};
    switch (command) {
        case kCommandStart:
            outcome.result = backend.start(name);
            break;
        case kCommandStop:
            outcome.result = backend.stop(name);
            break;
        case kCommandQuery:
            outcome.result = backend.query(name, &outcome.state);
            outcome.hasState = outcome.result == 0;
            break;
        default:
            outcome.result = ERROR_INVALID_FUNCTION;
            break;
    }
    return outcome;
}

Outcome apply_misbehaviour(Outcome outcome, RTS_UI32 command, const Misbehaviour& m) {
    if (m.forceState && command == kCommandQuery) outcome = Outcome{0, m.forcedState, true};
    if (m.forceResult) outcome = Outcome{m.forcedResult, 0, false};
    return outcome;
}

void write_outcome(void* block, const Outcome& outcome) {
    block_word(block, kResultOffset).store(outcome.result, std::memory_order_relaxed);
    if (outcome.hasState) block_word(block, kNameOffset).store(outcome.state, std::memory_order_relaxed);
}

/* The semaphore that marks the live peer of a block, and the block itself. */
class Claim {
public:
    explicit Claim(const std::string& company)
        : blockName_(std::string(kBlockNamePrefix) + "_" + company),
          mutexName_("ServiceControlPeer_" + company) {}
    ~Claim() {
        if (block_ != RTS_INVALID_HANDLE) SysSharedMemoryClose(block_);
        if (mutex_ != RTS_INVALID_HANDLE) {
            if (entered_) SysSemProcessLeave(mutex_);
            SysSemProcessDelete(mutex_);
        }
    }
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;

    /* The block's address once this process serves it, else null (reason on stderr). */
    void* take() {
        mutex_ = SysSemProcessCreate(mutexName_.c_str(), nullptr);
        entered_ = mutex_ != RTS_INVALID_HANDLE && SysSemProcessEnter(mutex_, 0) == RES_OK;
        if (!entered_) {
            std::fprintf(stderr, "peer: another peer serves %s\n", blockName_.c_str());
            return nullptr;
        }
        RTS_RESULT result = create_block();
        if (result == RES_DUPLICATE) result = take_over_stale_block();
        /* A block that could not be locked in physical memory serves as well. */
        if (block_ == RTS_INVALID_HANDLE || (result != RES_OK && result != RES_NOT_LOCKED)) {
            std::fprintf(stderr, "peer: cannot create %s (result %u)\n", blockName_.c_str(),
                         static_cast<unsigned>(result));
            return nullptr;
        }
        return SysSharedMemoryGetPointer(block_, nullptr);
    }

    const std::string& block_name() const { return blockName_; }

private:
    /* A block found while this process holds the peer lock was left by a peer that died. Where
     * its name can be removed, a fresh block replaces it. Where a name lives as long as any
     * handle (Windows), a client still holds the block open: this peer serves it as it is,
     * including a request that waits in it. */
    RTS_RESULT take_over_stale_block() {
        if (!peer_os::remove_stale_block(blockName_.c_str())) return RES_OK;
        std::fprintf(stderr, "peer: removed %s left by a peer that ended\n", blockName_.c_str());
        SysSharedMemoryClose(block_);
        return create_block();
    }

    RTS_RESULT create_block() {
        RTS_SIZE size = kBlockSize;
        RTS_RESULT result = RES_FAILED;
        block_ = SysSharedMemoryCreate(blockName_.c_str(), 0, &size, &result);
        if (block_ != RTS_INVALID_HANDLE && size != kBlockSize) result = RES_BUFFERSIZE;
        return result;
    }

    std::string blockName_;
    std::string mutexName_;
    RTS_HANDLE mutex_ = RTS_INVALID_HANDLE;
    RTS_HANDLE block_ = RTS_INVALID_HANDLE;
    bool entered_ = false;
};

/* How the peer waits for requests. Every request begins with an open of the block, so where
 * the system reports opens, an idle peer sleeps until one comes (looking anyway every idleMs,
 * for a client that keeps the block open across requests) and then looks every pollUs until it
 * has answered, for at most kOpenSpell. Where opens are not reported, clients still come in
 * spells (the tray asks every 100 ms, the console every 200 ms): the peer looks every pollUs
 * for kBusySpell after a request and every kBlindIdlePauseUs otherwise. */
using Clock = std::chrono::steady_clock;
constexpr auto kOpenSpell = std::chrono::milliseconds(500);
constexpr auto kBusySpell = std::chrono::seconds(1);
constexpr RTS_UI32 kBlindIdlePauseUs = 2000;

bool options_valid(const Options& options) {
    return options.misbehave.answeredMark != kHandshakePending && options.pollUs > 0 && options.idleMs > 0;
}

int serve_block(Backend& backend, const Options& options, const std::atomic<bool>& stop,
                void (*onReady)(void*), void* context) {
    Claim claim(options.company);
    void* block = claim.take();
    if (block == nullptr) return 1;
    peer_os::OpenWatch watch(claim.block_name().c_str());
    std::printf("serving %s\n", claim.block_name().c_str());
    std::fflush(stdout);
    if (onReady != nullptr) onReady(context);

    Clock::time_point lookUntil = Clock::time_point::min();
    RTS_UI32 requests = 0;
    while (!stop.load(std::memory_order_relaxed)) {
        if (!options.misbehave.silent &&
            block_word(block, kHandshakeOffset).load(std::memory_order_acquire) == kHandshakePending) {
            answer(block, backend, options, ++requests);
            lookUntil = watch.active() ? Clock::time_point::min() : Clock::now() + kBusySpell;
        } else if (Clock::now() < lookUntil) {
            peer_os::sleep_us(options.pollUs);
        } else if (!watch.active()) {
            peer_os::sleep_us(kBlindIdlePauseUs);
        } else if (watch.wait_for_open(options.idleMs)) {
            lookUntil = Clock::now() + kOpenSpell;
        }
    }
    return 0;
}

} // namespace

const char* const kCommonSwitchHelp =
    "  --company NAME    serve the block ServiceControl_NAME (default Ombrelin)\n"
    "  --poll-us N       pause between looks at the block while a client is about,\n"
    "                    microseconds (default 250; Windows pauses whole milliseconds)\n"
    "  --idle-ms N       longest sleep while no client is about, where the system tells\n"
    "                    the peer when its block is opened (default 50)\n"
    "  -v, --verbose     print one line per request\n"
    "test switches (a broken peer on purpose):\n"
    "  --silent          never answer\n"
    "  --result N        answer every request with the result word N\n"
    "  --state N         answer every query with result 0 and the state N\n"
    "  --handshake N     write N instead of 3 as the answered mark (N must not be 1)\n"
    "  --answer-early    write the answered mark before the result\n"
    "  --die-at N        end at once in the middle of the N-th request (1 = the first)\n";

int parse_common_switch(int argc, char** argv, int i, Options& options) {
    const std::string_view word = argv[i];
    Misbehaviour& m = options.misbehave;
    if (word == "-v" || word == "--verbose") return options.verbose = true, 1;
    if (word == "--silent") return m.silent = true, 1;
    if (word == "--answer-early") return m.answerEarly = true, 1;

    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (word == "--company") {
        if (value == nullptr || *value == '\0') return -1;
        options.company = value;
        return 2;
    }
    struct NumberSwitch {
        std::string_view name;
        RTS_UI32* target;
        bool* flag;
    };
    const NumberSwitch numbers[] = {
        {"--poll-us", &options.pollUs, nullptr},       {"--idle-ms", &options.idleMs, nullptr},
        {"--result", &m.forcedResult, &m.forceResult}, {"--state", &m.forcedState, &m.forceState},
        {"--handshake", &m.answeredMark, nullptr},     {"--die-at", &m.dieAtRequest, nullptr},
    };
    for (const NumberSwitch& s : numbers) {
        if (word != s.name) continue;
        if (!read_number(value, *s.target)) return -1;
        if (s.flag != nullptr) *s.flag = true;
        return 2;
    }
    return 0;
}

void answer(void* block, Backend& backend, const Options& options, RTS_UI32 requestNumber) {
    const Misbehaviour& m = options.misbehave;
    assert(m.answeredMark != kHandshakePending); /* serve refuses such options */
    if (m.dieAtRequest == requestNumber) std::_Exit(kDiedExitCode);

    const RTS_UI32 command = block_word(block, kCommandOffset).load(std::memory_order_relaxed);
    char name[kNameArea];
    std::memcpy(name, static_cast<const char*>(block) + kNameOffset, kNameArea);
    const bool terminated = std::memchr(name, '\0', kNameArea) != nullptr;
    Outcome outcome = terminated ? carry_out(backend, command, name) : Outcome{ERROR_INVALID_NAME, 0, false};
    outcome = apply_misbehaviour(outcome, command, m);

    if (m.answerEarly) {
        block_word(block, kHandshakeOffset).store(m.answeredMark, std::memory_order_release);
        peer_os::sleep_us(kEarlyAnswerGapUs);
        write_outcome(block, outcome);
    } else {
        write_outcome(block, outcome);
        block_word(block, kHandshakeOffset).store(m.answeredMark, std::memory_order_release);
    }
    if (options.verbose) {
        std::printf("request %u \"%.*s\" -> result %u state %u\n", static_cast<unsigned>(command),
                    terminated ? 64 : 0, name, static_cast<unsigned>(outcome.result),
                    static_cast<unsigned>(outcome.state));
        std::fflush(stdout);
    }
}

int serve(Backend& backend, const Options& options, const std::atomic<bool>& stop,
          void (*onReady)(void* context), void* context) {
    if (!options_valid(options)) {
        std::fprintf(stderr, "peer: the answered mark must not be 1, the poll and idle times not 0\n");
        return 1;
    }
    if (CMInit2(nullptr, StaticComponentList, 1) != RES_OK) {
        std::fprintf(stderr, "peer: the framework did not start\n");
        return 1;
    }
    const int exitCode = serve_block(backend, options, stop, onReady, context);
    CMExit();
    return exitCode;
}

} // namespace peer
