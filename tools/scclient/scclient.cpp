/* scclient: makes service-control requests through the program's own client,
 * SendServiceControlRequest, for the process-level tests, the load runs and the benchmark.
 *
 *   scclient [--company NAME] [--count N] [--expect-state S] COMMAND SERVICE
 *
 * COMMAND is start, stop, query or a raw command code. With --count 1 (the default) it prints
 * "result R state S ms T" (state 0 when none came back) and exits 0. With more requests or
 * --expect-state it prints "answers N ok K wrong W failed F", where ok counts answers with
 * result 0 (and the expected state when one is given), and exits 0 only when all were ok.
 * Exit code 2 for a bad command line. */
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

#include "arguments.h"
#include "cm.h"
#include "service_control.h"
#include "syssem.h"

namespace {

struct Arguments {
    std::string company = "Ombrelin";
    RTS_UI32 count = 1;
    bool expectState = false;
    RTS_UI32 expectedState = 0;
    RTS_UI32 command = 0;
    const char* service = nullptr;
};

bool read_command(const char* text, RTS_UI32& out) {
    constexpr struct {
        std::string_view word;
        RTS_UI32 command;
    } kWords[] = {
        {"start", service_control::kCommandStart},
        {"stop", service_control::kCommandStop},
        {"query", service_control::kCommandQuery},
    };
    for (const auto& w : kWords) {
        if (w.word == text) return out = w.command, true;
    }
    return read_number(text, out);
}

bool parse(int argc, char** argv, Arguments& args) {
    int i = 1;
    for (; i + 1 < argc && argv[i][0] == '-'; i += 2) {
        const std::string_view word = argv[i];
        if (word == "--company") {
            args.company = argv[i + 1];
        } else if (word == "--count") {
            if (!read_number(argv[i + 1], args.count) || args.count == 0) return false;
        } else if (word == "--expect-state") {
            if (!read_number(argv[i + 1], args.expectedState)) return false;
            args.expectState = true;
        } else {
            return false;
        }
    }
    if (argc - i != 2 || !read_command(argv[i], args.command)) return false;
    args.service = argv[i + 1];
    return true;
}

int run(const Arguments& args) {
    RTS_UI32 ok = 0, wrong = 0, failed = 0;
    for (RTS_UI32 n = 0; n < args.count; ++n) {
        RTS_UI32 state = 0;
        const auto begin = std::chrono::steady_clock::now();
        const RTS_RESULT result = SendServiceControlRequest(args.command, args.service, &state);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin);
        if (args.count == 1 && !args.expectState) {
            std::printf("result %u state %u ms %lld\n", static_cast<unsigned>(result),
                        static_cast<unsigned>(state), static_cast<long long>(ms.count()));
            return 0;
        }
        if (result != RES_OK)
            ++failed;
        else if (args.expectState && state != args.expectedState)
            ++wrong;
        else
            ++ok;
    }
    std::printf("answers %u ok %u wrong %u failed %u\n", static_cast<unsigned>(args.count),
                static_cast<unsigned>(ok), static_cast<unsigned>(wrong), static_cast<unsigned>(failed));
    return ok == args.count ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    Arguments args;
    if (!parse(argc, argv, args)) {
        std::fprintf(stderr, "usage: scclient [--company NAME] [--count N] [--expect-state S] "
                             "start|stop|query|CODE SERVICE\n");
        return 2;
    }
    if (CMInit2(nullptr, StaticComponentList, 1) != RES_OK) {
        std::fprintf(stderr, "scclient: the framework did not start\n");
        return 1;
    }
    RTS_HANDLE mutex = SysSemProcessCreate("ServiceControlMutex", nullptr);
    service_control::bind(args.company.c_str(), mutex);
    const int exitCode = run(args);
    service_control::bind(args.company.c_str(), RTS_INVALID_HANDLE);
    SysSemProcessDelete(mutex);
    CMExit();
    return exitCode;
}
