/* Console mode: the parsing of the command-line words, and whole runs against a scripted
 * service whose clock only moves when the run sleeps. */
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "console.h"
#include "service_control.h"

namespace {

using Words = std::vector<std::string>;
constexpr char kConfigured[] = "KELVARO Gateway V3";
constexpr char kMixed[] = "KeLvAro Gateway V3";

TEST(ConsoleParse, ReadsCommandTimeoutAndServiceName) {
    using console::ParseOutcome;
    struct Case {
        Words words;
        ParseOutcome outcome;
        RTS_UI32 command;
        RTS_UI32 timeout;
        bool timeoutGiven;
        std::string firstName;
        std::string secondName;
    };
    const std::string longName(300, 'L');
    const Case cases[] = {
        {{"gc", "START"}, ParseOutcome::Run, 1, 15, false, kMixed, kConfigured},
        {{"gc", "Start"}, ParseOutcome::Run, 1, 15, false, kMixed, kConfigured},
        {{"gc", "sToP"}, ParseOutcome::Run, 2, 15, false, kMixed, kConfigured},
        {{"gc", "stop:5"}, ParseOutcome::InvalidParameter},
        {{"gc", "restart"}, ParseOutcome::InvalidParameter},
        {{"gc", "start:0"}, ParseOutcome::Run, 1, 1, true, kMixed, kConfigured},
        {{"gc", "start:500"}, ParseOutcome::Run, 1, 120, true, kMixed, kConfigured},
        {{"gc", "start:-5"}, ParseOutcome::Run, 1, 120, true, kMixed, kConfigured},
        {{"gc", "start:abc"}, ParseOutcome::Run, 1, 1, true, kMixed, kConfigured},
        {{"gc", "START: +45x"}, ParseOutcome::Run, 1, 45, true, kMixed, kConfigured},
        {{"gc", "start:99999999999999999999999"}, ParseOutcome::Run, 1, 120, true, kMixed, kConfigured},
        {{"gc", "start:120"}, ParseOutcome::Run, 1, 120, true, kMixed, kConfigured},
        {{"gc", "start:121"}, ParseOutcome::Run, 1, 120, true, kMixed, kConfigured},
        /* the number is read right after a leading "start:", wherever "start:" really is */
        {{"gc", "restart:5"}, ParseOutcome::Run, 1, 1, true, kMixed, kConfigured},
        {{"gc", "start", "0", "X"}, ParseOutcome::Run, 1, 1, true, "X", "X"},
        {{"gc", "start", "30"}, ParseOutcome::Run, 1, 30, true, kMixed, kConfigured},
        {{"gc", "stop", "500", "X"}, ParseOutcome::Run, 2, 120, true, "X", "X"},
        {{"gc", "start", "X", "Y"}, ParseOutcome::Run, 1, 15, false, kMixed, kConfigured},
        {{"gc", "start", "MySvc"}, ParseOutcome::Run, 1, 15, false, "MySvc", "MySvc"},
        {{"gc", "start:30", "MySvc"}, ParseOutcome::Run, 1, 30, true, kMixed, kConfigured},
        {{"gc", "start:30", "MySvc", "Other"}, ParseOutcome::Run, 1, 30, true, "Other", "Other"},
        {{"gc", "start:30", "7", "Other"}, ParseOutcome::Run, 1, 7, true, "Other", "Other"},
        {{"gc", "stop", ""}, ParseOutcome::Run, 2, 15, false, "", ""},
        {{"gc", "stop", "xKELVAROyKELVARO"},
         ParseOutcome::Run,
         2,
         15,
         false,
         "xKeLvAroyKELVARO",
         "xKELVAROyKELVARO"},
        {{"gc", "stop", "kelvaro gw"}, ParseOutcome::Run, 2, 15, false, "kelvaro gw", "kelvaro gw"},
        {{"gc", "stop", longName},
         ParseOutcome::Run,
         2,
         15,
         false,
         longName.substr(0, 254),
         longName.substr(0, 254)},
        {{"gc", "start", "1", "2", "3"}, ParseOutcome::Usage},
        {{"gc"}, ParseOutcome::Usage},
        {{}, ParseOutcome::Usage},
    };
    for (const Case& c : cases) {
        std::string trace;
        for (const std::string& w : c.words) trace += "[" + w.substr(0, 20) + "]";
        SCOPED_TRACE(trace);
        const console::ConsoleRequest r = console::parse_console_words(c.words, kConfigured);
        ASSERT_EQ(r.outcome, c.outcome);
        if (c.outcome != ParseOutcome::Run) continue;
        EXPECT_EQ(r.command, c.command);
        EXPECT_EQ(r.timeoutSeconds, c.timeout);
        EXPECT_EQ(r.timeoutGiven, c.timeoutGiven);
        EXPECT_EQ(r.firstName, c.firstName);
        EXPECT_EQ(r.secondName, c.secondName);
    }
}

/* A service that answers only to some names and changes its state a number of queries after
 * it was asked to. Every call goes into a transcript. */
struct ScriptedService {
    std::set<std::string> knownNames{kMixed};
    RTS_UI32 state = service_control::kStateStopped;
    int queriesUntilChange = 1; /* after a request; negative: never changes */
    RTS_UI32 tick = 0;

    RTS_UI32 pendingState = 0;
    int queriesSinceRequest = 0;
    std::vector<std::string> transcript;
    std::string output;

    RTS_RESULT request(RTS_UI32 command, const char* name, RTS_UI32* pState) {
        transcript.push_back(std::to_string(command) + ":" + name);
        if (knownNames.count(name) == 0) return 1060;
        if (command == service_control::kCommandQuery) {
            if (pendingState != 0 && queriesUntilChange >= 0 && ++queriesSinceRequest >= queriesUntilChange) {
                state = pendingState;
            }
            *pState = state;
        } else {
            pendingState = command == service_control::kCommandStart ? service_control::kStateRunning : service_control::kStateStopped;
        }
        return RES_OK;
    }

    console::ConsolePort port() {
        return console::ConsolePort{
            [this](RTS_UI32 c, const char* n, RTS_UI32* s) { return request(c, n, s); },
            [this](RTS_UI32 ms) {
                transcript.push_back("sleep " + std::to_string(ms));
                tick += ms;
            },
            [this] { return tick; },
            [this](const char* text) { output += text; },
        };
    }

    int run(const Words& words) { return console::run_console(words, kConfigured, port()); }
};

TEST(ConsoleRun, StartsServiceAfterSomeQueries) {
    ScriptedService svc;
    svc.queriesUntilChange = 3;
    EXPECT_EQ(svc.run({"gc", "start"}), 0);
    EXPECT_EQ(svc.output,
              "Trying to start KeLvAro Gateway V3 service ...\nKeLvAro Gateway V3 service started!\n");
    const std::vector<std::string> expected = {
        "3:KeLvAro Gateway V3", "1:KeLvAro Gateway V3", "sleep 200",
        "3:KeLvAro Gateway V3", "1:KeLvAro Gateway V3", "sleep 200",
        "3:KeLvAro Gateway V3", "1:KeLvAro Gateway V3", "sleep 200",
        "3:KeLvAro Gateway V3", "sleep 4000",
    };
    EXPECT_EQ(svc.transcript, expected);
}

TEST(ConsoleRun, TimesOutWhenServiceNeverStarts) {
    struct Case {
        Words words;
        RTS_UI32 startTick;
        int expectedStartRequests;
        const char* expectedLastLine;
    };
    const Case cases[] = {
        {{"gc", "start:1"}, 0, 5, "Failed to start the KeLvAro Gateway V3 service within 1s!\n"},
        /* the tick counter wraps during the run: the 32-bit difference still counts 1 s */
        {{"gc", "start:1"}, 0xFFFFFF00u, 5, "Failed to start the KeLvAro Gateway V3 service within 1s!\n"},
        {{"gc", "start", "2"}, 0, 10, "Failed to start the KeLvAro Gateway V3 service within 2s!\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words[1]);
        ScriptedService svc;
        svc.queriesUntilChange = -1;
        svc.tick = c.startTick;
        EXPECT_EQ(svc.run(c.words), 1);
        EXPECT_EQ(svc.output,
                  std::string("Trying to start KeLvAro Gateway V3 service ...\n") + c.expectedLastLine);
        EXPECT_EQ(std::count(svc.transcript.begin(), svc.transcript.end(), "1:KeLvAro Gateway V3"),
                  c.expectedStartRequests);
        EXPECT_EQ(svc.transcript.back(), "3:KeLvAro Gateway V3"); /* no final sleep on a time-out */
    }
}

TEST(ConsoleRun, FallsBackToNameAsGivenWhenMixedCaseIsUnknown) {
    ScriptedService svc;
    svc.knownNames = {kConfigured};
    svc.state = service_control::kStateRunning;
    EXPECT_EQ(svc.run({"gc", "stop"}), 0);
    EXPECT_EQ(svc.output,
              "Trying to stop KeLvAro Gateway V3 service ...\nKeLvAro Gateway V3 service stopped!\n");
    const std::vector<std::string> expected = {
        "3:KeLvAro Gateway V3",
        "3:KELVARO Gateway V3",
        "2:KeLvAro Gateway V3",
        "sleep 200",
        "3:KeLvAro Gateway V3",
        "2:KELVARO Gateway V3",
        "sleep 200",
        "3:KELVARO Gateway V3",
        "sleep 2000",
    };
    EXPECT_EQ(svc.transcript, expected);
}

TEST(ConsoleRun, AlreadyInRequestedStateSendsNoRequest) {
    struct Case {
        const char* command;
        RTS_UI32 state;
        const char* expectedOutput;
    };
    const Case cases[] = {
        {"start", service_control::kStateRunning, "KeLvAro Gateway V3 service is already started!\n"},
        {"stop", service_control::kStateStopped, "KeLvAro Gateway V3 service is already stopped!\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        ScriptedService svc;
        svc.state = c.state;
        EXPECT_EQ(svc.run({"gc", c.command}), 0);
        EXPECT_EQ(svc.output, c.expectedOutput);
        EXPECT_EQ(svc.transcript, std::vector<std::string>{"3:KeLvAro Gateway V3"});
    }
}

TEST(ConsoleRun, NameWithoutOldSpellingIsQueriedOncePerStep) {
    ScriptedService svc;
    svc.knownNames = {};
    EXPECT_EQ(svc.run({"gc", "start", "1", "Other"}), 1);
    EXPECT_EQ(svc.output,
              "Trying to start Other service ...\nFailed to start the Other service within 1s!\n");
    const std::vector<std::string> firstRound = {"3:Other", "1:Other", "sleep 200", "3:Other", "1:Other"};
    ASSERT_GE(svc.transcript.size(), firstRound.size());
    EXPECT_EQ(std::vector<std::string>(svc.transcript.begin(), svc.transcript.begin() + 5), firstRound);
}

TEST(ConsoleRun, FailedQueryKeepsLastState) {
    /* running at first, then the service stops answering: the stop never counts as done */
    ScriptedService svc;
    svc.state = service_control::kStateRunning;
    auto port = svc.port();
    int queries = 0;
    auto answering = port.request;
    port.request = [&](RTS_UI32 c, const char* n, RTS_UI32* s) -> RTS_RESULT {
        if (c == service_control::kCommandQuery && ++queries > 1) {
            *s = service_control::kStateStopped; /* a failed request's state must be ignored */
            return RES_FAILED;
        }
        return answering(c, n, s);
    };
    EXPECT_EQ(console::run_console(Words{"gc", "stop:1"}, kConfigured, port), 2);
    EXPECT_EQ(console::run_console(Words{"gc", "stop", "1"}, kConfigured, port), 1);
    EXPECT_EQ(svc.output,
              "Invalid command line parameter stop:1!\nTrying to stop KeLvAro Gateway V3 service ...\n"
              "Failed to stop the KeLvAro Gateway V3 service within 1s!\n");
}

TEST(ConsoleRun, WrongWordsPrintUsageOrInvalidParameter) {
    struct Case {
        Words words;
        const char* expectedOutput;
    };
    const char* usage = "Wrong command line parameters specified!\n"
                        "Available commands (first parameter): \"start\" or \"stop\"\n"
                        "The second parameter is optional and can be used to specify the service name.\n";
    const Case cases[] = {
        {{"gc", "a", "b", "c", "d"}, usage},
        {{"gc"}, usage},
        {{"gc", "Stop:5"}, "Invalid command line parameter Stop:5!\n"},
        {{"gc", "foo", "x"}, "Invalid command line parameter foo!\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expectedOutput);
        ScriptedService svc;
        EXPECT_EQ(svc.run(c.words), 2);
        EXPECT_EQ(svc.output, c.expectedOutput);
        EXPECT_TRUE(svc.transcript.empty());
    }
}

} // namespace
