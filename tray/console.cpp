/* Console mode: parsing the command-line words and driving the service into the requested
 * state. The run only talks to the outside through a ConsolePort, so the same code serves the
 * program (real channel, clock and standard output) and the tests (a scripted service). */
#include "console.h"

#include <cassert>
#include <cstdarg>
#include <cstring>

#include "cmutils.h"
#include "service_control.h"

namespace console {

namespace {

using service_control::kCommandQuery;
using service_control::kCommandStart;
using service_control::kCommandStop;
using service_control::kStateRunning;
using service_control::kStateStopped;

constexpr const char* kUsageLines[] = {
    "Wrong command line parameters specified!\n",
    "Available commands (first parameter): \"start\" or \"stop\"\n",
    "The second parameter is optional and can be used to specify the service name.\n",
};
constexpr char kInvalidParameter[] = "Invalid command line parameter %s!\n";

/* Everything that differs between a start and a stop run. */
struct CommandTexts {
    RTS_UI32 command;
    RTS_UI32 targetState;
    const char* already;
    const char* trying;
    const char* done;
    const char* failed;
    RTS_UI32 finalSleepMs; /* keeps the last line readable in a console that closes with us */
};

constexpr CommandTexts kStartTexts = {
    kCommandStart,
    kStateRunning,
    "%s service is already started!\n",
    "Trying to start %s service ...\n",
    "%s service started!\n",
    "Failed to start the %s service within %ds!\n",
    4000,
};
constexpr CommandTexts kStopTexts = {
    kCommandStop,
    kStateStopped,
    "%s service is already stopped!\n",
    "Trying to stop %s service ...\n",
    "%s service stopped!\n",
    "Failed to stop the %s service within %ds!\n",
    2000,
};

constexpr char kStartWord[] = "start";
constexpr char kStopWord[] = "stop";
constexpr char kStartWithTimeout[] = "start:";
/* The number of "start:<n>" is read from this character on. */
constexpr RTS_SIZE kTimeoutNumberIndex = 6;
constexpr char kCurrentSpelling[] = "KELVARO";
constexpr char kOlderSpelling[] = "KeLvAro";
constexpr RTS_UI32 kLoopSleepMs = 200;

bool is_blank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

/* A time-out text read as a signed decimal number (leading blanks and a sign accepted, no
 * digits giving 0) and brought into range: 0 becomes 1, negative or above the maximum becomes
 * the maximum. Long digit runs saturate instead of overflowing. */
RTS_UI32 read_timeout(const char* text) {
    while (is_blank(*text)) ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    RTS_UI64 value = 0;
    for (; is_digit(*text); ++text) {
        value = value * 10 + static_cast<RTS_UI64>(*text - '0');
        if (value > kMaxTimeoutS) value = kMaxTimeoutS + 1;
    }
    if (value == 0) return 1;
    if (negative || value > kMaxTimeoutS) return kMaxTimeoutS;
    return static_cast<RTS_UI32>(value);
}

/* Copies the word (cut to the buffer) with A to Z in lower case; the bytes after the
 * terminator are left alone. */
void copy_lowered(const std::string& word, char (&out)[kNameSize]) {
    CMUtlSafeStrCpy(out, sizeof out, word.c_str());
    for (char* c = out; *c != '\0'; ++c) {
        if (*c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c - 'A' + 'a');
    }
}

/* Reads the command word; false when it is none of the accepted forms. */
bool read_command(const std::string& word, ConsoleRequest& request) {
    char lowered[kNameSize];
    copy_lowered(word, lowered);
    if (std::strcmp(lowered, kStartWord) == 0) {
        request.command = kCommandStart;
    } else if (std::strstr(lowered, kStartWithTimeout) != nullptr) {
        request.command = kCommandStart;
        request.timeoutSeconds = read_timeout(lowered + kTimeoutNumberIndex);
        request.timeoutGiven = true;
    } else if (std::strcmp(lowered, kStopWord) == 0) {
        request.command = kCommandStop;
    } else {
        return false;
    }
    return true;
}

const char* choose_service_name(std::span<const std::string> words, const ConsoleRequest& request,
                                const char* configuredName) {
    if (words.size() == 3 && !request.timeoutGiven) return words[2].c_str();
    if (words.size() == 4 && request.timeoutGiven) return words[3].c_str();
    return configuredName;
}

void set_names(ConsoleRequest& request, const char* name) {
    CMUtlSafeStrCpy(request.secondName, sizeof request.secondName, name);
    CMUtlSafeStrCpy(request.firstName, sizeof request.firstName, request.secondName);
    if (char* at = std::strstr(request.firstName, kCurrentSpelling)) {
        std::memcpy(at, kOlderSpelling, sizeof kOlderSpelling - 1);
    }
}

void print_formatted(const ConsolePort& port, const char* format, ...) {
    char text[kNameSize + 256];
    va_list args;
    va_start(args, format);
    CMUtlvsnprintf(text, sizeof text, format, &args);
    va_end(args);
    port.print(text);
}

/* The state of one console run: the names, the last state the service reported. */
class ServiceDriver {
public:
    ServiceDriver(const ConsoleRequest& request, const ConsolePort& port)
        : request_(request), port_(port),
          namesDiffer_(std::strcmp(request.firstName, request.secondName) != 0) {}

    /* Queries with the first name and, when that fails and the names differ, the second. */
    RTS_RESULT query_state() {
        RTS_RESULT result = query(request_.firstName);
        if (result != RES_OK && namesDiffer_) result = query(request_.secondName);
        return result;
    }

    /* One round of the wait loop: request, pause, query; the same with the second name when
     * the first one is not known to the service. */
    void send_round(RTS_UI32 command) {
        if (send_and_query(command, request_.firstName) != RES_OK && namesDiffer_) {
            send_and_query(command, request_.secondName);
        }
    }

    RTS_UI32 last_state() const { return lastState_; }

private:
    RTS_RESULT query(const char* name) {
        RTS_UI32 state = 0;
        RTS_RESULT result = port_.request(kCommandQuery, name, &state);
        if (result == RES_OK) lastState_ = state;
        return result;
    }

    RTS_RESULT send_and_query(RTS_UI32 command, const char* name) {
        port_.request(command, name, nullptr);
        port_.sleep_ms(kLoopSleepMs);
        return query(name);
    }

    const ConsoleRequest& request_;
    const ConsolePort& port_;
    const bool namesDiffer_;
    RTS_UI32 lastState_ = 0;
};

int drive_service(const ConsoleRequest& request, const ConsolePort& port) {
    assert(request.command == kCommandStart || request.command == kCommandStop);
    const CommandTexts& texts = request.command == kCommandStart ? kStartTexts : kStopTexts;
    const char* name = request.firstName;
    ServiceDriver driver(request, port);

    if (driver.query_state() == RES_OK && driver.last_state() == texts.targetState) {
        print_formatted(port, texts.already, name);
        return 0;
    }
    print_formatted(port, texts.trying, name);
    const RTS_UI32 startTick = port.tick_ms();
    const RTS_UI32 timeoutMs = request.timeoutSeconds * 1000u;
    for (;;) {
        driver.send_round(texts.command);
        if (driver.last_state() == texts.targetState) {
            print_formatted(port, texts.done, name);
            port.sleep_ms(texts.finalSleepMs);
            return 0;
        }
        if (static_cast<RTS_UI32>(port.tick_ms() - startTick) >= timeoutMs) {
            print_formatted(port, texts.failed, name, static_cast<int>(request.timeoutSeconds));
            return 1;
        }
    }
}

} // namespace

ConsoleRequest parse_console_words(std::span<const std::string> words, const char* configuredName) {
    ConsoleRequest request;
    if (words.size() < 2 || words.size() > 4) return request;
    if (!read_command(words[1], request)) {
        request.outcome = ParseOutcome::InvalidParameter;
        return request;
    }
    if (words.size() >= 3 && is_digit(words[2][0])) {
        request.timeoutSeconds = read_timeout(words[2].c_str());
        request.timeoutGiven = true;
    }
    set_names(request, choose_service_name(words, request, configuredName != nullptr ? configuredName : ""));
    request.outcome = ParseOutcome::Run;
    return request;
}

int run_console(std::span<const std::string> words, const char* configuredName, const ConsolePort& port) {
    const ConsoleRequest request = parse_console_words(words, configuredName);
    switch (request.outcome) {
        case ParseOutcome::Usage:
            for (const char* line : kUsageLines) port.print(line);
            return 2;
        case ParseOutcome::InvalidParameter:
            assert(words.size() >= 2);
            print_formatted(port, kInvalidParameter, words[1].c_str());
            return 2;
        case ParseOutcome::Run:
            break;
    }
    return drive_service(request, port);
}

} // namespace console
