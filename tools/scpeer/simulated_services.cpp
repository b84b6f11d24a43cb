/* The simulated service table: a start moves a stopped service to "start pending" and, once
 * the start delay has passed, to "running"; a stop does the same through "stop pending" to
 * "stopped". Pending states settle lazily when the service is next looked up, so the peer
 * needs no timer of its own. */
#include "simulated_services.h"

#include <cctype>

namespace {

constexpr RTS_UI32 kStopped = 1;
constexpr RTS_UI32 kStartPending = 2;
constexpr RTS_UI32 kStopPending = 3;
constexpr RTS_UI32 kRunning = 4;

bool same_ignoring_case(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

} // namespace

void SimulatedServices::add(const std::string& name, RTS_UI32 state) {
    services_.push_back(Service{name, state == kRunning ? kRunning : kStopped, Clock::now()});
}

SimulatedServices::Service* SimulatedServices::find(const char* name) {
    for (Service& s : services_) {
        if (exactCase_ ? s.name != name : !same_ignoring_case(s.name, name)) continue;
        if (Clock::now() >= s.settlesAt) {
            if (s.state == kStartPending) s.state = kRunning;
            if (s.state == kStopPending) s.state = kStopped;
        }
        return &s;
    }
    return nullptr;
}

RTS_UI32 SimulatedServices::start(const char* name) {
    Service* s = find(name);
    if (s == nullptr) return peer::kErrorNoSuchService;
    if (s->state == kStopPending) return peer::kErrorCannotAcceptControl;
    if (s->state != kStopped) return peer::kErrorAlreadyRunning;
    s->settlesAt = Clock::now() + timing_.startDelay;
    s->state = timing_.startDelay.count() > 0 ? kStartPending : kRunning;
    return 0;
}

RTS_UI32 SimulatedServices::stop(const char* name) {
    Service* s = find(name);
    if (s == nullptr) return peer::kErrorNoSuchService;
    if (s->state == kStopped) return peer::kErrorNotActive;
    if (s->state != kRunning) return peer::kErrorCannotAcceptControl;
    s->settlesAt = Clock::now() + timing_.stopDelay;
    s->state = timing_.stopDelay.count() > 0 ? kStopPending : kStopped;
    return 0;
}

RTS_UI32 SimulatedServices::query(const char* name, RTS_UI32* pState) {
    Service* s = find(name);
    if (s == nullptr) return peer::kErrorNoSuchService;
    *pState = s->state;
    return 0;
}
