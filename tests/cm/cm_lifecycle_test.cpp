// Start-up and shut-down: the hooks over a whole run, the unload order, the listing and banner,
// and how each kind of list, configuration and failing component shapes the start-up result.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cm/cmchecks_internal.h"
#include "test_components.h"

namespace {

using testcmp::slot;
using Strings = std::vector<std::string>;

class CMLifecycle : public testcmp::Test {};

const std::vector<RTS_UI32> kWholeRun = {CH_INIT_SYSTEM,  CH_INIT_SYSTEM2, CH_INIT, // CMInit3
                                         CH_POST_INIT,    CH_PRE_INIT2,    CH_INIT2,
                                         CH_PRE_INIT3,    CH_INIT3,        CH_INIT_SYSTEM_TASKS,
                                         CH_INIT_TASKS,   CH_INIT_COMM,    CH_INIT_FINISHED, // CMInitEnd
                                         CH_COMM_CYCLE, // the host's timer
                                         CH_EXIT_COMM,    CH_EXIT_TASKS,   CH_EXIT_SYSTEM_TASKS,
                                         CH_EXIT3,        CH_EXIT2,        CH_EXIT,
                                         CH_EXIT_SYSTEM2, CH_EXIT_SYSTEM,  CH_EXIT_GARBAGEMEMORY}; // CMExit

// Records the names released at shut-down, and "|" where CH_EXIT_GARBAGEMEMORY goes out.
RTS_RESULT record_releases(RTS_UI32 hook, RTS_UINTPTR p1, RTS_UINTPTR, RTS_UINTPTR user) {
    auto* out = reinterpret_cast<Strings*>(user);
    if (hook == CH_ON_IMPORT_RELEASE) out->emplace_back(reinterpret_cast<const char*>(p1));
    if (hook == CH_EXIT_GARBAGEMEMORY) out->emplace_back("|");
    return RES_OK;
}

TEST_F(CMLifecycle, WholeRunDeliversEveryHookInOrderAndUnloadsInGroups) {
    slot(0).id = 0x10B; // a kept id: unloaded with the manager, so it sees CH_EXIT_GARBAGEMEMORY
    CMSetHostLoader(testcmp::loader, nullptr);
    testcmp::set("ComponentManager", "Component.0", "TestCmp2"); // dynamic, from the settings
    Strings released;
    auto list = testcmp::list({0, 1}, true);
    ASSERT_EQ(CMInit4(nullptr, list.data(), 1, record_releases, reinterpret_cast<RTS_UINTPTR>(&released)),
              RES_OK);
    ComponentRecord flagless{.name = "Flagless", .state = CM_STATE_REGISTERED}; // neither static nor dynamic
    ASSERT_NE(CMAddComponent(&flagless, nullptr), RTS_INVALID_HANDLE);
    EXPECT_EQ(CMCallHook(CH_COMM_CYCLE, 0, nullptr, 0), RES_OK);
    EXPECT_EQ(CMExit(), RES_OK);
    EXPECT_EQ(testcmp::hooks_of(0), kWholeRun);
    EXPECT_EQ(testcmp::hooks_of(2), std::vector<RTS_UI32>(kWholeRun.begin(), kWholeRun.end() - 1));
    EXPECT_EQ(released, (Strings{"TestCmp2",   "CmpChecksum", "CmpObjectMgr",
                                 "TestCmp1",   "CmpSettings", "SysFile",
                                 "SysExcept",  "SysSem",      "SysSemProcess",
                                 "SysShm",     "SysTime",     "SysTimeRtc",
                                 "Flagless",   "|",           "CM",
                                 "CmpMemPool", "CmpLog",      "SysCpuHandling",
                                 "SysMem",     "TestCmp0"}));
    EXPECT_EQ(CMGetNumOfComponents(), 0);
}

TEST_F(CMLifecycle, LogHoldsListingInFourGroupsAndBanner) {
    CMSetHostLoader(testcmp::loader, nullptr);
    testcmp::set("ComponentManager", "Component.0", "TestCmp1");
    auto list = testcmp::list({0}, true);
    ASSERT_EQ(CMInit2(nullptr, list.data(), 1), RES_OK);
    Strings listing = testlog::lines(10);
    ASSERT_EQ(listing.size(), 17u);
    for (size_t i = 0; i < 14; ++i) EXPECT_EQ(listing[i].rfind(i < 13 ? "System: " : "<cmp>", 0), 0u) << i;
    EXPECT_EQ(listing[0], "System: <cmp>CM</cmp>, <id>0x00000001</id> <ver>3.5.21.10</ver>");
    EXPECT_EQ(listing[3], "System: <cmp>CmpSettings</cmp>, <id>0x0000001a</id> <ver>3.5.21.0</ver>");
    EXPECT_EQ(listing[15], "<cmp>TestCmp0</cmp>, <id>0x00007000</id> <ver>3.5.21.10</ver>");
    EXPECT_EQ(listing[16], "Dynamic: <cmp>TestCmp1</cmp>, <id>0x00007001</id> <ver>3.5.21.10</ver>");
    EXPECT_EQ(testlog::lines(0), Strings(2, std::string(73, '=')));
    EXPECT_EQ(testlog::lines(4), (Strings{"KELVARO Control V3", "OS=---, CPU=---, Arch=64Bit, Coding=C"}));
    EXPECT_EQ(testlog::lines(6), Strings{"<version>3.5.21.10</version> <builddate>May 20 2025</builddate>"});
    EXPECT_EQ(testlog::lines(34), Strings{"KELVARO Control ready"});
    EXPECT_TRUE(testlog::lines(22).empty()); // the manager's imports are optional
    CMExit();
    EXPECT_EQ(testlog::lines(35), Strings{"KELVARO Control shutdown..."});
    EXPECT_EQ(testlog::lines(36), Strings{"KELVARO Control shutdown done"});
}

RTS_I32 add_returning_old(RTS_I32* pValue, RTS_I32 nSum, RTS_RESULT* pResult) {
    *pResult = RES_OK;
    return (*pValue += nSum) - nSum;
}

TEST_F(CMLifecycle, StartUpResultAndComponentsFollowListConfigurationAndAnswers) {
    const StaticComponent kEnd{nullptr, nullptr, 0}, kSlot0{"TestCmp0", testcmp::entry(0), 0};
    const std::vector<StaticComponent> kNoList, kSlot{kSlot0, kEnd},
        kEmptyFirst{{"", testcmp::entry(0), 0}, kSlot0, kEnd},
        kEmbedded{{"CmpLogEmbedded", testcmp::entry(0), 0}, kEnd},
        kUnknown{{"Nowhere", nullptr, 0}, kSlot0, kEnd};
    using Setup = void (*)();
    const Setup failing_entry = [] { slot(0).entryResult = RES_NOMEMORY; };
    const Setup pending_init_system2 = [] {
        slot(0).onHook = [](RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
            return hook == CH_INIT_SYSTEM2 ? RES_PENDING : RES_OK;
        };
    };
    const Setup pending_init = [] {
        slot(0).onHook = [](RTS_UI32 hook, RTS_UINTPTR, RTS_UINTPTR) {
            return hook == CH_INIT ? RES_PENDING : RES_OK;
        };
    };
    const Setup failing_check = [] { cmchecks::set_atomic_add(add_returning_old); };
    const Setup settings_with_gaps = [] { // Component.0 and .2 missing: .1 is read, .3 is not
        testcmp::set("ComponentManager", "Component.1", "Nowhere");
        testcmp::set("ComponentManager", "Component.3", "TestCmp0");
        CMSetHostLoader(testcmp::loader, nullptr);
    };
    const char* kChecks = "RtsBasicChecks failed. Cannot start the runtime system";
    const char* kNoDefault = "Cannot find configuration <file>KELVAROControl</file>";
    const char* kNoOther = "Cannot find configuration <file>Other.cfg</file>";
    const char* kNotLoaded = "*** Error: Component <cmp>Nowhere</cmp> NOT loaded";
    struct Case {
        const char* label;
        const std::vector<StaticComponent>& list;
        const char* cfgFile;
        int noConfigRequired;
        Setup setup;
        RTS_RESULT result;
        int components, entryCalls;
        bool getsHooks;
        RTS_UI32 infoId = 3; // the start-up logs this line with this info id, or no such line
        const char* line = nullptr;
    };
    const Case cases[] = {
        {"null list", kNoList, nullptr, 1, nullptr, RES_OK, 5, 0, false},
        {"empty first name", kEmptyFirst, nullptr, 1, nullptr, RES_OK, 5, 0, false},
        {"embedded log", kEmbedded, nullptr, 1, nullptr, RES_OK, 5, 1, true},
        {"unknown name without entry", kUnknown, nullptr, 1, nullptr, RES_OK, 6, 1, true},
        {"failing entry", kSlot, nullptr, 1, failing_entry, RES_FAILED, 6, 1, false},
        {"pending start-up pass", kSlot, nullptr, 1, pending_init_system2, RES_PENDING, 6, 1, true},
        {"pending CH_INIT is no start-up result", kSlot, nullptr, 1, pending_init, RES_OK, 6, 1, true},
        {"failing self check", kSlot, nullptr, 1, failing_check, RES_FAILED, 5, 0, false, 2, kChecks},
        {"no file, none found", kSlot, nullptr, 0, nullptr, RES_FAILED, 6, 1, true, 3, kNoDefault},
        {"file not found", kSlot, "Other.cfg", 0, nullptr, RES_FAILED, 6, 1, true, 3, kNoOther},
        {"optional file not found", kSlot, "Other.cfg", 1, nullptr, RES_OK, 6, 1, true},
        {"client file not found", kSlot, "GWClient.cfg", 0, nullptr, RES_NO_OBJECT, 6, 1, true},
        {"settings with gaps", kNoList, nullptr, 1, settings_with_gaps, RES_OK, 5, 0, false, 12, kNotLoaded},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        testcmp::reset();
        if (c.setup != nullptr) c.setup();
        EXPECT_EQ(CMInit2(c.cfgFile, c.list.empty() ? nullptr : c.list.data(), c.noConfigRequired), c.result);
        cmchecks::set_atomic_add(nullptr);
        EXPECT_EQ(CMGetNumOfComponents(), c.components);
        EXPECT_EQ(slot(0).entryCalls, c.entryCalls);
        EXPECT_EQ(testcmp::hooks_of(0).empty(), !c.getsHooks);
        EXPECT_TRUE(testlog::lines(78).empty());
        EXPECT_EQ(testlog::lines(c.infoId), c.line != nullptr ? Strings{c.line} : Strings{});
        CMExit();
    }
}

TEST_F(CMLifecycle, FailedImportDisablesLogsEveryInitHookAndSwitchesSafeModeOnce) {
    // A system component imports right after its entry (three passes) and is disabled before any
    // hook; an ordinary one imports with the last pass, after CH_INIT_SYSTEM2.
    for (bool system : {true, false}) {
        testcmp::reset();
        slot(0) = {.id = 0x7000, .system = system, .hasImport = true, .importResult = RES_FAILED};
        auto list = testcmp::list({0});
        CMInit2(nullptr, list.data(), 1);
        EXPECT_EQ(testcmp::hooks_of(0),
                  system ? std::vector<RTS_UI32>{}
                         : std::vector<RTS_UI32>(kWholeRun.begin(), kWholeRun.begin() + 2));
        Strings failed;
        for (long hook : system ? std::vector<long>{1, 8, 2, 3, 7, 4, 500, 5, 6}
                                : std::vector<long>{2, 3, 7, 4, 500, 5, 6})
            failed.push_back("Error: Component <cmp>TestCmp0</cmp> init (" + std::to_string(hook) +
                             ") failed");
        EXPECT_EQ(testlog::lines(78), failed);
        EXPECT_EQ(testlog::lines(22),
                  Strings(system ? 3 : 1, "Import function(s) failed of <name>TestCmp0</name>"));
        EXPECT_EQ(testlog::lines(69),
                  Strings{"Switch to safe mode! Initiator: <cmp>CM</cmp>, <id>0x00000001</id>"});
        EXPECT_EQ(testlog::count_starting("[DISABLED] System: <cmp>TestCmp0</cmp>"), system ? 1 : 0);
        EXPECT_EQ(CMSetSafeMode(1, 5), RES_ALREADY);
        EXPECT_EQ(testlog::lines(69).size(), 1u);
        CMExit();
    }
}

TEST_F(CMLifecycle, HaltFlagDuringInitStopsBeforeRunningSystem) {
    slot(0).id = 0x10B;
    slot(0).onHook = [](RTS_UI32 hook, RTS_UINTPTR p1, RTS_UINTPTR) {
        if (hook == CH_INIT) *reinterpret_cast<RTS_UI32*>(p1) = 1;
        return RES_OK;
    };
    auto list = testcmp::list({0}, true);
    EXPECT_EQ(CMInit2(nullptr, list.data(), 1), RES_OK);
    for (int i = 0; i < CMGetNumOfComponents(); ++i)
        EXPECT_EQ(CMGetComponentByIndex(i)->state, CM_STATE_INITIALIZED);
    testcmp::calls().clear();
    CMExit();
    EXPECT_EQ(testcmp::hooks_of(0), std::vector<RTS_UI32>(kWholeRun.end() - 6, kWholeRun.end()));
}

TEST_F(CMLifecycle, InitEndRunsOnceWhenTheCallerFinishesTheStartUp) {
    start({0}, CM_INIT_NO_CONFIG_REQUIRED | CM_INIT_STOP_BEFORE_INIT_END);
    EXPECT_EQ(CMInitEnd(), RES_OK);
    EXPECT_EQ(testcmp::hooks_of(0), std::vector<RTS_UI32>(kWholeRun.begin() + 3, kWholeRun.begin() + 12));
    EXPECT_EQ(CMGetComponentByIndex(0)->state, CM_STATE_RUNNING);
    testcmp::calls().clear();
    EXPECT_EQ(CMInitEnd(), RES_DUPLICATE);
    EXPECT_TRUE(testcmp::calls().empty());
}

} // namespace
