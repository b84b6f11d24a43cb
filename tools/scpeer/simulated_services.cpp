/* The simulated service table: a start moves a stopped service to "start pending" and, once
 * the start delay has passed, to "running"; a stop does the same through "stop pending" to
 * "stopped". Pending states settle lazily when the service is next looked up, so the peer
 * needs no timer of its own. */
#include "simulated_services.h"

#include <cctype>

namespace {

constexpr RTS_UI32 kStopped = service_control::kStateStopped;
constexpr RTS_UI32 kStartPending = service_control::kStateStartPending;
constexpr RTS_UI32 kStopPending = service_control::kStateStopPending;
constexpr RTS_UI32 kRunning = service_control::kStateRunning;

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
    if (s == nullptr) return ERROR_SERVICE_DOES_NOT_EXIST;
    if (s->state == kStopPending) return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    if (s->state != kStopped) return ERROR_SERVICE_ALREADY_RUNNING;
    s->settlesAt = Clock::now() + timing_.startDelay;
    s->state = timing_.startDelay.count() > 0 ? kStartPending : kRunning;
    return 0;
}

RTS_UI32 SimulatedServices::stop(const char* name) {
    Service* s = find(name);
    if (s == nullptr) return ERROR_SERVICE_DOES_NOT_EXIST;
    if (s->state == kStopped) return ERROR_SERVICE_NOT_ACTIVE;
    if (s->state != kRunning) return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    s->settlesAt = Clock::now() + timing_.stopDelay;
    s->state = timing_.stopDelay.count() > 0 ? kStopPending : kStopped;
    return 0;
}

RTS_UI32 SimulatedServices::query(const char* name, RTS_UI32* pState) {
    Service* s = find(name);
    if (s == nullptr) return ERROR_SERVICE_DOES_NOT_EXIST;
    *pState = s->state;
    return 0;
}
