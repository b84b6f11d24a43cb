/* Console mode: the command-line words that ask for the gateway service to be started or
 * stopped, and the run that sends the request and waits for the state to change. */
#ifndef CONSOLE_H
#define CONSOLE_H

#include <functional>
#include <span>
#include <string>

#include "rts_types.h"

namespace console {

constexpr RTS_UI32 kDefaultTimeoutS = 15;
constexpr RTS_UI32 kMaxTimeoutS = 120;
/* Size of the name buffers: names are kept with at most 254 characters. */
constexpr RTS_SIZE kNameSize = 255;

enum class ParseOutcome { Run, Usage, InvalidParameter };

/* What the words ask for. firstName is the chosen name with its first "KELVARO" written
 * "KeLvAro" (the form the service used to be registered under); secondName is it as given. */
struct ConsoleRequest {
    ParseOutcome outcome = ParseOutcome::Usage;
    RTS_UI32 command = 0;
    RTS_UI32 timeoutSeconds = kDefaultTimeoutS;
    bool timeoutGiven = false;
    char firstName[kNameSize] = {};
    char secondName[kNameSize] = {};
};

/* Reads the words (word 0 is the program) into a request; configuredName stands in where the
 * words give no service name. No output; the outcome says which message the run prints. */
ConsoleRequest parse_console_words(std::span<const std::string> words, const char* configuredName);

/* What a console run needs from outside: the service-control request, a sleep, a 32-bit
 * millisecond tick that may wrap, and the sink of the texts (each complete with its line end). */
struct ConsolePort {
    std::function<RTS_RESULT(RTS_UI32 command, const char* serviceName, RTS_UI32* pState)> request;
    std::function<void(RTS_UI32 ms)> sleep_ms;
    std::function<RTS_UI32()> tick_ms;
    std::function<void(const char* text)> print;
};

/* Runs console mode over the words and returns the exit code: 0 the service is (or already
 * was) in the requested state, 1 it did not get there within the time-out, 2 wrong words. */
int run_console(std::span<const std::string> words, const char* configuredName, const ConsolePort& port);

} // namespace console

#endif
