/* Console mode: what the command-line words ask for, and the requests of whole runs against a
 * scripted service whose clock only moves when the run sleeps. The texts themselves are
 * checked against the real program by the process-level tests. */
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "console.h"
#include "service_control.h"

namespace {

using namespace service_control;
using Words = std::vector<std::string>;
constexpr char kConfigured[] = "KELVARO Gateway V3";
constexpr char kMixed[] = "KeLvAro Gateway V3";

TEST(ConsoleParse, ReadsCommandTimeoutAndServiceName) {
    using console::ParseOutcome;
    constexpr auto kRun = ParseOutcome::Run;
    struct Case {
        Words words;
        ParseOutcome outcome;
        RTS_UI32 command = 0;
        RTS_UI32 timeout = 0;
        bool timeoutGiven = false;
        std::string firstName = kMixed;
        std::string secondName = kConfigured;
    };
    const std::string longName(300, 'L'), cut(254, 'L');
    const Case cases[] = {
        {{"gc", "START"}, kRun, kCommandStart, 15},
        {{"gc", "sToP"}, kRun, kCommandStop, 15},
        {{"gc", "stop:5"}, ParseOutcome::InvalidParameter},
        {{"gc", "restart"}, ParseOutcome::InvalidParameter},
        {{"gc", "start:0"}, kRun, kCommandStart, 1, true},
        {{"gc", "start:500"}, kRun, kCommandStart, 120, true},
        {{"gc", "start:-5"}, kRun, kCommandStart, 120, true},
        {{"gc", "start:abc"}, kRun, kCommandStart, 1, true},
        {{"gc", "START: +45x"}, kRun, kCommandStart, 45, true},
        {{"gc", "start:99999999999999999999999"}, kRun, kCommandStart, 120, true},
        /* the number is read right after a leading "start:", wherever "start:" really is */
        {{"gc", "restart:5"}, kRun, kCommandStart, 1, true},
        {{"gc", "start", "0", "X"}, kRun, kCommandStart, 1, true, "X", "X"},
        {{"gc", "start", "30"}, kRun, kCommandStart, 30, true},
        {{"gc", "stop", "500", "X"}, kRun, kCommandStop, 120, true, "X", "X"},
        {{"gc", "start", "X", "Y"}, kRun, kCommandStart, 15},
        {{"gc", "start", "MySvc"}, kRun, kCommandStart, 15, false, "MySvc", "MySvc"},
        {{"gc", "start:30", "MySvc"}, kRun, kCommandStart, 30, true},
        {{"gc", "start:30", "MySvc", "Other"}, kRun, kCommandStart, 30, true, "Other", "Other"},
        {{"gc", "start:30", "7", "Other"}, kRun, kCommandStart, 7, true, "Other", "Other"},
        {{"gc", "stop", ""}, kRun, kCommandStop, 15, false, "", ""},
        {{"gc", "stop", "KELVAROKELVARO"}, kRun, kCommandStop, 15, false, "KeLvAroKELVARO", "KELVAROKELVARO"},
        {{"gc", "stop", "kelvaro gw"}, kRun, kCommandStop, 15, false, "kelvaro gw", "kelvaro gw"},
        {{"gc", "stop", longName}, kRun, kCommandStop, 15, false, cut, cut},
        {{"gc", "start", "1", "2", "3"}, ParseOutcome::Usage},
        {{"gc"}, ParseOutcome::Usage},
    };
    for (const Case& c : cases) {
        std::string trace;
        for (const std::string& w : c.words) trace += "[" + w.substr(0, 20) + "]";
        SCOPED_TRACE(trace);
        const console::ConsoleRequest r = console::parse_console_words(c.words, kConfigured);
        ASSERT_EQ(r.outcome, c.outcome);
        if (c.outcome != kRun) continue;
        EXPECT_EQ(r.command, c.command);
        EXPECT_EQ(r.timeoutSeconds, c.timeout);
        EXPECT_EQ(r.timeoutGiven, c.timeoutGiven);
        EXPECT_EQ(r.firstName, c.firstName);
        EXPECT_EQ(r.secondName, c.secondName);
    }
}

/* A service that knows some names and takes the requested state a number of queries after it
 * was asked to. The transcript is one word per event: "3:M" a request (command 3) for the mixed-
 * case name (M), the name as configured (C) or another name, "s200" a sleep of 200 ms, "p" a
 * printed line. */
struct ScriptedService {
    std::set<std::string> knownNames{kMixed};
    RTS_UI32 state = kStateStopped;
    int queriesUntilChange = 1; /* after a request; negative: never */
    int queriesAnswered = -1;   /* negative: all; later queries fail, reporting a wrong state */
    RTS_UI32 tick = 0;

    RTS_UI32 pendingState = 0;
    int queriesSinceRequest = 0;
    std::string transcript;

    void note(const std::string& event) { transcript += (transcript.empty() ? "" : " ") + event; }

    RTS_RESULT request(RTS_UI32 command, const std::string& name, RTS_UI32* pState) {
        note(std::to_string(command) + ":" + (name == kMixed ? "M" : name == kConfigured ? "C" : name));
        if (knownNames.count(name) == 0) return ERROR_SERVICE_DOES_NOT_EXIST;
        if (command != kCommandQuery) {
            pendingState = command == kCommandStart ? kStateRunning : kStateStopped;
            return RES_OK;
        }
        if (queriesAnswered == 0) {
            *pState = pendingState;
            return RES_FAILED;
        }
        if (queriesAnswered > 0) --queriesAnswered;
        if (pendingState != 0 && queriesUntilChange >= 0 && ++queriesSinceRequest >= queriesUntilChange)
            state = pendingState;
        *pState = state;
        return RES_OK;
    }

    int run(const Words& words) {
        const console::ConsolePort port{
            [this](RTS_UI32 c, const char* n, RTS_UI32* s) { return request(c, n, s); },
            [this](RTS_UI32 ms) {
                note("s" + std::to_string(ms));
                tick += ms;
            },
            [this] { return tick; },
            [this](const char*) { note("p"); },
        };
        return console::run_console(words, kConfigured, port);
    }
};

TEST(ConsoleRun, RequestsUntilTheStateIsReachedOrTheTimeoutHasPassed) {
    struct Case {
        Words words;
        ScriptedService service; /* names known, state, queries until the change, answered, tick */
        int exitCode;
        std::string transcript;
    };
    const std::string start = " 1:M s200 3:M", stop = " 2:M s200 3:M", stopBoth = stop + " 2:C s200 3:C";
    const Case cases[] = {
        {{"gc", "start"}, {{kMixed}, kStateStopped, 2}, 0, "3:M p" + start + start + " p s4000"},
        {{"gc", "start"}, {{kMixed}, kStateRunning}, 0, "3:M p"},
        {{"gc", "stop"}, {{kMixed}, kStateStopped}, 0, "3:M p"},
        /* only the name as configured is known */
        {{"gc", "stop"}, {{kConfigured}, kStateRunning}, 0, "3:M 3:C p 2:M s200 3:M 2:C s200 3:C p s2000"},
        /* a name without the old spelling is asked once per step */
        {{"gc", "stop", "Other"}, {{"Other"}, kStateRunning}, 0, "3:Other p 2:Other s200 3:Other p s2000"},
        {{"gc", "start:1"},
         {{kMixed}, kStateStopped, -1},
         1,
         "3:M p" + start + start + start + start + start + " p"},
        /* the tick counter wraps during the run: the 32-bit difference still counts 1 s */
        {{"gc", "start:1"},
         {{kMixed}, kStateStopped, -1, -1, 0xFFFFFF00u},
         1,
         "3:M p" + start + start + start + start + start + " p"},
        /* the failed queries report stopped, which must not count; each is followed by a
         * round with the name as configured */
        {{"gc", "stop", "1"},
         {{kMixed}, kStateRunning, -1, 1},
         1,
         "3:M p" + stopBoth + stopBoth + stopBoth + " p"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.transcript);
        ScriptedService service = c.service;
        EXPECT_EQ(service.run(c.words), c.exitCode);
        EXPECT_EQ(service.transcript, c.transcript);
    }
}

} // namespace
