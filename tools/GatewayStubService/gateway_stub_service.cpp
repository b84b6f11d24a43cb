/* GatewayStubService.exe: a small real Windows service that stands in for the gateway in
 * tests and demos. It does no work; it only starts and stops, each after an optional delay
 * spent in the pending state, so clients see the same state changes as with the gateway.
 *
 *   GatewayStubService.exe --install [--name NAME] [--display TEXT]
 *                                    [--start-delay MS] [--stop-delay MS]
 *   GatewayStubService.exe --uninstall [--name NAME]
 *   GatewayStubService.exe --service [--name NAME] [--start-delay MS] [--stop-delay MS]
 *                                    (how the service control manager starts it)
 * The default name is "KELVARO Gateway V3", the default display name the name followed by
 * " Version 3.0 (stand-in)"; installed services start on demand. */
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "arguments.h"
#include "win_service.h"

namespace {

constexpr DWORD kStopPollMs = 20;
constexpr DWORD kHintMarginMs = 2000;
/* Display names must differ between services; the gateway's carries its version. */
constexpr char kDisplaySuffix[] = " Version 3.0 (stand-in)";

enum class Mode { None, Install, Uninstall, Service };

struct Settings {
    Mode mode = Mode::None;
    std::string name = "KELVARO Gateway V3";
    std::string display; /* empty: the name followed by kDisplaySuffix */
    std::uint32_t startDelayMs = 0;
    std::uint32_t stopDelayMs = 0;
};

void usage() {
    std::fprintf(stderr,
                 "usage: GatewayStubService.exe --install|--uninstall [--name NAME] [--display TEXT]\n"
                 "                              [--start-delay MS] [--stop-delay MS]\n");
}

bool parse(int argc, char** argv, Settings& s) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (word == "--install" || word == "--uninstall" || word == "--service") {
            s.mode = word == "--install"     ? Mode::Install
                     : word == "--uninstall" ? Mode::Uninstall
                                             : Mode::Service;
            continue;
        }
        bool ok = value != nullptr;
        if (word == "--name" && ok)
            s.name = value;
        else if (word == "--display" && ok)
            s.display = value;
        else if (word == "--start-delay")
            ok = read_number(value, s.startDelayMs);
        else if (word == "--stop-delay")
            ok = read_number(value, s.stopDelayMs);
        else
            ok = false;
        if (!ok) return false;
        ++i;
    }
    if (s.display.empty()) s.display = s.name + kDisplaySuffix;
    return s.mode != Mode::None;
}

int stub_body(win_service::Control& control, void* context) {
    const auto* s = static_cast<const Settings*>(context);
    control.report(SERVICE_START_PENDING, s->startDelayMs + kHintMarginMs);
    Sleep(s->startDelayMs);
    control.report(SERVICE_RUNNING);
    while (!control.stop.load()) Sleep(kStopPollMs);
    control.report(SERVICE_STOP_PENDING, s->stopDelayMs + kHintMarginMs);
    Sleep(s->stopDelayMs);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Settings s;
    if (!parse(argc, argv, s)) return usage(), 2;
    DWORD error = 0;
    switch (s.mode) {
        case Mode::Install: {
            const std::string arguments = "--service --name \"" + s.name + "\" --start-delay " +
                                          std::to_string(s.startDelayMs) + " --stop-delay " +
                                          std::to_string(s.stopDelayMs);
            error = win_service::install({s.name.c_str(), s.display.c_str(), arguments, false, false});
            break;
        }
        case Mode::Uninstall:
            error = win_service::uninstall(s.name.c_str());
            break;
        default:
            error = win_service::run_as_service(s.name.c_str(), stub_body, &s);
            break;
    }
    if (error != 0) std::fprintf(stderr, "GatewayStubService: failed, error %lu\n", error);
    return error == 0 ? 0 : 1;
}
