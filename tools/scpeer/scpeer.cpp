/* scpeer: the service-control peer of the POSIX build. It serves the service-control block
 * for the gateway control clients from an embedded table of simulated services, so the whole
 * road of a request runs on a machine with nothing else installed. Command line in usage(). */
#include <atomic>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "arguments.h"
#include "peer.h"
#include "peer_os.h"
#include "simulated_services.h"

namespace {

constexpr char kDefaultService[] = "KELVARO Gateway V3";

void usage() {
    std::fprintf(stderr,
                 "usage: scpeer [switches] [SERVICE[=running|=stopped]]...\n"
                 "Serves the service-control block from simulated services (default: \"%s\",\n"
                 "stopped) until SIGINT or SIGTERM.\n"
                 "  --start-delay MS  time a start stays pending (default 0)\n"
                 "  --stop-delay MS   time a stop stays pending (default 0)\n"
                 "  --exact-case      know a service only by its exact spelling\n"
                 "%s",
                 kDefaultService, peer::kCommonSwitchHelp);
}

bool read_ms(const char* text, std::chrono::milliseconds& out) {
    RTS_UI32 ms = 0;
    if (!read_number(text, ms)) return false;
    out = std::chrono::milliseconds(ms);
    return true;
}

/* "NAME", "NAME=running" or "NAME=stopped"; false for another state word. */
bool add_service(SimulatedServices& services, const std::string& word) {
    const std::size_t eq = word.rfind('=');
    if (eq == std::string::npos) {
        services.add(word, service_control::kStateStopped);
        return true;
    }
    const std::string state = word.substr(eq + 1);
    if (eq == 0 || (state != "running" && state != "stopped")) return false;
    services.add(word.substr(0, eq),
                 state == "running" ? service_control::kStateRunning : service_control::kStateStopped);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    peer::Options options;
    SimulatedServices::Timing timing;
    bool exactCase = false;
    std::vector<std::string> names;
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (word == "--exact-case") {
            exactCase = true;
        } else if (word == "--start-delay" || word == "--stop-delay") {
            if (!read_ms(value, word == "--start-delay" ? timing.startDelay : timing.stopDelay)) {
                return usage(), 2;
            }
            ++i;
        } else if (word == "-h" || word == "--help") {
            return usage(), 0;
        } else if (const int taken = peer::parse_common_switch(argc, argv, i, options); taken != 0) {
            if (taken < 0) return usage(), 2;
            i += taken - 1;
        } else if (word.starts_with("-")) {
            return usage(), 2;
        } else {
            names.emplace_back(word);
        }
    }
    if (names.empty()) names.emplace_back(kDefaultService);

    SimulatedServices services(timing, exactCase);
    for (const std::string& name : names) {
        if (!add_service(services, name)) return usage(), 2;
    }
    static std::atomic<bool> stop{false};
    peer_os::stop_on_signals(&stop);
    return peer::serve(services, options, stop);
}
