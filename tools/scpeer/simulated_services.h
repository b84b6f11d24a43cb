/* The embedded service table of scpeer: simulated services that start and stop with
 * configurable delays and answer like the service control manager, error codes included. */
#ifndef SIMULATED_SERVICES_H
#define SIMULATED_SERVICES_H

#include <chrono>
#include <string>
#include <vector>

#include "peer.h"

class SimulatedServices : public peer::Backend {
public:
    using Clock = std::chrono::steady_clock;

    struct Timing {
        std::chrono::milliseconds startDelay{0}; /* time a start stays pending */
        std::chrono::milliseconds stopDelay{0};  /* time a stop stays pending */
    };

    /* exactCase: a service is known only by the exact spelling it was added with; otherwise
     * names are compared without regard to case, as the service control manager does. */
    SimulatedServices(Timing timing, bool exactCase) : timing_(timing), exactCase_(exactCase) {}

    /* Adds a service in the state 1 (stopped) or 4 (running). */
    void add(const std::string& name, RTS_UI32 state);

    RTS_UI32 start(const char* name) override;
    RTS_UI32 stop(const char* name) override;
    RTS_UI32 query(const char* name, RTS_UI32* pState) override;

private:
    struct Service {
        std::string name;
        RTS_UI32 state;
        Clock::time_point settlesAt; /* end of a pending state */
    };
    /* The named service with a pending state that has run out already settled; null when
     * there is no such service. */
    Service* find(const char* name);

    Timing timing_;
    bool exactCase_;
    std::vector<Service> services_;
};

#endif
