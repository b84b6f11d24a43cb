/* ServiceControlPeer.exe: the privileged peer on Windows. It serves the service-control block
 * through the real service control manager, either in a console (until Ctrl+C) or as the
 * auto-start service "GatewayServiceControlPeer" running as LocalSystem.
 *
 *   ServiceControlPeer.exe [switches]               serve in this console
 *   ServiceControlPeer.exe --install [switches]     install the service (with these switches)
 *                                                   and start it
 *   ServiceControlPeer.exe --uninstall              stop and remove the service
 *   ServiceControlPeer.exe --service [switches]     how the service control manager starts it */
#include <cstdio>
#include <string>
#include <string_view>

#include "peer.h"
#include "peer_os.h"
#include "scm_backend.h"
#include "win_service.h"

namespace {

constexpr char kServiceName[] = "GatewayServiceControlPeer";
constexpr char kDisplayName[] = "Gateway Control service-control peer";

enum class Mode { Console, Install, Uninstall, Service };

void usage() {
    std::fprintf(stderr,
                 "usage: ServiceControlPeer.exe [--install | --uninstall] [switches]\n"
                 "Serves the service-control block through the service control manager, in this\n"
                 "console until Ctrl+C, or installed as the auto-start service %s.\n%s",
                 kServiceName, peer::kCommonSwitchHelp);
}

/* The switches as they are handed to the installed service, each word quoted. */
std::string quoted_switches(int argc, char** argv, int first) {
    std::string text = "--service";
    for (int i = first; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--install") continue;
        text += " \"";
        text += argv[i];
        text += '"';
    }
    return text;
}

/* The service thread: report running once the block is served, end on the stop request. */
int service_body(win_service::Control& control, void* context) {
    const auto* options = static_cast<const peer::Options*>(context);
    ScmBackend backend;
    return peer::serve(
        backend, *options, control.stop,
        [](void* c) { static_cast<win_service::Control*>(c)->report(SERVICE_RUNNING); }, &control);
}

} // namespace

int main(int argc, char** argv) {
    Mode mode = Mode::Console;
    peer::Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "--install") {
            mode = Mode::Install;
        } else if (word == "--uninstall") {
            mode = Mode::Uninstall;
        } else if (word == "--service") {
            mode = Mode::Service;
        } else if (word == "-h" || word == "--help") {
            return usage(), 0;
        } else if (const int taken = peer::parse_common_switch(argc, argv, i, options); taken > 0) {
            i += taken - 1;
        } else {
            return usage(), 2;
        }
    }

    switch (mode) {
        case Mode::Install: {
            const DWORD error = win_service::install(
                {kServiceName, kDisplayName, quoted_switches(argc, argv, 1), true, true});
            if (error != 0) std::fprintf(stderr, "ServiceControlPeer: install failed, error %lu\n", error);
            return error == 0 ? 0 : 1;
        }
        case Mode::Uninstall: {
            const DWORD error = win_service::uninstall(kServiceName);
            if (error != 0) std::fprintf(stderr, "ServiceControlPeer: uninstall failed, error %lu\n", error);
            return error == 0 ? 0 : 1;
        }
        case Mode::Service:
            return win_service::run_as_service(kServiceName, service_body, &options) == 0 ? 0 : 1;
        case Mode::Console:
            break;
    }
    static std::atomic<bool> stop{false};
    peer_os::stop_on_signals(&stop);
    ScmBackend backend;
    return peer::serve(backend, options, stop);
}
