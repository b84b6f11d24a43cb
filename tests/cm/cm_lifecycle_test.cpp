// Start-up and shut-down: the hooks over a whole run, the unload order, the listing and banner,
// how each kind of list, configuration and failing component shapes the start-up result, and
// the steps that need optional services, supplied by test components: the nine events, the
// banner's target description, the target resolver, and the communication cycle and hook
// ranges on tasks of their own, where faulting components are caught and passed over.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "cm/cmchecks_internal.h"
#include "faults.h"
#include "test_components.h"

namespace {

using testcmp::kWholeRun;
using testcmp::On;
using testcmp::slot;
using Ids = std::vector<RTS_UI32>;
using Strings = std::vector<std::string>;

class CMLifecycle : public testcmp::Test {};

// Records the names released at shut-down, and "|" where CH_EXIT_GARBAGEMEMORY goes out.
RTS_RESULT record_releases(RTS_UI32 hook, RTS_UINTPTR p1, RTS_UINTPTR, RTS_UINTPTR user) {
    auto* out = reinterpret_cast<std::string*>(user);
    if (hook == CH_ON_IMPORT_RELEASE) *out += reinterpret_cast<const char*>(p1) + std::string(" ");
    if (hook == CH_EXIT_GARBAGEMEMORY) *out += "| ";
    return RES_OK;
}

TEST_F(CMLifecycle, WholeRunDeliversEveryHookListsAndUnloadsInGroups) {
    slot(0).id = 0x10B; // a kept id: unloaded with the manager, so it sees CH_EXIT_GARBAGEMEMORY
    CMSetHostLoader(testcmp::loader, nullptr);
    testcmp::set("ComponentManager", "Component.0", "TestCmp2"); // dynamic, from the settings
    std::string released;
    auto list = testcmp::list({0, 1}, true);
    ASSERT_EQ(CMInit4(nullptr, list.data(), CM_INIT_NO_CONFIG_REQUIRED | CM_INIT_STOP_BEFORE_INIT_END,
                      record_releases, reinterpret_cast<RTS_UINTPTR>(&released)),
              RES_OK);
    const Strings listing = testlog::lines(10);
    ASSERT_EQ(listing.size(), 18u);
    for (size_t i = 0; i < 16; ++i) EXPECT_EQ(listing[i].rfind(i < 13 ? "System: " : "<cmp>", 0), 0u) << i;
    EXPECT_EQ(listing[3], "System: <cmp>CmpSettings</cmp>, <id>0x0000001a</id> <ver>3.5.21.0</ver>");
    EXPECT_EQ(listing[17], "Dynamic: <cmp>TestCmp2</cmp>, <id>0x00007002</id> <ver>3.5.21.10</ver>");
    EXPECT_EQ(CMInitEnd(), RES_OK); // the caller finishes the start-up, once
    EXPECT_EQ(CMInitEnd(), RES_DUPLICATE);
    EXPECT_EQ(testlog::lines(4), (Strings{"KELVARO Control V3", "OS=---, CPU=---, Arch=64Bit, Coding=C"}));
    EXPECT_TRUE(testlog::lines(22).empty());                        // the manager's imports are optional
    ASSERT_NE(testcmp::add_record("Flagless"), RTS_INVALID_HANDLE); // neither static, dynamic nor system
    EXPECT_EQ(CMCallHook(CH_COMM_CYCLE, 0, nullptr, 0), RES_OK);
    EXPECT_EQ(CMExit(), RES_OK);
    EXPECT_EQ(testcmp::hooks_of(0), kWholeRun);
    EXPECT_EQ(testcmp::hooks_of(2), std::vector<RTS_UI32>(kWholeRun.begin(), kWholeRun.end() - 1));
    EXPECT_EQ(released,
              "TestCmp2 CmpChecksum CmpObjectMgr TestCmp1 CmpSettings SysFile SysExcept SysSem "
              "SysSemProcess SysShm SysTime SysTimeRtc Flagless | CM CmpMemPool CmpLog SysCpuHandling "
              "SysMem TestCmp0 ");
    EXPECT_EQ(CMGetNumOfComponents(), 0);
}

TEST_F(CMLifecycle, StartUpResultAndComponentsFollowListConfigurationAndAnswers) {
    const StaticComponent kEnd{nullptr, nullptr, 0}, kSlot0{"TestCmp0", testcmp::entry(0), 0};
    const std::vector<StaticComponent> kNoList, kSlot{kSlot0, kEnd},
        kEmbedded{{"CmpLogEmbedded", testcmp::entry(0), 0}, kEnd},
        kUnknown{{"Nowhere", nullptr, 0}, kSlot0, kEnd};
    using Setup = void (*)();
    const Setup failing_entry = [] { slot(0).entryResult = RES_NOMEMORY; };
    const Setup pending_pass = [] { testcmp::answer(0, CH_INIT_SYSTEM2, RES_PENDING); };
    const Setup pending_init = [] { testcmp::answer(0, CH_INIT, RES_PENDING); };
    const Setup failing_init3 = [] { testcmp::answer(0, CH_INIT3, RES_FAILED); };
    const Setup halt = [] {
        slot(0).onHook = [](RTS_UI32 hook, RTS_UINTPTR haltFlag, RTS_UINTPTR) {
            if (hook == CH_INIT) *reinterpret_cast<RTS_UI32*>(haltFlag) = 1;
            return RES_OK;
        };
    };
    const Setup failing_check = [] { // an atomic add that answers the new value
        cmchecks::set_atomic_add([](RTS_I32* value, RTS_I32 add, RTS_RESULT*) { return *value += add; });
    };
    const Setup settings_with_gaps = [] { // Component.0 and .2 missing: .1 is read, .3 is not
        testcmp::set("ComponentManager", "Component.1", "Nowhere");
        testcmp::set("ComponentManager", "Component.3", "TestCmp0");
        CMSetHostLoader(testcmp::loader, nullptr);
    };
    const char* kChecks = "RtsBasicChecks failed. Cannot start the runtime system";
    const char* kNoDefault = "Cannot find configuration <file>KELVAROControl</file>";
    const char* kNoOther = "Cannot find configuration <file>Other.cfg</file>";
    const char* kNotLoaded = "*** Error: Component <cmp>Nowhere</cmp> NOT loaded";
    const char* kSafeMode = "Switch to safe mode! Initiator: <cmp>CM</cmp>, <id>0x00000001</id>";
    struct Case {
        const char* label;
        const std::vector<StaticComponent>& list;
        const char* cfgFile;
        int noConfigRequired;
        Setup setup;
        RTS_RESULT result;
        int components, entryCalls;
        size_t initHooks, exitHooks; // how many TestCmp0 gets from the start-up and from CMExit
        RTS_UI32 infoId = 3;         // the start-up logs this line with this info id, or no such line
        const char* line = nullptr;
    };
    const RTS_RESULT OK = RES_OK;
    const Case cases[] = {
        {"null list", kNoList, nullptr, 1, nullptr, OK, 5, 0, 0, 0},
        {"embedded log", kEmbedded, nullptr, 1, nullptr, OK, 5, 1, 12, 8},
        {"unknown name without entry", kUnknown, nullptr, 1, nullptr, OK, 6, 1, 12, 8},
        {"failing entry", kSlot, nullptr, 1, failing_entry, RES_FAILED, 6, 1, 0, 0},
        {"pending start-up pass", kSlot, nullptr, 1, pending_pass, RES_PENDING, 6, 1, 12, 8},
        {"pending CH_INIT is no result", kSlot, nullptr, 1, pending_init, OK, 6, 1, 12, 8},
        {"halt flag at CH_INIT", kSlot, nullptr, 1, halt, OK, 6, 1, 3, 5},
        {"failing init hook", kSlot, nullptr, 1, failing_init3, OK, 6, 1, 13, 8, 69, kSafeMode},
        {"failing self check", kSlot, nullptr, 1, failing_check, RES_FAILED, 5, 0, 0, 0, 2, kChecks},
        {"no file, none found", kSlot, nullptr, 0, nullptr, RES_FAILED, 6, 1, 12, 8, 3, kNoDefault},
        {"the first failure is kept", kSlot, nullptr, 0, pending_pass, RES_FAILED, 6, 1, 12, 8, 3,
         kNoDefault},
        {"file not found", kSlot, "Other.cfg", 0, nullptr, RES_FAILED, 6, 1, 12, 8, 3, kNoOther},
        {"optional file not found", kSlot, "Other.cfg", 1, nullptr, OK, 6, 1, 12, 8},
        {"client file not found", kSlot, "GWClient.cfg", 0, nullptr, RES_NO_OBJECT, 6, 1, 12, 8},
        {"settings with gaps", kNoList, nullptr, 1, settings_with_gaps, OK, 5, 0, 0, 0, 12, kNotLoaded},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        testcmp::reset();
        if (c.setup != nullptr) c.setup();
        EXPECT_EQ(CMInit2(c.cfgFile, c.list.empty() ? nullptr : c.list.data(), c.noConfigRequired), c.result);
        cmchecks::set_atomic_add(nullptr);
        EXPECT_EQ(CMGetNumOfComponents(), c.components);
        EXPECT_EQ(slot(0).entryCalls, c.entryCalls);
        EXPECT_EQ(testcmp::hooks_of(0).size(), c.initHooks);
        EXPECT_EQ(testlog::lines(78).size(), c.infoId == 69 ? 1u : 0u); // only a failing hook: safe mode
        EXPECT_EQ(testlog::lines(c.infoId), c.line != nullptr ? Strings{c.line} : Strings{});
        CMExit();
        EXPECT_EQ(testcmp::hooks_of(0).size(), c.initHooks + c.exitHooks);
    }
}

TEST_F(CMLifecycle, FailedImportDisablesLogsEveryInitHookAndSwitchesSafeModeOnce) {
    // A system component imports right after its entry (three passes) and is disabled before any
    // hook; an ordinary one imports with the last pass, after CH_INIT_SYSTEM2.
    for (bool system : {true, false}) {
        testcmp::reset();
        slot(0) = {.id = 0x7000, .system = system, .importResult = RES_FAILED};
        testcmp::init({0});
        EXPECT_EQ(testcmp::hooks_of(0).size(), system ? 0u : 2u); // CH_INIT_SYSTEM and CH_INIT_SYSTEM2
        Strings failed;
        for (std::string hook : {"1", "8", "2", "3", "7", "4", "500", "5", "6"})
            if (system || (hook != "1" && hook != "8"))
                failed.push_back("Error: Component <cmp>TestCmp0</cmp> init (" + hook + ") failed");
        EXPECT_EQ(testlog::lines(78), failed);
        EXPECT_EQ(testlog::lines(22),
                  Strings(system ? 3 : 1, "Import function(s) failed of <name>TestCmp0</name>"));
        EXPECT_EQ(testlog::count_starting("[DISABLED] System: <cmp>TestCmp0</cmp>"), system ? 1 : 0);
        EXPECT_EQ(CMSetSafeMode(1, 5), RES_ALREADY);
        EXPECT_EQ(testlog::lines(69).size(), 1u);
        CMExit();
    }
}

TEST_F(CMLifecycle, OptionalServicesAnswerAndEventsGoOutAroundTheExitHooks) {
    testcmp::provide(0);
    ASSERT_EQ(testcmp::init({0, 1}), RES_OK);
    // The manager's nine events, then the logger's event (class 0x10001 of CmpLog) at CH_INIT2.
    EXPECT_EQ(testsvc::events.created,
              (Ids{0x00010001u, 0x00010002u, 0x00010003u, 0x00010004u, 0x00010005u, 0x00010006u, 0x00010007u,
                   0x00010008u, 0x00010009u, 0x00010001u}));
    EXPECT_EQ(testsvc::events.printed.rfind("\n  _/", 0), 0u); // the console banner
    EXPECT_EQ(testlog::lines(4), (Strings{"Test D\xe9vice", "OS=Linux, CPU=---, Arch=64Bit, Coding=C"}));
    EXPECT_EQ(CMDebugOut("%s=%d", "x", 7), RES_OK);
    EXPECT_EQ(testsvc::events.printed, "x=7");
    for (auto [answered, operation, result, disabled] :
         {std::tuple{false, 7u, RES_FAILED, 0u}, {true, 7u, RES_OK, 1u}, {true, 8u, RES_OK, 0u}}) {
        testsvc::events.disables = answered;
        RTS_UI32 out = 5;
        EXPECT_EQ(CMIsOperationDisabled(operation, 0, &out), result) << operation;
        EXPECT_EQ(out, disabled);
    }
    // The target resolver answers control-language lookups first; without that option the
    // ordinary search runs.
    constexpr int kControlLanguage = CM_IMPORT_CASE_INSENSITIVE | CM_IMPORT_OPTIONAL;
    RTS_VOID_FCTPTR f = nullptr;
    EXPECT_EQ((std::pair{CMGetAPI2("ResolvedByTarget", &f, kControlLanguage, 0, 0), f}),
              std::pair(RES_OK, testsvc::resolved()));
    EXPECT_EQ((std::pair{CMGetAPI2("RefusedButExported", &f, kControlLanguage, 0, 0), f}),
              std::pair(RES_NOTSUPPORTED, RTS_VOID_FCTPTR{nullptr}));
    EXPECT_EQ(CMGetAPI2("RefusedButExported", &f, CM_IMPORT_OPTIONAL, 0, 0), RES_OK);
    testsvc::events = {.moreCycles = 2};
    testcmp::clear_calls();
    CMExit();
    EXPECT_EQ(testsvc::events.deleted, 10);
    // The logger posts its event for the shutdown line, before the manager's events.
    EXPECT_EQ(testsvc::events.posted, (Ids{0x00010001u, 0x00010001u, 0x00010002u, 0x00010007u, 0x00010007u,
                                           0x00010007u, 0x00010003u, 0x00010004u, 0x00010005u}));
    const Ids hooks = testcmp::hooks_of(1);
    EXPECT_EQ(Ids(hooks.begin(), hooks.begin() + 3), (Ids{CH_COMM_CYCLE, CH_COMM_CYCLE, CH_EXIT_COMM}));
    testsvc::events.createResult = RES_NOMEMORY; // a failed event is a failed start-up
    EXPECT_EQ(testcmp::init({0, 1}), RES_NOMEMORY);
}

TEST_F(CMLifecycle, CommCycleRunsOnItsTaskBetweenSleepsAndStopsBeforeExitHooks) {
    testcmp::provide(0);
    for (auto [interval, slept] : {std::pair{"", 10u}, {"-5", 1u}, {"20000", 10000u}}) {
        SCOPED_TRACE(interval);
        testcmp::clear_calls();
        testsvc::reset();
        if (*interval != '\0') testcmp::set("CM", "CommCycleInterval", interval);
        ASSERT_EQ(testcmp::init({0, 1}, CM_INIT_NO_CONFIG_REQUIRED | CM_INIT_COMM_CYCLE_TASK), RES_OK);
        EXPECT_EQ(CMIsOptionSupported(CM_INIT_COMM_CYCLE_TASK), RES_OK);
        for (int ms = 0; testsvc::tasks.lastSleepMs == 0 && ms < 10000; ++ms)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        CMExit();
        EXPECT_EQ(testsvc::tasks.lastSleepMs, slept);
        const Ids onTask = testcmp::hooks_of(1, On::Task);
        EXPECT_EQ(onTask, Ids(std::max<size_t>(onTask.size(), 1), CH_COMM_CYCLE));
        const std::vector<testcmp::Call> calls = testcmp::calls();
        auto exit =
            std::find_if(calls.begin(), calls.end(), [](const auto& c) { return c.hook == CH_EXIT_COMM; });
        EXPECT_TRUE(std::none_of(exit, calls.end(), [](const auto& c) { return c.onTask; }));
    }
}

TEST_F(CMLifecycle, HookRangesRunOnTheHooksTaskAndOneThatTimesOutHoldsBackTheNext) {
    testcmp::provide(0);
    ASSERT_EQ(
        testcmp::init({0, 1}, CM_INIT_NO_CONFIG_REQUIRED | CM_INIT_HOOKS_ON_TASK | CM_INIT_EXIT_ON_TASK),
        RES_OK);
    std::atomic<bool> release{false};
    slot(1).onHook = [&release](RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
        while (hook == CH_INIT2 && !release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return RES_OK;
    };
    constexpr int kInit2Row = 5, kInit3Row = 7;
    testsvc::tasks.waitLimitMs = 20;
    EXPECT_EQ(CMInitSequence(kInit2Row, 1), RES_TIMEOUT);
    EXPECT_EQ(CMInitSequence(kInit3Row, 1), RES_BUSY); // nothing posted while CH_INIT2 runs
    release = true;
    testsvc::tasks.waitLimitMs = 0;
    EXPECT_EQ(CMInitSequence(kInit3Row, 1), RES_OK);
    CMExit();
    // Every range but the two start-up passes, the cycle and the last three exit hooks.
    Ids ranges(kWholeRun.begin() + 2, kWholeRun.begin() + 12);
    ranges.insert(ranges.end(), {CH_INIT2, CH_INIT3});
    ranges.insert(ranges.end(), kWholeRun.begin() + 13, kWholeRun.begin() + 19);
    EXPECT_EQ(testcmp::hooks_of(1, On::Task), ranges);
    EXPECT_EQ(testcmp::hooks_of(1, On::TestThread),
              (Ids{CH_INIT_SYSTEM, CH_INIT_SYSTEM2, CH_EXIT_SYSTEM2, CH_EXIT_SYSTEM}));
}

TEST_F(CMLifecycle, FaultsInHooksOnTheTasksAreLoggedWithinLimitsAndPassedOver) {
    testcmp::provide(0);
    // The cycles fault once the start-up is over: five times the first component, then once
    // the second.
    std::atomic<int> started{0}, cycles1{0}, cycles2{0};
    slot(1).onHook = [&](RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
        if (hook == CH_INIT3) testfault::read_null();
        if (hook == CH_COMM_CYCLE && started && ++cycles1 <= 5) testfault::divide_by_zero();
        return RES_OK;
    };
    slot(2).onHook = [&](RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
        if (hook == CH_COMM_CYCLE && cycles1 > 5 && ++cycles2 == 1) testfault::read_null();
        return RES_OK;
    };
    const RTS_UI32 flags =
        CM_INIT_NO_CONFIG_REQUIRED | CM_INIT_HOOKS_ON_TASK | CM_INIT_COMM_CYCLE_TASK | CM_INIT_EXIT_ON_TASK;
    ASSERT_EQ(CMInit3(nullptr, testcmp::list({0, 1, 2}, true).data(), flags), RES_OK);
    started = 1;
    for (int ms = 0; cycles2 < 2 && ms < 10000; ++ms)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Strings caught;
    for (const LogEntry& e : testlog::entries())
        if (e.ClassId == LOG_EXCEPTION && e.InfoId == 3)
            caught.push_back(std::to_string(e.CmpId & 0xF) + " " + std::to_string(e.ErrorId) + " " +
                             e.InfoText);
    EXPECT_EQ(caught, (Strings{"1 81 *HANDLED EXCPT* <excpt>AccessViolation</excpt> in CH_INIT3",
                               "1 258 *HANDLED EXCPT* <excpt>DivisionByZero</excpt> in CH_COMM_CYCLE",
                               "1 258 *HANDLED EXCPT* <excpt>DivisionByZero</excpt> in CH_COMM_CYCLE",
                               "1 258 More than 2 exceptions in CH_COMM_CYCLE: Stop logging",
                               "2 81 *HANDLED EXCPT* <excpt>AccessViolation</excpt> in CH_COMM_CYCLE"}));
    EXPECT_EQ(testlog::lines(78), Strings{"Error: Component <cmp>TestCmp1</cmp> init (4) failed"});
    CMExit();
    // Every range on the hooks task, the component after the faulting one included, and safe
    // mode after the failed CH_INIT3.
    Ids ranges(kWholeRun.begin() + 2, kWholeRun.begin() + 19);
    ranges.erase(ranges.begin() + 10); // the cycle
    ranges.insert(ranges.begin() + 6, CH_SAFEMODE);
    Ids onTask = testcmp::hooks_of(2, On::Task);
    std::erase(onTask, CH_COMM_CYCLE);
    EXPECT_EQ(onTask, ranges);
}

} // namespace
